// CommandRun.h - runs a shell command line for a test and keeps what it printed.
//
// The command gets no standard input; add "2>&1" to keep its errors too. The shell is the
// platform's (platform/Shell.h).
#pragma once

#include <string>

namespace gptest {

struct CommandRun {
    int exitCode = -1;   // -1 when the command could not be started or did not exit
    std::string output;  // all it wrote to standard output
};

CommandRun RunCommand(const std::string& commandLine);

}  // namespace gptest
