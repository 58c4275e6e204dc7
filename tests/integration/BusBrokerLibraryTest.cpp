// The bus library as a host loads it: load the built BusBroker library, take its function
// table through CreateObject and run publish, pattern subscription and a request with
// its reply through the C table only; then unload it with handles still open.
#include <gtest/gtest.h>

#include <glimmerpane/abi.h>

#include <chrono>
#include <condition_variable>
#include <filesystem>
#include <mutex>
#include <optional>
#include <thread>
#include <string>
#include <vector>

#include "platform/DynamicLibrary.h"
#include "support/BusHeader.h"
#include "support/TestEnvironment.h"
#include "support/TestLibrary.h"

namespace {

using namespace std::chrono_literals;

constexpr ModuleStatus kSuccess = 0;
constexpr ModuleStatus kInvalidParameter = 0x80000008;
constexpr ModuleStatus kInvalidHandle = 0x80000007;
constexpr uint32_t kFlagReply = 1;

struct Mailbox {
    std::mutex mutex;
    std::condition_variable cv;
    std::vector<std::wstring> texts;
    std::vector<MessageHeader> headers;
    std::vector<ModuleStatus> statuses;
    std::vector<uint64_t> indexes;
    const MessageBusFunctions* table = nullptr;
    void* replyHandle = nullptr;  // set: answer every message as a responder

    bool waitFor(size_t n) {
        std::unique_lock lock(mutex);
        return cv.wait_for(lock, 10s, [&] { return texts.size() >= n; });
    }
};

uint32_t OnMessage(void* context, const MessageHeader* header, const wchar_t* name, const wchar_t* sender,
                   const wchar_t* userData) {
    auto* box = static_cast<Mailbox*>(context);
    if (box->replyHandle != nullptr) {
        MessageHeader reply = *header;
        reply.flags |= kFlagReply;
        const std::wstring text = std::wstring(L"re:") + userData;
        box->table->publish(box->replyHandle, &reply, name, L"responder", text.c_str());
    }
    std::lock_guard lock(box->mutex);
    box->texts.push_back(std::wstring(name) + L"|" + sender + L"|" + userData);
    box->headers.push_back(*header);
    box->cv.notify_all();
    return 0;
}

uint32_t OnReply(void* context, uint64_t replyIndex, const MessageHeader* header, const wchar_t* /*name*/,
                 const wchar_t* /*sender*/, const wchar_t* userData, ModuleStatus status) {
    auto* box = static_cast<Mailbox*>(context);
    std::lock_guard lock(box->mutex);
    box->texts.push_back(userData);
    box->headers.push_back(*header);
    box->statuses.push_back(status);
    box->indexes.push_back(replyIndex);
    box->cv.notify_all();
    return 0;
}

class BusBrokerLibrary : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(library_.loaded()) << library_.error();
        createObject_ = library_.function<CreateObjectFn>("CreateObject");
        ASSERT_NE(createObject_, nullptr);
        table_ = library_.create<MessageBusFunctions>();
        ASSERT_NE(table_, nullptr);
    }

    gptest::TestLibrary library_{GP_BUS_PATH};
    CreateObjectFn createObject_ = nullptr;
    const MessageBusFunctions* table_ = nullptr;
};

TEST_F(BusBrokerLibrary, AnswersVersionOneAndReportsItsVersion) {
    EXPECT_EQ(createObject_(1000000), table_);
    EXPECT_EQ(createObject_(1999999), table_);
    EXPECT_EQ(createObject_(999999), nullptr);
    EXPECT_EQ(createObject_(2000000), nullptr);
    auto versionStr = library_.function<GetVersionStrFn>("GetVersionStr");
    auto versionNum = library_.function<GetVersionNumFn>("GetVersionNum");
    auto releaseObject = library_.function<ReleaseObjectFn>("ReleaseObject");
    ASSERT_TRUE(versionStr && versionNum && releaseObject);
    EXPECT_STREQ(versionStr(), "1.6.0");
    EXPECT_EQ(versionNum(), 1006000u);
    releaseObject(const_cast<MessageBusFunctions*>(table_));
    EXPECT_EQ(createObject_(1006000), table_) << "the table is static; releasing it changes nothing";
    EXPECT_EQ(library_.symbol("_ZN9BusBroker16BusFunctionTableEj"), nullptr);
}

TEST_F(BusBrokerLibrary, PublishSubscribeAndRequestRoundTripThroughTheTable) {
    void* client = nullptr;
    void* service = nullptr;
    ASSERT_EQ(table_->open(&client), kSuccess);
    ASSERT_EQ(table_->open(&service), kSuccess);

    Mailbox exact, filtered, responder, replies;
    responder.table = table_;
    responder.replyHandle = service;
    const uint32_t exactId = table_->subscribe(client, &exact, &OnMessage, L"status.firewall");
    const uint32_t filterId = table_->subscribeFilter(client, &filtered, &OnMessage, L"status\\..*");
    ASSERT_NE(exactId, 0u);
    ASSERT_NE(filterId, 0u);
    ASSERT_NE(table_->subscribe(service, &responder, &OnMessage, L"svc.echo"), 0u);
    EXPECT_EQ(table_->subscribeFilter(client, &filtered, &OnMessage, L"(unclosed"), 0u);

    MessageHeader header = gptest::NewBusHeader();
    ASSERT_EQ(table_->publish(service, &header, L"status.firewall", L"fw", L"{\"on\":true}"), kSuccess);
    ASSERT_EQ(table_->publish(service, &header, L"status.dat", L"dat", L"{}"), kSuccess);
    ASSERT_TRUE(exact.waitFor(1));
    ASSERT_TRUE(filtered.waitFor(2));
    EXPECT_EQ(exact.texts[0], L"status.firewall|fw|{\"on\":true}");
    EXPECT_EQ(filtered.texts[1], L"status.dat|dat|{}");
    EXPECT_EQ(exact.headers[0].totalSize, 114u + 2u * (15u + 2u + 11u));

    ASSERT_EQ(table_->request(client, 5, &replies, &OnReply, &header, L"svc.echo", L"me", L"ping", 5000), kSuccess);
    ASSERT_TRUE(replies.waitFor(1));
    EXPECT_EQ(replies.statuses[0], kSuccess);
    EXPECT_EQ(replies.indexes[0], 5u);
    EXPECT_EQ(replies.texts[0], L"re:ping");
    EXPECT_NE(replies.headers[0].replyInfo, 0u);

    EXPECT_EQ(table_->unsubscribe(client, exactId), kSuccess);
    EXPECT_EQ(table_->releaseReplyCallback(client, &OnReply), kSuccess);
    EXPECT_EQ(table_->close(client), kSuccess);
    EXPECT_EQ(table_->close(client), kInvalidHandle);
    EXPECT_EQ(table_->close(service), kSuccess);
    EXPECT_EQ(table_->close(nullptr), kInvalidParameter);
    EXPECT_EQ(table_->publish(nullptr, &header, L"n", L"s", L""), kInvalidParameter);
}

// Each CreateObject is a reference; handing back the last one ends the broker even with a
// handle still open, so a host's FreeLibrary never has threads to wait for.
TEST_F(BusBrokerLibrary, HandingBackTheLastTableWithdrawsWhatIsStillOpen) {
    auto releaseObject = library_.function<ReleaseObjectFn>("ReleaseObject");
    ASSERT_NE(releaseObject, nullptr);
    void* second = createObject_(1006000);
    ASSERT_EQ(second, table_);
    void* handle = nullptr;
    ASSERT_EQ(table_->open(&handle), kSuccess);
    MessageHeader header = gptest::NewBusHeader();
    releaseObject(second);  // another holder remains
    EXPECT_EQ(table_->publish(handle, &header, L"n", L"s", L""), kSuccess);
    releaseObject(const_cast<MessageBusFunctions*>(table_));  // the last one
    EXPECT_EQ(table_->publish(handle, &header, L"n", L"s", L""), kInvalidHandle);
    void* fresh = nullptr;
    EXPECT_EQ(table_->open(&fresh), kSuccess) << "a later open starts a new broker";
    EXPECT_EQ(table_->close(fresh), kSuccess);
}

// Unloads the library with a handle open, a request pending and deliveries queued: nothing
// hangs, and no thread of the library runs on afterwards.
void UnloadWithWorkInFlight(gptest::TestLibrary& library, const MessageBusFunctions* table, bool handTableBack) {
    void* handle = nullptr;
    ASSERT_EQ(table->open(&handle), kSuccess);
    Mailbox box, replies;
    ASSERT_NE(table->subscribe(handle, &box, &OnMessage, L"flood"), 0u);
    MessageHeader header = gptest::NewBusHeader();
    ASSERT_EQ(table->request(handle, 1, &replies, &OnReply, &header, L"flood", L"s", L"", 0xFFFFFFFF), kSuccess);
    for (int i = 0; i < 500; ++i) ASSERT_EQ(table->publish(handle, &header, L"flood", L"s", L"x"), kSuccess);
    ASSERT_TRUE(box.waitFor(1));
    namespace platform = glimmerpane::platform;
    const auto isLoaded = [] {
        uint32_t error = 0;
        platform::LibraryHandle found = platform::FindLoadedLibrary(std::filesystem::path(GP_BUS_PATH).wstring(), &error);
        if (found) platform::UnloadSharedLibrary(found);
        return found != nullptr;
    };
    ASSERT_TRUE(isLoaded());
    const auto start = std::chrono::steady_clock::now();
    ASSERT_TRUE(library.unload(handTableBack));
    EXPECT_FALSE(isLoaded()) << "the library stayed loaded";
    EXPECT_LT(std::chrono::steady_clock::now() - start, 3s);
    // Whatever was delivered stays put from here on: no thread of the library survives.
    size_t seen = 0;
    {
        std::lock_guard lock(box.mutex);
        seen = box.texts.size();
    }
    std::this_thread::sleep_for(30ms);
    std::lock_guard lock(box.mutex);
    EXPECT_EQ(box.texts.size(), seen);
    EXPECT_EQ(replies.texts.size(), 0u);
}

// As a host does: the table goes back first, so the broker stops in ReleaseObject.
TEST_F(BusBrokerLibrary, UnloadingWithHandlesOpenAndWorkInFlightNeitherHangsNorCrashes) {
    UnloadWithWorkInFlight(library_, table_, true);
}

// A host that never hands the table back: the library's static destruction stops the broker.
TEST_F(BusBrokerLibrary, UnloadingWithoutHandingTheTableBackNeitherHangsNorCrashes) {
    UnloadWithWorkInFlight(library_, table_, false);
}

}  // namespace

namespace {

// The library's own records reach the debugger output (standard error here, when asked
// for) and nothing else: it builds no logger from the registry.
TEST_F(BusBrokerLibrary, WarningsGoToTheDebuggerOutputWhenItIsOn) {
    std::optional<gptest::ScopedEnvironment> debugOutput(std::in_place);
    debugOutput->set("GLIMMERPANE_DEBUG_OUTPUT", "1");
    ::testing::internal::CaptureStderr();
    const ModuleStatus status = table_->close(reinterpret_cast<void*>(uintptr_t{0x7777}));
    const std::string output = ::testing::internal::GetCapturedStderr();
    debugOutput.reset();
    EXPECT_NE(status, kSuccess);
    EXPECT_NE(output.find("BusBroker Warning bus\\Broker BusBroker::Broker::close("), std::string::npos) << output;
    EXPECT_NE(output.find("Unknown bus handle"), std::string::npos) << output;

    ::testing::internal::CaptureStderr();
    table_->close(reinterpret_cast<void*>(uintptr_t{0x7778}));
    EXPECT_EQ(::testing::internal::GetCapturedStderr(), "") << "silent while the output is off";
}

}  // namespace
