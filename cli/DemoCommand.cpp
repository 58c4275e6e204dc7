// DemoCommand.cpp - `glimmerpane demo` and `glimmerpane version`.
#include <cstdio>

#include "Command.h"
#include "ModuleHost.h"
#include "platform/DynamicLibrary.h"

namespace glimmerpane::cli {
namespace {

std::wstring ModulePath() {
    return platform::ExecutableFolder() + platform::LibraryFileName(L"Glimmerpane");
}

bool Check(const char* step, ModuleStatus status) {
    std::printf("  %-20s %s\n", step, DescribeStatus(status).c_str());
    return status == 0;
}

int RunDemo(const std::vector<std::string>& args) {
    if (WantsHelp(args)) {
        std::puts("usage: glimmerpane demo\n\n"
                  "Loads Glimmerpane beside this program through its C ABI and drives it through\n"
                  "its lifecycle, printing the status of every step.");
        return 0;
    }
    if (!args.empty()) return Fail(2, "demo: unexpected argument '" + args[0] + "'");
    ModuleHost host;
    if (!host.load(ModulePath())) return Fail(1, host.error());
    std::printf("Glimmerpane module %s (%u)\n", host.versionString(), host.versionNumber());
    const ModuleFunctionTable* table = host.table();
    ModuleHandle handle = nullptr;
    if (!Check("NewModule", table->NewModule(&handle, L"GlimmerpaneDemo"))) return 1;
    bool ok = Check("StartModule", table->StartModule(handle));
    ok = Check("StopModule", table->StopModule(handle)) && ok;
    ok = Check("UninitializeModule", table->UninitializeModule(handle)) && ok;
    ok = Check("DestroyModule", table->DestroyModule(handle)) && ok;
    return ok ? 0 : 1;
}

int RunVersion(const std::vector<std::string>& args) {
    if (WantsHelp(args)) {
        std::puts("usage: glimmerpane version\n\nPrints the version the module beside this program reports.");
        return 0;
    }
    ModuleHost host;
    if (!host.load(ModulePath())) return Fail(1, host.error());
    std::printf("%s (%u)\n", host.versionString(), host.versionNumber());
    return 0;
}

}  // namespace

GP_REGISTER_COMMAND(demo, "demo", "run the module end to end on the built-in scenario", RunDemo);
GP_REGISTER_COMMAND(version, "version", "print the module's version", RunVersion);

}  // namespace glimmerpane::cli
