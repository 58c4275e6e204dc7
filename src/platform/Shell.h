// Shell.h - running a command line through the system's shell (tests and tools).
//
// POSIX: /bin/sh -c; Windows: cmd /c, both through std::system. The result is the command's
// exit code (0..255), 128 + N when it ended by signal N (as shells report it), or -1 when no
// shell could be started.
#pragma once

#include <string>

namespace glimmerpane::platform {

int RunShellCommand(const std::string& commandLine);

// The same with the command's standard output discarded (its errors still show).
int RunShellCommandQuietly(const std::string& commandLine);

}  // namespace glimmerpane::platform
