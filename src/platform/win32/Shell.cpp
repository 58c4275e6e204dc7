// Shell.cpp (Windows side) - std::system returns cmd's exit code itself.
#include "platform/Shell.h"

#include <cstdio>
#include <cstdlib>

namespace glimmerpane::platform {

// cmd /c drops the first and the last quote of a command line that starts with one, so the
// whole line goes in one more pair of quotes and each argument keeps its own.
int RunShellCommand(const std::string& commandLine) { return std::system(("\"" + commandLine + "\"").c_str()); }

int RunShellCommandCapture(const std::string& commandLine, std::string* output) {
    FILE* pipe = _popen(("\"" + commandLine + "\"").c_str(), "r");  // text mode: the child's CR LF become LF
    if (pipe == nullptr) return -1;
    char buffer[4096];
    size_t n;
    while ((n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0)
        if (output) output->append(buffer, n);
    return _pclose(pipe);
}

int RunShellCommandQuietly(const std::string& commandLine) { return RunShellCommand(commandLine + " >NUL"); }

std::string QuoteShellArgument(const std::string& argument) {
    std::string quoted = "\"";
    size_t backslashes = 0;
    for (const char c : argument) {
        if (c == '\\') {
            ++backslashes;
            continue;
        }
        if (c == '"') backslashes = backslashes * 2 + 1;
        quoted.append(backslashes, '\\');
        backslashes = 0;
        quoted += c;
    }
    quoted.append(backslashes * 2, '\\');
    return quoted + "\"";
}

}  // namespace glimmerpane::platform
