// CommandRun.cpp - a shell command line and its output, for the tests of the command.
#include "support/CommandRun.h"

#include <filesystem>

#include "platform/Shell.h"

namespace gptest {

CommandRun RunCommand(const std::string& commandLine) {
    CommandRun run;
    run.exitCode = glimmerpane::platform::RunShellCommandCapture(commandLine, &run.output);
#ifdef _WIN32
    // Wine's cmd now and then fails to start a program that is there (exit 9009, "Can't
    // recognize ... as an internal or external command") while the suite runs two tests at a
    // time; seen once in about 600 launches, and the same test passed 5 of 5 times alone.
    // Exit 9009 means the program never started, so nothing happened that a retry repeats,
    // and a program that is really missing fails the retry the same way.
    if (run.exitCode == 9009) {
        run.output.clear();
        run.exitCode = glimmerpane::platform::RunShellCommandCapture(commandLine, &run.output);
    }
#endif
    return run;
}

std::vector<std::string> ShellWords(std::string_view line) {
    std::vector<std::string> words;
    std::string word;
    bool inWord = false;
    char quote = 0;  // ' or " while inside a quoted part
    for (size_t i = 0; i < line.size(); ++i) {
        const char c = line[i];
        if (quote == '\'') {
            if (c == '\'') quote = 0;
            else word += c;
        } else if (quote == '"') {
            // Inside double quotes sh keeps a backslash unless it escapes one of these.
            if (c == '\\' && i + 1 < line.size() && std::string_view("\"\\$`").find(line[i + 1]) != std::string_view::npos)
                word += line[++i];
            else if (c == '"') quote = 0;
            else word += c;
        } else if (c == ' ') {
            if (inWord) words.push_back(std::move(word));
            word.clear();
            inWord = false;
        } else {
            inWord = true;
            if (c == '\'' || c == '"') quote = c;
            else if (c == '\\' && i + 1 < line.size()) word += line[++i];
            else word += c;
        }
    }
    if (inWord) words.push_back(std::move(word));
    return words;
}

std::string ShellLine(const std::string& program, std::string_view arguments) {
    namespace platform = glimmerpane::platform;
    // cmd takes a path with forward slashes for a switch; the native form runs anywhere.
    std::string line = platform::QuoteShellArgument(std::filesystem::path(program).make_preferred().string());
    for (const std::string& word : ShellWords(arguments)) line += " " + platform::QuoteShellArgument(word);
    return line;
}

}  // namespace gptest
