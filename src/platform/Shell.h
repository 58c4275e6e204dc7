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

// The same, keeping what the command wrote to standard output in *output (its errors still
// show; add "2>&1" to keep them too). POSIX popen, Windows _popen.
int RunShellCommandCapture(const std::string& commandLine, std::string* output);

// One argument quoted for that shell's command line: POSIX in single quotes (a quote inside
// becomes '\''); Windows in double quotes by the rules of CommandLineToArgvW (backslashes
// before a quote doubled, a quote inside escaped with a backslash).
std::string QuoteShellArgument(const std::string& argument);

}  // namespace glimmerpane::platform
