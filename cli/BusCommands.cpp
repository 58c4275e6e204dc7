// BusCommands.cpp - `glimmerpane host` and `glimmerpane publish`: the module and the suite's
// components in different processes, on the bus GLIMMERPANE_BUS names (docs/bus.md).
#include <cstdio>

#include "BusLibrary.h"
#include "Command.h"
#include "HostRun.h"
#include "ModuleHost.h"
#include "Scenario.h"
#include "base/Utf.h"

namespace glimmerpane::cli {
namespace {

const char* const kBusHelp =
    "The bus is the one GLIMMERPANE_BUS names: 'session' for your session's D-Bus, or a D-Bus\n"
    "address (unix:path=/run/user/1000/bus). Unset, BusBroker delivers inside this process only.\n";

int RunHostCommand(const std::vector<std::string>& arguments) {
    if (WantsHelp(arguments)) {
        std::printf("usage: glimmerpane host [--scenario FILE] [options]\n\n"
                    "Hosts the module as a long-running service on the bus: the refresh requests of its\n"
                    "start are answered from the scenario's initial state (without --scenario they are\n"
                    "left unanswered; its steps are not played), then every tile set the module\n"
                    "publishes, whichever process caused it, is printed, until SIGTERM or Ctrl-C stop the\n"
                    "module cleanly. Status messages come from other processes (`glimmerpane publish`);\n"
                    "`glimmerpane watch` shows the tiles live.\n%s\n"
                    "options:\n"
                    "  --scenario FILE   the initial state and statistics (docs/scenarios.md)\n%s\n"
                    "exit status: 0 stopped by a signal, 1 the module could not be hosted, 2 bad arguments\n"
                    "or a malformed scenario\n",
                    kBusHelp, kCommonOptionsHelp);
        return 0;
    }
    std::vector<std::string> args = arguments;
    HostRunOptions options;
    options.runName = "host";
    options.serve = true;
    std::string error;
    if (!ParseCommonOptions(&args, &options, &error)) return Fail(2, "host: " + error);
    std::string scenarioPath;
    for (size_t i = 0; i < args.size(); ++i) {
        if (args[i] == "--scenario" && i + 1 < args.size() && !args[i + 1].empty() && scenarioPath.empty()) {
            scenarioPath = args[++i];
        } else {
            return Fail(2, "host: unexpected argument '" + args[i] + "' (see glimmerpane host --help)");
        }
    }
    Scenario scenario;
    scenario.title = "Hosted module";
    if (!scenarioPath.empty()) {
        if (!LoadScenarioFile(scenarioPath, &scenario, &error)) {
            return Fail(2, error.rfind("cannot ", 0) == 0 ? "host: " + error : error);
        }
        scenario.steps.clear();
    }
    WarnWithoutBus("host", "no other process sees this");
    return RunHost(scenario, options);
}

int RunPublishCommand(const std::vector<std::string>& args) {
    if (WantsHelp(args)) {
        std::printf("usage: glimmerpane publish NAME [JSON]\n\n"
                    "Publishes one status message, as a component of the suite would, and exits:\n"
                    "  glimmerpane publish Core.Firewall.State '{\"state\":\"off\"}'\n"
                    "The user data is sent as given (empty without JSON); sender \"glimmerpane\".\n%s\n"
                    "exit status: 0 published, 1 the bus refused it, 2 bad arguments\n",
                    kBusHelp);
        return 0;
    }
    if (args.empty() || args.size() > 2 || args[0].empty() || args[0][0] == '-')
        return Fail(2, "publish: give NAME and optionally JSON (see glimmerpane publish --help)");
    WarnWithoutBus("publish", "no other process sees this");
    BusLibrary bus;
    void* handle = nullptr;
    std::string error;
    if (!OpenCommandBus(bus, &handle, &error)) return Fail(1, "publish: " + error);
    const ModuleStatus status = bus.publish(handle, base::WideFromUtf8(args[0]), L"glimmerpane",
                                            base::WideFromUtf8(args.size() > 1 ? args[1] : std::string()));
    if (status != 0) return Fail(1, "publish: " + args[0] + " refused: " + DescribeStatus(status));
    return 0;
}

}  // namespace

GP_REGISTER_COMMAND(host, "host", "host the module on the bus until stopped (SIGTERM, Ctrl-C)", RunHostCommand);
GP_REGISTER_COMMAND(publish, "publish", "publish one status message on the bus", RunPublishCommand);

}  // namespace glimmerpane::cli
