// Scenario.h - the script of a host run: the suite's initial state and a day of changes.
//
// A scenario is plain text, one directive per line (docs/scenarios.md):
//
//   # comment                          blank lines and lines starting with # are skipped
//   title TEXT                         the name of the run (HTML page, summary)
//   initial NAME {JSON}                what the component of status NAME reports when the
//                                      module asks it to refresh (one of the eight names)
//   stats KEY=N [KEY=N ...]            writes N into the statistics key KEY ("VirusResolved",
//                                      "TotalItemScanned", ...); before the first step it
//                                      seeds the registry, inside a step it is a change
//   step TEXT                          starts a step of the timeline
//   send NAME [JSON]                   publishes status message NAME with that user data
//   expect TILE[,TILE...]              the step's last tile set must hold exactly these tiles
//
// Parsing never throws; a malformed line gives the file, the line number and the reason.
#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <vector>

namespace glimmerpane::cli {

// The eight status messages the module handles, and the refresh request answered by each.
struct StatusKind {
    const char* status;
    const char* refresh;
};
const std::vector<StatusKind>& StatusKinds();
bool IsStatusMessage(const std::string& name);

// The twelve statistics keys: short name ("VirusResolved") -> key path under
// HKEY_LOCAL_MACHINE. Each holds the DWORD value "SDSValue".
const std::map<std::string, std::wstring>& StatisticsKeys();

struct ScenarioAction {
    enum class Kind { Send, Stats } kind = Kind::Send;
    std::string name;                              // Send: the message name
    std::string userData;                          // Send: the JSON text (may be empty)
    std::map<std::string, uint32_t> stats;         // Stats: key short name -> value
    int line = 0;
};

struct ScenarioStep {
    std::string title;
    std::vector<ScenarioAction> actions;
    std::optional<std::vector<std::string>> expect;  // tile names of the step's last tile set
    int line = 0;
};

struct Scenario {
    std::string title = "Glimmerpane scenario";
    std::map<std::string, std::string> initial;      // status name -> user data
    std::map<std::string, uint32_t> seedStats;       // statistics before the module starts
    std::vector<ScenarioStep> steps;
};

struct ScenarioError {
    std::string file;
    int line = 0;
    std::string reason;
    std::string describe() const;                    // "FILE:LINE: reason"
};

// Parses text; sourceName names it in errors. False with *error set on the first bad line.
bool ParseScenario(const std::string& text, const std::string& sourceName, Scenario* scenario, ScenarioError* error);

// Reads and parses the file at path; false with *error set ("cannot open PATH", or
// FILE:LINE: reason).
bool LoadScenarioFile(const std::string& path, Scenario* scenario, std::string* error);

// Parses one line typed in interactive mode: "NAME [JSON]" (a send) or "stats KEY=N ...".
bool ParseInteractiveLine(const std::string& line, ScenarioAction* action, std::string* reason);

// The embedded default: a secure start and a scripted day.
const std::string& DefaultScenarioText();

// True when text is one well-formed JSON value (the module's own parser decides).
bool IsJsonText(const std::string& text);

}  // namespace glimmerpane::cli
