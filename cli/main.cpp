// main.cpp - the glimmerpane command: dispatches to the registered subcommands.
#include <algorithm>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "Command.h"

namespace glimmerpane::cli {

namespace {
std::vector<Command>& Registry() {
    static std::vector<Command> commands;
    return commands;
}

void PrintUsage(FILE* out) {
    std::fputs("usage: glimmerpane <command> [options]\n\ncommands:\n", out);
    std::vector<Command> sorted = Registry();
    std::sort(sorted.begin(), sorted.end(),
              [](const Command& a, const Command& b) { return std::strcmp(a.name, b.name) < 0; });
    for (const Command& c : sorted) std::fprintf(out, "  %-10s %s\n", c.name, c.summary);
    std::fputs("\n'glimmerpane <command> --help' describes a command.\n", out);
}
}  // namespace

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

int main(int argc, char** argv) {
    using namespace glimmerpane::cli;
    if (argc < 2) {
        PrintUsage(stderr);
        return 2;
    }
    const std::string name = argv[1];
    if (name == "--help" || name == "-h" || name == "help") {
        PrintUsage(stdout);
        return 0;
    }
    for (const Command& command : Commands()) {
        if (name == command.name) return command.run(std::vector<std::string>(argv + 2, argv + argc));
    }
    std::fprintf(stderr, "glimmerpane: unknown command '%s'\n\n", name.c_str());
    PrintUsage(stderr);
    return 2;
}
