// Shell.cpp (Windows side) - std::system returns cmd's exit code itself.
#include "platform/Shell.h"

#include <cstdlib>

namespace glimmerpane::platform {

int RunShellCommand(const std::string& commandLine) { return std::system(commandLine.c_str()); }

int RunShellCommandQuietly(const std::string& commandLine) { return RunShellCommand(commandLine + " >NUL"); }

}  // namespace glimmerpane::platform
