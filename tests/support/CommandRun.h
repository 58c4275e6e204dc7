// CommandRun.h - runs a command line through the platform's shell for a test and keeps
// what it printed.
//
// Tests write their command lines the sh way (words split at spaces, '...' and "..." group a
// word, a backslash escapes the next character outside single quotes); ShellLine re-quotes
// each word for the platform's shell (platform/Shell.h), so the same line runs under cmd on
// Windows. Redirections stay with the caller: kNoInput, "2>&1" and "< file" mean the same in
// both shells.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace gptest {

struct CommandRun {
    int exitCode = -1;   // -1 when the command could not be started or did not exit
    std::string output;  // all it wrote to standard output
};

CommandRun RunCommand(const std::string& commandLine);

// The words of a line written the sh way (see above).
std::vector<std::string> ShellWords(std::string_view line);

// The program (a path in the build tree) and the words of `arguments`, each quoted for the
// platform's shell.
std::string ShellLine(const std::string& program, std::string_view arguments);

// Standard input from nowhere.
#ifdef _WIN32
inline constexpr const char* kNoInput = "<NUL";
#else
inline constexpr const char* kNoInput = "</dev/null";
#endif

}  // namespace gptest
