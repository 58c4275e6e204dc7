// InitializeModule end to end: the module loads the bus library beside the host itself.
//
// In process: this test executable lies beside the built BusBroker.so, so the module
// finds it there; the test opens its own handle on the same library (one broker per
// process) and watches the module's publishes. In a folder of its own: a small host and
// copies of the libraries, made untrusted, missing, blocked or replaced, show what the
// module refuses; a temporary prefix holds the registry.
#include <gtest/gtest.h>

#include <glimmerpane/abi.h>

#include <sys/wait.h>

#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <filesystem>
#include <functional>
#include <map>
#include <thread>
#include <mutex>
#include <string>
#include <vector>

#include "platform/Registry.h"
#include "support/TempRegistry.h"
#include "support/TestLibrary.h"
#include "utility/CObfuscatedRegKey.h"
#include "utility/CRegKey.h"
#include "base/Utf.h"

namespace {

using namespace std::chrono_literals;
namespace fs = std::filesystem;
namespace platform = glimmerpane::platform;
using fs::perms;

constexpr ModuleStatus kSuccess = 0;

ModuleStatus NoManager(void*, void*, void*, void*) { return 0; }

struct Mailbox {
    std::mutex mutex;
    std::condition_variable cv;
    std::vector<std::wstring> names;
    std::vector<std::wstring> senders;

    bool waitFor(size_t n) {
        std::unique_lock lock(mutex);
        return cv.wait_for(lock, 10s, [&] { return names.size() >= n; });
    }
    size_t count() {
        std::lock_guard lock(mutex);
        return names.size();
    }
};

uint32_t OnMessage(void* context, const MessageHeader*, const wchar_t* name, const wchar_t* sender, const wchar_t*) {
    auto* box = static_cast<Mailbox*>(context);
    std::lock_guard lock(box->mutex);
    box->names.emplace_back(name);
    box->senders.emplace_back(sender);
    box->cv.notify_all();
    return 0;
}

TEST(LibraryBus, InitializeModuleLoadsTheBusLibraryBesideTheHostAndWorksAsWithTheHostsBus) {
    gptest::TestLibrary module(GP_MODULE_PATH);
    ASSERT_TRUE(module.loaded()) << module.error();
    gptest::TestLibrary busLibrary(GP_BUS_PATH);
    ASSERT_TRUE(busLibrary.loaded()) << busLibrary.error();
    const auto* table = module.create<ModuleFunctionTable>();
    const auto* bus = busLibrary.create<MessageBusFunctions>();
    ASSERT_TRUE(table && bus);

    void* watcher = nullptr;
    ASSERT_EQ(bus->open(&watcher), kSuccess);
    Mailbox refreshes, tiles;
    ASSERT_NE(bus->subscribeFilter(watcher, &refreshes, OnMessage, L"Core\\..*Refresh.*"), 0u);
    ASSERT_NE(bus->subscribe(watcher, &tiles, OnMessage, L"messaging.message.processed"), 0u);

    ModuleHandle handle = nullptr;
    ASSERT_EQ(table->NewModule(&handle, L"IntegrationGroup"), kSuccess);
    int context = 0;
    ASSERT_EQ(table->InitializeModule(handle, L"Glimmerpane", L"", 0, nullptr, nullptr, &context, NoManager), kSuccess);
    ASSERT_EQ(table->StartModule(handle), kSuccess);
    ASSERT_TRUE(refreshes.waitFor(8)) << "the module asks every component to republish";

    MessageHeader header{};
    header.marker = 1;
    header.headerVersion = 2;
    ASSERT_EQ(bus->publish(watcher, &header, L"Core.Firewall.State", L"firewall", L"{\"State\":1}"), kSuccess);
    ASSERT_TRUE(tiles.waitFor(1)) << "a handled status message publishes the tiles";
    EXPECT_EQ(tiles.senders[0], L"GlimmerpaneImpl");

    EXPECT_EQ(table->StopModule(handle), kSuccess);
    EXPECT_EQ(table->UninitializeModule(handle), kSuccess);
    EXPECT_EQ(table->DestroyModule(handle), kSuccess);
    const size_t published = tiles.count();
    ASSERT_EQ(bus->publish(watcher, &header, L"Core.Firewall.State", L"firewall", L"{\"State\":0}"), kSuccess);
    std::this_thread::sleep_for(200ms);
    EXPECT_EQ(tiles.count(), published) << "a destroyed module no longer listens";

    EXPECT_EQ(bus->close(watcher), kSuccess);
}

// ---- the host in a folder of its own ----

struct HostRun {
    std::map<std::string, std::string> values;
    int exitCode = -1;
};

class HostFolder : public ::testing::Test {
public:
    void SetUp() override {
        folder = temp.path() / hostFolder;
        fs::create_directories(folder);
        for (fs::path part = folder; part != temp.path(); part = part.parent_path()) fs::permissions(part, kExecutable);
        fs::permissions(folder, kExecutable);
        for (const char* file : {GP_TEST_HOST_PATH, GP_MODULE_PATH, GP_BUS_PATH, GP_RESOURCES_PATH}) {
            const fs::path target = folder / fs::path(file).filename();
            fs::copy_file(file, target);
            fs::permissions(target, kExecutable);
        }
        prefix = temp.path() / "prefix";
        fs::create_directory(prefix);
    }

    HostRun run() {
        const std::string command = "GLIMMERPANE_PREFIX='" + prefix.string() + "' '" +
                                    (folder / fs::path(GP_TEST_HOST_PATH).filename()).string() + "' '" +
                                    (folder / fs::path(GP_MODULE_PATH).filename()).string() + "' 2>&1";
        HostRun result;
        FILE* pipe = popen(command.c_str(), "r");
        if (pipe == nullptr) return result;
        char line[512];
        while (std::fgets(line, sizeof line, pipe) != nullptr) {
            std::string text(line);
            while (!text.empty() && (text.back() == '\n' || text.back() == '\r')) text.pop_back();
            const size_t equals = text.find('=');
            if (equals != std::string::npos) result.values[text.substr(0, equals)] = text.substr(equals + 1);
        }
        const int status = pclose(pipe);
        result.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
        return result;
    }

    std::shared_ptr<platform::RegistryStore> registry() {
        return platform::OpenRegistryStore(glimmerpane::base::WideFromUtf8((prefix / "registry").string()));
    }
    fs::path bus() const { return folder / fs::path(GP_BUS_PATH).filename(); }

    static constexpr perms kExecutable = perms::owner_all | perms::group_read | perms::group_exec |
                                         perms::others_read | perms::others_exec;
    gptest::TempFolder temp;
    fs::path hostFolder = "host";  // below temp
    fs::path folder;
    fs::path prefix;
};

TEST_F(HostFolder, TrustedCopiesLoadAndAreUnloadedWithTheModule) {
    const HostRun result = run();
    ASSERT_EQ(result.exitCode, 0);
    EXPECT_EQ(result.values.at("initialize"), "0x00000000");
    EXPECT_EQ(result.values.at("bus_mapped"), "1");
    EXPECT_EQ(result.values.at("destroy"), "0x00000000");
    EXPECT_EQ(result.values.at("bus_mapped_after"), "0") << "the module unloads the library it loaded";
}

TEST_F(HostFolder, AWritableHostFolderRefusesTheResourceLibraryAndSoTheModule) {
    fs::permissions(folder, perms::others_write, fs::perm_options::add);
    const HostRun result = run();
    EXPECT_EQ(result.exitCode, 3) << "NewModule fails: the resource library beside it is not trusted";
    EXPECT_EQ(result.values.count("initialize"), 0u);
}

class LongHostFolder : public HostFolder {
public:
    LongHostFolder() { hostFolder = fs::path(std::string(200, 'l')) / std::string(100, 'o') / "host"; }
};

TEST_F(LongHostFolder, TheBusLibraryBesideAHostInAFolderOver260CharactersIsFound) {
    ASSERT_GT(folder.string().size(), 300u);
    const HostRun result = run();
    ASSERT_EQ(result.exitCode, 0);
    EXPECT_EQ(result.values.at("initialize"), "0x00000000");
    EXPECT_EQ(result.values.at("bus_mapped"), "1");
}

struct RefusalCase {
    const char* name;
    std::function<void(HostFolder&)> arrange;
};

void PrintTo(const RefusalCase& c, std::ostream* os) { *os << c.name; }

class HostRefusal : public HostFolder, public ::testing::WithParamInterface<RefusalCase> {};

TEST_P(HostRefusal, EndsAsUnknownExceptionWithoutMappingTheLibrary) {
    GetParam().arrange(*this);
    const HostRun result = run();
    ASSERT_EQ(result.exitCode, 0);
    EXPECT_EQ(result.values.at("initialize"), "0x8000000F");
    EXPECT_EQ(result.values.at("bus_mapped"), "0");
    EXPECT_EQ(result.values.at("destroy"), "0x00000000");
}

INSTANTIATE_TEST_SUITE_P(
    Cases, HostRefusal,
    ::testing::Values(
        RefusalCase{"WorldWritableLibrary",
                    [](HostFolder& h) { fs::permissions(h.bus(), perms::others_write, fs::perm_options::add); }},
        RefusalCase{"GroupWritableLibrary",
                    [](HostFolder& h) { fs::permissions(h.bus(), perms::group_write, fs::perm_options::add); }},
        RefusalCase{"LinkIntoAWritableFolder", [](HostFolder& h) {
                        const fs::path open = h.temp.path() / "open";
                        fs::create_directory(open);
                        fs::permissions(open, perms::all);
                        fs::rename(h.bus(), open / "BusBroker.so");
                        fs::create_symlink(open / "BusBroker.so", h.bus());
                    }},
        RefusalCase{"Missing", [](HostFolder& h) { fs::remove(h.bus()); }},
        RefusalCase{"DirectoryOfThatName", [](HostFolder& h) {
                        fs::remove(h.bus());
                        fs::create_directory(h.bus());
                    }},
        RefusalCase{"WithoutTheFourExports", [](HostFolder& h) {
                        fs::remove(h.bus());
                        fs::copy_file(GP_RESOURCES_PATH, h.bus());
                        fs::permissions(h.bus(), HostFolder::kExecutable);
                    }}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(HostFolder, TheInstallFolderFromTheRegistryIsTheSecondPlaceToLook) {
    const fs::path install = temp.path() / "install";
    fs::create_directory(install);
    fs::permissions(install, kExecutable);
    fs::rename(bus(), install / "BusBroker.so");
    {
        Kestrix::CRegKey key(std::make_shared<Kestrix::internal::CRegKeyImpl>(registry()));
        ASSERT_EQ(key.Create(platform::HkeyLocalMachine(), L"SOFTWARE\\Corvane\\Plinthos"), 0u);
        ASSERT_EQ(key.SetStringValue(L"Install Dir", glimmerpane::base::WideFromUtf8(install.string()).c_str()), 0u);
    }
    const HostRun result = run();
    EXPECT_EQ(result.values.at("initialize"), "0x00000000");
    EXPECT_EQ(result.values.at("bus_mapped"), "1");
}

TEST_F(HostFolder, TheBusLibraryIsExemptFromTheBlockList) {
    {
        Kestrix::CObfuscatedRegKey key(registry());
        ASSERT_EQ(key.Create(platform::HkeyLocalMachine(), L"SOFTWARE\\Corvane\\Plinthos\\List\\busbroker.so"), 0u);
        ASSERT_EQ(key.SetStringValue(L"1.6.0", L"1.6.0"), 0u);
    }
    const HostRun result = run();
    EXPECT_EQ(result.values.at("initialize"), "0x00000000");
}

}  // namespace
