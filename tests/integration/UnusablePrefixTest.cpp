// A module whose prefix cannot hold a registry must still come up at once and do its job.
//
// Building the logger reads its configuration from the registry; when the store could not be
// opened, the store's own failure record once re-entered the logger's first-use
// initialisation and NewModule never returned. Each case runs in a child process of its own
// (the logger is built once per process), which the test kills if it does not finish.
#include <gtest/gtest.h>

#include <glimmerpane/abi.h>

#include <dlfcn.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>

#include "support/FakeBus.h"
#include "support/TempRegistry.h"

namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

ModuleStatus NoManager(void*, void*, void*, void*) { return 0; }

// Exit codes of the child, so that the parent can say what went wrong.
enum ChildResult : int {
    kChildOk = 0,
    kChildLoadFailed = 10,
    kChildNewModuleFailed,
    kChildNewModuleSlow,
    kChildLifecycleFailed,
    kChildNoPayload,
};

// Runs in the child: the whole module life through the ABI, with the environment already set.
int HostOnce() {
    void* library = dlopen(GP_MODULE_PATH, RTLD_NOW | RTLD_LOCAL);
    if (library == nullptr) return kChildLoadFailed;
    auto create = reinterpret_cast<CreateObjectFn>(dlsym(library, "CreateObject"));
    const auto* table = static_cast<const ModuleFunctionTable*>(create(1006000));

    ModuleHandle handle = nullptr;
    const auto started = Clock::now();
    if (table->NewModule(&handle, L"UnusablePrefix") != 0) return kChildNewModuleFailed;
    if (Clock::now() - started > std::chrono::seconds(1)) return kChildNewModuleSlow;

    gptest::FakeBus bus;
    int context = 0;
    if (table->InitializeModuleV2(handle, L"Glimmerpane", L"", 0, nullptr, nullptr, &context, NoManager, bus.handle(),
                                  gptest::FakeBus::functions()) != 0 ||
        table->StartModule(handle) != 0) {
        return kChildLifecycleFailed;
    }
    // Without statistics every read fails; the payload must come all the same.
    const size_t before = bus.published().size();
    bus.deliver(L"Core.Protection.State", L"{\"state\":\"green\"}");
    const bool published = bus.waitForPublished(before + 1, std::chrono::seconds(5));
    if (table->StopModule(handle) != 0 || table->UninitializeModule(handle) != 0 ||
        table->DestroyModule(handle) != 0) {
        return kChildLifecycleFailed;
    }
    return published ? kChildOk : kChildNoPayload;
}

struct PrefixCase {
    const char* name;
    // Prepares the environment inside the child; returns false to skip the case.
    bool (*prepare)(const fs::path& scratch);
};

void PrintTo(const PrefixCase& c, std::ostream* out) { *out << c.name; }

bool PrefixIsARegularFile(const fs::path& scratch) {
    const fs::path file = scratch / "not-a-folder";
    std::ofstream(file) << "x";
    return setenv("GLIMMERPANE_PREFIX", file.c_str(), 1) == 0;
}

bool PrefixUnderProc(const fs::path&) { return setenv("GLIMMERPANE_PREFIX", "/proc/self/glimmerpane", 1) == 0; }

bool PrefixIsAnUnreadableFolder(const fs::path& scratch) {
    const fs::path folder = scratch / "locked";
    fs::create_directories(folder);
    chmod(folder.c_str(), 0);  // root reads it all the same; the module must come up either way
    return setenv("GLIMMERPANE_PREFIX", (folder / "prefix").c_str(), 1) == 0;
}

bool NoPrefixAndNoHome(const fs::path&) {
    // As root the prefix is /var/lib/glimmerpane whatever HOME says: nothing to try there.
    if (geteuid() == 0) return false;
    unsetenv("GLIMMERPANE_PREFIX");
    unsetenv("XDG_DATA_HOME");
    return setenv("HOME", "/nonexistent/home/of/nobody", 1) == 0;
}

class UnusablePrefix : public ::testing::TestWithParam<PrefixCase> {};

TEST_P(UnusablePrefix, NewModuleReturnsAtOnceAndTheModuleWorks) {
    gptest::TempFolder scratch;
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        if (!GetParam().prepare(scratch.path())) _exit(77);
        _exit(HostOnce());
    }

    int status = 0;
    const auto deadline = Clock::now() + std::chrono::seconds(20);
    pid_t done = 0;
    while ((done = waitpid(child, &status, WNOHANG)) == 0 && Clock::now() < deadline) {
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    if (done == 0) {
        kill(child, SIGKILL);
        waitpid(child, &status, 0);
        FAIL() << "the hosted module hung";
    }
    ASSERT_TRUE(WIFEXITED(status)) << "the child died by signal " << WTERMSIG(status);
    if (WEXITSTATUS(status) == 77) GTEST_SKIP() << "not applicable to this user";
    EXPECT_EQ(WEXITSTATUS(status), kChildOk)
        << "10 load, 11 NewModule failed, 12 NewModule took over a second, 13 lifecycle, 14 no payload";
}

INSTANTIATE_TEST_SUITE_P(Cases, UnusablePrefix,
                         ::testing::Values(PrefixCase{"RegularFile", PrefixIsARegularFile},
                                           PrefixCase{"FolderUnderProc", PrefixUnderProc},
                                           PrefixCase{"UnreadableFolder", PrefixIsAnUnreadableFolder},
                                           PrefixCase{"NoHome", NoPrefixAndNoHome}),
                         [](const ::testing::TestParamInfo<PrefixCase>& info) { return info.param.name; });

}  // namespace
