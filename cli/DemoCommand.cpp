// DemoCommand.cpp - `glimmerpane demo` (the built-in day) and `glimmerpane version`.
#include <cstdio>

#include "Command.h"
#include "HostRun.h"
#include "ModuleHost.h"
#include "Scenario.h"
#include "platform/DynamicLibrary.h"

namespace glimmerpane::cli {
namespace {

int RunDemo(const std::vector<std::string>& arguments) {
    if (WantsHelp(arguments)) {
        std::printf("usage: glimmerpane demo [options]\n\n"
                    "Hosts the Glimmerpane module beside this program through its C ABI on the built-in\n"
                    "scenario: a temporary registry with the activity statistics, BusBroker for the bus,\n"
                    "simulated suite components that answer the module's refresh requests and then play\n"
                    "a day (secure; firewall off by the user; real-time scanning off and DAT files out\n"
                    "of date; recovery; a scan that raises the statistics). Every tile set the module\n"
                    "publishes is printed; an HTML preview of all of them is written at the end.\n\n"
                    "options:\n%s"
                    "  --print-scenario  print the built-in scenario (a template for `run --scenario`)\n\n"
                    "exit status: 0 success, 1 the run failed, 2 bad arguments, 130 interrupted\n",
                    kCommonOptionsHelp);
        return 0;
    }
    std::vector<std::string> args = arguments;
    HostRunOptions options;
    options.runName = "demo";
    std::string error;
    if (!ParseCommonOptions(&args, &options, &error)) return Fail(2, "demo: " + error);
    if (args.size() == 1 && args[0] == "--print-scenario") {
        std::fputs(DefaultScenarioText().c_str(), stdout);
        return 0;
    }
    if (!args.empty()) return Fail(2, "demo: unexpected argument '" + args[0] + "' (see glimmerpane demo --help)");
    Scenario scenario;
    ScenarioError parseError;
    if (!ParseScenario(DefaultScenarioText(), "(built-in scenario)", &scenario, &parseError))
        return Fail(1, parseError.describe());
    return RunHost(scenario, options);
}

int RunVersion(const std::vector<std::string>& args) {
    if (WantsHelp(args)) {
        std::puts("usage: glimmerpane version\n\nPrints the version the module beside this program reports.");
        return 0;
    }
    if (!args.empty()) return Fail(2, "version: unexpected argument '" + args[0] + "'");
    ModuleHost host;
    if (!host.load(platform::ExecutableFolder() + platform::LibraryFileName(L"Glimmerpane"))) return Fail(1, host.error());
    std::printf("%s (%u)\n", host.versionString(), host.versionNumber());
    return 0;
}

}  // namespace

GP_REGISTER_COMMAND(demo, "demo", "run the module end to end on the built-in scenario", RunDemo);
GP_REGISTER_COMMAND(version, "version", "print the module's version", RunVersion);

}  // namespace glimmerpane::cli
