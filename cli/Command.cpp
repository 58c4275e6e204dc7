// Command.cpp - the table of subcommands and the helpers every subcommand shares.
#include "Command.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

namespace glimmerpane::cli {

namespace {
std::vector<Command>& Registry() {
    static std::vector<Command> commands;
    return commands;
}
}  // namespace

void PrintUsage(FILE* out) {
    std::fputs("usage: glimmerpane <command> [options]\n\ncommands:\n", out);
    std::vector<Command> sorted = Registry();
    std::sort(sorted.begin(), sorted.end(),
              [](const Command& a, const Command& b) { return std::strcmp(a.name, b.name) < 0; });
    for (const Command& c : sorted) std::fprintf(out, "  %-10s %s\n", c.name, c.summary);
    std::fputs("\n'glimmerpane <command> --help' describes a command; --version prints the version.\n"
               "exit status: 0 success, 1 the work failed, 2 bad arguments or input files\n"
               "(each command's --help adds its own, such as 130 when interrupted)\n", out);
}

const char* VersionLine() { return "glimmerpane " GP_VERSION_STRING; }

bool RegisterCommand(const Command& command) {
    Registry().push_back(command);
    return true;
}

const std::vector<Command>& Commands() { return Registry(); }

int Fail(int exitCode, const std::string& message) {
    std::fprintf(stderr, "glimmerpane: %s\n", message.c_str());
    return exitCode;
}

bool WantsHelp(const std::vector<std::string>& args) {
    return std::any_of(args.begin(), args.end(), [](const std::string& a) { return a == "--help" || a == "-h"; });
}

}  // namespace glimmerpane::cli

