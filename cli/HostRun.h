// HostRun.h - the engine behind `glimmerpane demo` and `glimmerpane run`.
//
// A host run plays the module host and the suite around the module:
//  1. a temporary prefix (GLIMMERPANE_PREFIX) with the scenario's statistics in its registry,
//     or the user's own prefix as it is;
//  2. BusBroker from beside this program, through the platform loader, with one handle for
//     the simulated suite components and one for the tile viewer (and, with InitializeModuleV2,
//     one for the module);
//  3. the module, only through its four exports and its function table, every status checked;
//  4. the suite components answer the module's refresh requests from the scenario's initial
//     state, one at a time, each answer followed by its tile set, so the output is the same
//     on every run; then the scenario's steps (or lines typed on standard input);
//  5. stop, uninitialise and destroy the module, close the handles, unload the libraries,
//     write the HTML preview, remove a temporary prefix.
// Waiting is by count: every status message the module handles leads to exactly one tile set,
// so each send waits for one more payload, with a timeout, never a fixed sleep.
//
// Exit codes: 0 success; 1 the run failed (a module step refused, a library missing, a tile
// set that never came, an expectation not met, the preview not written); 130 interrupted;
// 141 standard output was closed by its reader (the run then ends as on an interrupt).
#pragma once

#include <cstdint>
#include <cstdio>
#include <istream>
#include <string>

#include "Scenario.h"

namespace glimmerpane::cli {

struct HostRunOptions {
    std::string language;          // "de-DE", "fr-FR", "en-US"; empty: the user's own
    bool printJson = false;        // raw payloads instead of readable tile sets
    bool moduleLoadsBus = false;   // InitializeModule instead of InitializeModuleV2
    std::string htmlPath;          // empty: a new <temp>/glimmerpane-<name>-XXXXXXXX.html
    std::string prefix;            // empty: a fresh temporary prefix
    bool keepPrefix = false;       // keep the temporary prefix at the end
    bool seedStatistics = false;   // seed the statistics into a prefix given with --prefix too
    std::string runName = "run";   // names the default preview file
    uint32_t timeoutMs = 5000;     // per awaited tile set or refresh request
    std::istream* interactiveInput = nullptr;  // non-null: read actions from here after the start
    std::wstring binFolder;        // where the libraries and images are; empty: beside this program
    // After the refresh answers, go on hosting (printing every tile set the module publishes,
    // whoever caused it) until SIGTERM or SIGINT, which then end the run with 0.
    bool serve = false;
};

int RunHost(const Scenario& scenario, const HostRunOptions& options);

// Parses the options shared by demo and run; removes the ones it knows from args.
// False with *error set for a bad value.
bool ParseCommonOptions(std::vector<std::string>* args, HostRunOptions* options, std::string* error);
extern const char* const kCommonOptionsHelp;

}  // namespace glimmerpane::cli
