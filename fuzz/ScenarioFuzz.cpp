// ScenarioFuzz.cpp - libFuzzer target for the scenario files and interactive lines of
// `glimmerpane run`: any text parses or is refused with a line number, never more.
#include <cstdint>
#include <cstdlib>
#include <string>

#include "cli/Scenario.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string text(reinterpret_cast<const char*>(data), size);
    glimmerpane::cli::Scenario scenario;
    glimmerpane::cli::ScenarioError error;
    if (!glimmerpane::cli::ParseScenario(text, "fuzz.scn", &scenario, &error)) {
        // A refusal always says why.
        if (error.reason.empty() || error.describe().empty()) std::abort();
    }
    const size_t newline = text.find('\n');
    glimmerpane::cli::ScenarioAction action;
    std::string reason;
    glimmerpane::cli::ParseInteractiveLine(text.substr(0, newline), &action, &reason);
    return 0;
}
