// Command.h - the subcommands of the glimmerpane command.
//
// Each subcommand lives in its own file and registers itself with GP_REGISTER_COMMAND, so
// adding one touches no other file. Exit codes: 0 success, 1 the run failed, 2 bad
// arguments or bad input files.
#pragma once

#include <cstdio>
#include <string>
#include <vector>

namespace glimmerpane::cli {

struct Command {
    const char* name;
    const char* summary;                                  // one line for the overview
    int (*run)(const std::vector<std::string>& args);     // args after the command name
};

// Registers a command; returns true so it can initialise a static.
bool RegisterCommand(const Command& command);
const std::vector<Command>& Commands();

// Prints "glimmerpane: message" to stderr and returns the exit code.
int Fail(int exitCode, const std::string& message);

// The overview of all commands.
void PrintUsage(FILE* out);

// "glimmerpane 1.6.0", what --version prints.
const char* VersionLine();

// True when args hold --help or -h.
bool WantsHelp(const std::vector<std::string>& args);

}  // namespace glimmerpane::cli

#define GP_REGISTER_COMMAND(identifier, ...) \
    static const bool gpCommandRegistered_##identifier = ::glimmerpane::cli::RegisterCommand({__VA_ARGS__})
