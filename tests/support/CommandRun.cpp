// CommandRun.cpp - a shell command line and its output, for the tests of the command.
#include "support/CommandRun.h"

#include <sys/wait.h>

#include <cstdio>

namespace gptest {

CommandRun RunCommand(const std::string& commandLine) {
    CommandRun run;
    FILE* pipe = popen(commandLine.c_str(), "r");
    if (pipe == nullptr) return run;
    char buffer[4096];
    size_t n;
    while ((n = fread(buffer, 1, sizeof buffer, pipe)) > 0) run.output.append(buffer, n);
    const int status = pclose(pipe);
    run.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return run;
}

}  // namespace gptest
