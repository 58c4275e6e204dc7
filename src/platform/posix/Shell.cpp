// Shell.cpp (POSIX side) - std::system and the wait status decoded.
#include "platform/Shell.h"

#include <sys/wait.h>

#include <cstdio>
#include <cstdlib>

namespace glimmerpane::platform {

namespace {
int ExitCodeOf(int status) {
    if (status == -1) return -1;
    if (WIFEXITED(status)) return WEXITSTATUS(status);
    if (WIFSIGNALED(status)) return 128 + WTERMSIG(status);
    return -1;
}
}  // namespace

int RunShellCommand(const std::string& commandLine) { return ExitCodeOf(std::system(commandLine.c_str())); }

int RunShellCommandCapture(const std::string& commandLine, std::string* output) {
    FILE* pipe = ::popen(commandLine.c_str(), "r");
    if (pipe == nullptr) return -1;
    char buffer[4096];
    size_t n;
    while ((n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0)
        if (output) output->append(buffer, n);
    return ExitCodeOf(::pclose(pipe));
}

int RunShellCommandQuietly(const std::string& commandLine) { return RunShellCommand(commandLine + " >/dev/null"); }

std::string QuoteShellArgument(const std::string& argument) {
    std::string quoted = "'";
    for (const char c : argument) {
        if (c == '\'') quoted += "'\\''";
        else quoted += c;
    }
    return quoted + "'";
}

}  // namespace glimmerpane::platform
