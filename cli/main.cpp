// main.cpp - the glimmerpane command.
#include <cstdio>
#include <cstring>
#include <string>

#include "ModuleHost.h"
#include "platform/DynamicLibrary.h"

namespace {

constexpr const char* kUsage =
    "usage: glimmerpane <command> [options]\n"
    "\n"
    "commands:\n"
    "  demo        load the module beside this program and drive its lifecycle\n"
    "  --version   print the module's version\n"
    "  --help      show this text\n";

int Fail(const std::string& message) {
    std::fprintf(stderr, "glimmerpane: %s\n", message.c_str());
    return 1;
}

bool Check(const char* step, ModuleStatus status) {
    std::printf("  %-20s %s\n", step, glimmerpane::cli::DescribeStatus(status).c_str());
    return status == 0;
}

int RunDemo() {
    glimmerpane::cli::ModuleHost host;
    const std::wstring path = glimmerpane::platform::ExecutableFolder() +
                              glimmerpane::platform::LibraryFileName(L"Glimmerpane");
    if (!host.load(path)) return Fail(host.error());
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

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2 || std::strcmp(argv[1], "--help") == 0 || std::strcmp(argv[1], "-h") == 0) {
        std::fputs(kUsage, argc < 2 ? stderr : stdout);
        return argc < 2 ? 2 : 0;
    }
    const std::string command = argv[1];
    if (command == "demo") return RunDemo();
    if (command == "--version") {
        glimmerpane::cli::ModuleHost host;
        if (!host.load(glimmerpane::platform::ExecutableFolder() +
                       glimmerpane::platform::LibraryFileName(L"Glimmerpane")))
            return Fail(host.error());
        std::printf("%s\n", host.versionString());
        return 0;
    }
    std::fprintf(stderr, "glimmerpane: unknown command '%s'\n\n%s", command.c_str(), kUsage);
    return 2;
}
