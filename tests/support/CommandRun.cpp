// CommandRun.cpp - a shell command line and its output, for the tests of the command.
#include "support/CommandRun.h"

#include "platform/Shell.h"

namespace gptest {

CommandRun RunCommand(const std::string& commandLine) {
    CommandRun run;
    run.exitCode = glimmerpane::platform::RunShellCommandCapture(commandLine, &run.output);
    return run;
}

}  // namespace gptest
