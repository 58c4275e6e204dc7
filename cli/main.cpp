// main.cpp - the glimmerpane command: dispatches to the registered subcommands.
#include <cstdio>
#include <string>
#include <vector>

#include "Command.h"

int main(int argc, char** argv) {
    using namespace glimmerpane::cli;
    // The command writes no log of its own: it installs no logger builder, so its log sites
    // skip their records. Building a logger reads the registry, and the module this process
    // hosts keeps that LMDB store open, which must not happen twice in one process. The
    // module's own records are what `glimmerpane trace` shows.
    if (argc < 2) {
        PrintUsage(stderr);
        return 2;
    }
    const std::string name = argv[1];
    if (name == "--help" || name == "-h" || name == "help") {
        PrintUsage(stdout);
        return 0;
    }
    if (name == "--version") {
        std::puts(VersionLine());
        return 0;
    }
    for (const Command& command : Commands()) {
        if (name != command.name) continue;
        // `glimmerpane CMD --version` too; only right after the command, where it cannot be
        // the value of another option.
        if (argc == 3 && std::string(argv[2]) == "--version") {
            std::puts(VersionLine());
            return 0;
        }
        return command.run(std::vector<std::string>(argv + 2, argv + argc));
    }
    std::fprintf(stderr, "glimmerpane: unknown command '%s'\n\n", name.c_str());
    PrintUsage(stderr);
    return 2;
}
