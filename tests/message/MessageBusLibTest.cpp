// MessageBusLib over a fake bus library (a fake library wrapper exporting a recording
// function table): the order of teardown, and the refusals of construction.
#include <gtest/gtest.h>

#include "dll/LibraryNames.h"
#include "dll/LoaderFakes.h"
#include "message/MessageBusClient.h"
#include "message/MessageBusLib.h"
#include "module/ModuleException.h"
#include "platform/FileSystem.h"
#include "support/RecordingLogger.h"

namespace Vornik {
namespace {

using ETWLogging::LogSeverity;
using gptest::LogCapture;
const std::wstring kSep(1, glimmerpane::platform::kPathSeparator);

// The fake library's state; the C table cannot carry a context of its own.
struct FakeBusLibrary {
    std::vector<std::string> events;
    ModuleStatus openStatus = MODULE_STATUS_SUCCESS;
    ModuleStatus closeStatus = MODULE_STATUS_SUCCESS;
    bool tableAvailable = true;
    int handleObject = 0;
};
FakeBusLibrary* gBus = nullptr;

ModuleStatus Open(void** handle) {
    gBus->events.push_back("open");
    if (gBus->openStatus == MODULE_STATUS_SUCCESS) *handle = &gBus->handleObject;
    return gBus->openStatus;
}
ModuleStatus Close(void* handle) {
    gBus->events.push_back(handle == &gBus->handleObject ? "close" : "close(wrong handle)");
    return gBus->closeStatus;
}
ModuleStatus Publish(void*, MessageHeader*, const wchar_t* name, const wchar_t*, const wchar_t*) {
    gBus->events.push_back("publish " + std::string(name, name + wcslen(name)));
    return MODULE_STATUS_SUCCESS;
}
ModuleStatus Request(void*, uint64_t, void*, BusReplyCallback, MessageHeader*, const wchar_t*, const wchar_t*,
                     const wchar_t*, uint32_t) {
    return MODULE_STATUS_SUCCESS;
}
uint32_t Subscribe(void*, void*, BusMessageCallback, const wchar_t*) {
    gBus->events.push_back("subscribe");
    return 7;
}
uint32_t SubscribeFilter(void*, void*, BusMessageCallback, const wchar_t*) { return 8; }
ModuleStatus Unsubscribe(void*, uint32_t id) {
    gBus->events.push_back("unsubscribe " + std::to_string(id));
    return MODULE_STATUS_SUCCESS;
}
ModuleStatus ReleaseReplyCallback(void*, BusReplyCallback) {
    gBus->events.push_back("releaseReplyCallback");
    return MODULE_STATUS_SUCCESS;
}
const MessageBusFunctions kTable = {Open, Close, Publish, Request, Subscribe, SubscribeFilter, Unsubscribe,
                                    ReleaseReplyCallback};

void* CreateObject(uint32_t version) {
    gBus->events.push_back("CreateObject " + std::to_string(version));
    return gBus->tableAvailable ? const_cast<MessageBusFunctions*>(&kTable) : nullptr;
}
void ReleaseObject(void*) { gBus->events.push_back("ReleaseObject"); }
const char* VersionStr() { return "1.6.0"; }
uint32_t VersionNum() { return 1006000; }

class MessageBusLibTest : public ::testing::Test {
protected:
    MessageBusLibTest() {
        gBus = &bus;
        api->events = &bus.events;
        api->exports = {{"CreateObject", reinterpret_cast<void*>(&CreateObject)},
                        {"ReleaseObject", reinterpret_cast<void*>(&ReleaseObject)},
                        {"GetVersionStr", reinterpret_cast<void*>(&VersionStr)},
                        {"GetVersionNum", reinterpret_cast<void*>(&VersionNum)}};
        paths->files = {L"host" + kSep + BusLibraryFileName()};
    }
    ~MessageBusLibTest() override { gBus = nullptr; }

    // The bus library as the module finds it: "$(App.Folder)" and "$(Plinthos.InstallDir)"
    // expanded by a fake (the host folder is "host").
    std::shared_ptr<SharedLibrary> library() {
        class HostFolder : public PathHelpers {
        public:
            using PathHelpers::PathHelpers;
            bool expand(std::wstring& path) override {
                if (path == L"$(App.Folder)") path = L"host";
                return true;
            }
        };
        auto helpers = std::make_shared<HostFolder>(nullptr, nullptr, std::make_shared<RegistryAPI>(registry.store));
        return std::make_shared<SharedLibrary>(BusLibraryLocation(), std::make_shared<DllLoader>(api), helpers,
                                               std::make_shared<PathSearch>(paths));
    }

    FakeBusLibrary bus;
    gptest::TempRegistry registry;
    std::shared_ptr<gptest::FakeDllAPI> api = std::make_shared<gptest::FakeDllAPI>();
    std::shared_ptr<gptest::FakePathAPI> paths = std::make_shared<gptest::FakePathAPI>();
};

TEST_F(MessageBusLibTest, TheLocationIsTheBusLibraryBesideTheHostThenTheInstallFolder) {
    EXPECT_EQ(BusLibraryLocation().fileName, BusLibraryFileName());
    EXPECT_EQ(BusLibraryLocation().searchFolders,
              (std::vector<std::wstring>{L"$(App.Folder)", L"$(Plinthos.InstallDir)"}));
}

TEST_F(MessageBusLibTest, DestructionReleasesTheReplyCallbackThenClosesThenUnloads) {
    {
        LogCapture capture;
        auto shim = std::make_shared<MessageBusLib>(library());
        EXPECT_EQ(bus.events, (std::vector<std::string>{"CreateObject 1006000", "open"}));
        EXPECT_FALSE(capture.containing(L"M12NPerfTimer|MessageBusLib::MessageBusLib|").empty());
        MessageBusClient client(shim, nullptr);
        EXPECT_EQ(client.subscribe(L"status.name", [](std::shared_ptr<Message>) -> uint32_t { return 0; }), 0u);
        EXPECT_EQ(client.publish(std::make_shared<Message>(L"hello", L"me", L"")), 0u);
        bus.events.clear();
    }
    // The client withdraws its subscription; then the shim's own teardown: the reply
    // callback of its own handle, close, the table back, unload.
    EXPECT_EQ(bus.events, (std::vector<std::string>{"unsubscribe 7", "releaseReplyCallback", "close", "ReleaseObject",
                                                    "unload"}));
    EXPECT_EQ(api->frees, 1);
}

TEST_F(MessageBusLibTest, ANullFunctionTableThrowsAndOpensNothing) {
    bus.tableAvailable = false;
    LogCapture capture;
    try {
        MessageBusLib shim(library());
        FAIL() << "no exception";
    } catch (const ModuleException& e) {
        EXPECT_STREQ(e.what(), "Failed to get message bus functions object");
    }
    EXPECT_TRUE(capture.has(LogSeverity::Error,
                            L"Failed to get message bus functions object. Throwing ModuleException."));
    EXPECT_EQ(bus.events, (std::vector<std::string>{"CreateObject 1006000", "unload"}));
}

TEST_F(MessageBusLibTest, ARefusedHandleThrowsAndUnloads) {
    bus.openStatus = MODULE_STATUS_NO_MEMORY;
    LogCapture capture;
    try {
        MessageBusLib shim(library());
        FAIL() << "no exception";
    } catch (const ModuleException& e) {
        EXPECT_STREQ(e.what(), "Failed to get message bus handle");
    }
    EXPECT_TRUE(capture.has(LogSeverity::Error,
                            L"Failed to get message bus handle. Error code: MODULE_STATUS_NO_MEMORY(2147483657). "
                            L"Throwing ModuleException."));
    EXPECT_EQ(bus.events, (std::vector<std::string>{"CreateObject 1006000", "open", "ReleaseObject", "unload"}));
}

TEST_F(MessageBusLibTest, AFailedCloseIsOnlyAWarning) {
    bus.closeStatus = MODULE_STATUS_INVALID_HANDLE;
    LogCapture capture;
    { MessageBusLib shim(library()); }
    EXPECT_TRUE(capture.has(LogSeverity::Warning,
                            L"Failed to release message bus. Error code MODULE_STATUS_INVALID_HANDLE(2147483655)."));
    EXPECT_EQ(api->frees, 1);
}

}  // namespace
}  // namespace Vornik
