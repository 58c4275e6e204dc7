// RunCommand.cpp - `glimmerpane run`: the host run on a scenario file or on standard input.
#include <cstdio>
#include <fstream>
#include <iostream>
#include <sstream>

#include "Command.h"
#include "HostRun.h"
#include "Scenario.h"

namespace glimmerpane::cli {
namespace {

int RunScenario(const std::vector<std::string>& arguments) {
    if (WantsHelp(arguments)) {
        std::printf("usage: glimmerpane run --scenario FILE [options]\n"
                    "       glimmerpane run --interactive [--scenario FILE] [options]\n"
                    "       glimmerpane run - [options]\n\n"
                    "Hosts the module as `glimmerpane demo` does, on a scenario file (format: docs/scenarios.md;\n"
                    "`glimmerpane demo --print-scenario` prints an example), or interactively: after the\n"
                    "start, each line of standard input is published as a status message\n"
                    "  Core.Firewall.State {\"state\":\"off\",\"off_by_user\":true}\n"
                    "(a name the module does not handle is published as it is), or changes statistics\n"
                    "  stats TotalItemScanned=1200\n"
                    "until 'quit', the end of input or Ctrl-C. With --interactive, --scenario gives the\n"
                    "initial state and statistics; its steps are not played. Without it the built-in\n"
                    "initial state serves.\n\n"
                    "options:\n"
                    "  --scenario FILE   the scenario to play\n"
                    "  --interactive, -  read status messages from standard input\n%s\n"
                    "exit status: 0 success, 1 the run failed, 2 bad arguments or a malformed scenario,\n"
                    "130 interrupted\n",
                    kCommonOptionsHelp);
        return 0;
    }
    std::vector<std::string> args = arguments;
    HostRunOptions options;
    std::string error;
    if (!ParseCommonOptions(&args, &options, &error)) return Fail(2, "run: " + error);
    std::string scenarioPath;
    bool interactive = false;
    for (size_t i = 0; i < args.size(); ++i) {
        if (args[i] == "--interactive" || args[i] == "-") {
            interactive = true;
        } else if (args[i] == "--scenario") {
            if (i + 1 >= args.size() || args[i + 1].empty()) return Fail(2, "run: --scenario needs a file");
            if (!scenarioPath.empty()) return Fail(2, "run: only one --scenario");
            scenarioPath = args[++i];
        } else {
            return Fail(2, "run: unexpected argument '" + args[i] + "' (see glimmerpane run --help)");
        }
    }
    if (scenarioPath.empty() && !interactive) return Fail(2, "run: give --scenario FILE or --interactive");

    Scenario scenario;
    ScenarioError parseError;
    if (!scenarioPath.empty()) {
        if (!LoadScenarioFile(scenarioPath, &scenario, &error)) {
            return Fail(2, error.rfind("cannot ", 0) == 0 ? "run: " + error : error);
        }
        options.runName = "run";
    } else if (!ParseScenario(DefaultScenarioText(), "(built-in scenario)", &scenario, &parseError)) {
        return Fail(1, parseError.describe());
    }
    if (interactive) {
        scenario.steps.clear();
        scenario.title = "Interactive session";
        options.interactiveInput = &std::cin;
        options.runName = "interactive";
    }
    return RunHost(scenario, options);
}

}  // namespace

GP_REGISTER_COMMAND(run, "run", "host the module on a scenario file or on status messages typed in", RunScenario);

}  // namespace glimmerpane::cli
