// Shell.cpp (POSIX side) - std::system and the wait status decoded.
#include "platform/Shell.h"

#include <sys/wait.h>

#include <cstdlib>

namespace glimmerpane::platform {

int RunShellCommand(const std::string& commandLine) {
    const int status = std::system(commandLine.c_str());
    if (status == -1) return -1;
    if (WIFEXITED(status)) return WEXITSTATUS(status);
    if (WIFSIGNALED(status)) return 128 + WTERMSIG(status);
    return -1;
}

int RunShellCommandQuietly(const std::string& commandLine) { return RunShellCommand(commandLine + " >/dev/null"); }

}  // namespace glimmerpane::platform
