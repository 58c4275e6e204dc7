// ModuleTestHost.cpp - a minimal module host for the integration tests.
//
// The module finds the bus library beside the host executable, so tests that need the
// host in a folder of their own copy this program there with the libraries. It loads the
// module given as its argument, calls NewModule and InitializeModule, reports the status
// and whether a bus library is mapped into the process, then stops and destroys the module.
// Output lines: "initialize=0x%08X", "bus_mapped=0|1", "destroy=0x%08X". Exit 0 when the
// host itself worked (whatever the module answered), 2 on bad arguments, 3 when the module
// cannot be loaded.
#include <glimmerpane/abi.h>

#include <dlfcn.h>

#include <cstdio>
#include <fstream>
#include <string>

namespace {

bool BusLibraryMapped() {
    std::ifstream maps("/proc/self/maps");
    std::string line;
    while (std::getline(maps, line)) {
        if (line.size() >= 13 && line.compare(line.size() - 13, 13, "/BusBroker.so") == 0) return true;
    }
    return false;
}

ModuleStatus NoManager(void*, void*, void*, void*) { return 0; }

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s MODULE\n", argv[0]);
        return 2;
    }
    void* module = dlopen(argv[1], RTLD_NOW | RTLD_LOCAL);
    if (module == nullptr) {
        std::fprintf(stderr, "cannot load %s: %s\n", argv[1], dlerror());
        return 3;
    }
    auto createObject = reinterpret_cast<CreateObjectFn>(dlsym(module, "CreateObject"));
    const auto* table = createObject ? static_cast<const ModuleFunctionTable*>(createObject(1006000)) : nullptr;
    if (table == nullptr) return 3;
    ModuleHandle handle = nullptr;
    if (table->NewModule(&handle, L"ModuleTestHost") != 0) return 3;
    int context = 0;
    const ModuleStatus status =
        table->InitializeModule(handle, L"Glimmerpane", L"", 0, nullptr, nullptr, &context, NoManager);
    std::printf("initialize=0x%08X\nbus_mapped=%d\n", status, BusLibraryMapped() ? 1 : 0);
    if (status == 0) {
        table->StartModule(handle);
        table->StopModule(handle);
        table->UninitializeModule(handle);
    }
    std::printf("destroy=0x%08X\n", table->DestroyModule(handle));
    std::printf("bus_mapped_after=%d\n", BusLibraryMapped() ? 1 : 0);
    std::fflush(stdout);
    return 0;
}
