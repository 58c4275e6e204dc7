// Tests of the shim over a bus function table and of the two bus callbacks.
#include <gtest/gtest.h>

#include "message/MessageBus.h"
#include "message/MessageBusShimImpl.h"
#include "module/ModuleException.h"
#include "module/ModuleStatus.h"
#include "support/FakeBus.h"
#include "support/RecordingLogger.h"

namespace Vornik {
namespace {

using ETWLogging::LogSeverity;
using gptest::LogCapture;

TEST(MessageBusShimImpl, RefusesNullHandleBeforeNullTable) {
    const struct { bool handle; bool table; const char* what; const wchar_t* record; } cases[] = {
        {false, false, "Invalid message bus handle", L"Invalid message bus handle. Throwing ModuleException."},
        {false, true, "Invalid message bus handle", L"Invalid message bus handle. Throwing ModuleException."},
        {true, false, "Invalid message bus functions object",
         L"Invalid message bus functions object. Throwing ModuleException."},
    };
    gptest::FakeBus bus;
    for (const auto& c : cases) {
        LogCapture capture;
        try {
            MessageBusShimImpl shim(c.handle ? bus.handle() : nullptr, c.table ? gptest::FakeBus::functions() : nullptr);
            ADD_FAILURE() << "no exception for " << c.what;
        } catch (const ModuleException& e) {
            EXPECT_STREQ(e.what(), c.what);
        }
        EXPECT_TRUE(capture.has(LogSeverity::Error, c.record));
    }
}

TEST(MessageBusShimImpl, OnBusReplyWithAFailureStatusPassesAnEmptyMessage) {
    bool hadMessage = true;
    ModuleStatus seenStatus = 0;
    ReplyCallback callback = [&](uint64_t, std::shared_ptr<Message> m, ModuleStatus s) -> ModuleStatus {
        hadMessage = m != nullptr;
        seenStatus = s;
        return 0;
    };
    void* route = ReplyRoutes::add(&callback);
    // The strings are not read for a failed reply: null pointers must not matter.
    EXPECT_EQ(MessageBusShimImpl::onBusReply(route, 3, nullptr, nullptr, nullptr, nullptr, MODULE_STATUS_TIMEOUT), 0u);
    EXPECT_FALSE(hadMessage);
    EXPECT_EQ(seenStatus, MODULE_STATUS_TIMEOUT);
    EXPECT_EQ(MessageBusShimImpl::onBusReply(nullptr, 3, nullptr, L"n", L"s", L"d", 0), MODULE_STATUS_INVALID_PARAMETER);
    ReplyRoutes::remove(route);
    EXPECT_EQ(MessageBusShimImpl::onBusReply(route, 3, nullptr, nullptr, nullptr, nullptr, MODULE_STATUS_TIMEOUT),
              MODULE_STATUS_NOT_FOUND);
}

TEST(MessageBusShimImpl, OnBusMessageBuildsTheMessageAndContainsThrows) {
    std::shared_ptr<Message> seen;
    MessageHandler handler = [&](const std::shared_ptr<Message>& m) -> uint32_t {
        seen = m;
        return 5;
    };
    Message source(L"src", L"", L"");
    source.setSenderSession(9);
    EXPECT_EQ(MessageBusShimImpl::onBusMessage(&handler, source.getHeader(), L"name", L"sender", L"{}"), 5u);
    ASSERT_TRUE(seen);
    EXPECT_EQ(seen->getName(), L"name");
    EXPECT_EQ(seen->getUserData(), L"{}");
    EXPECT_EQ(seen->senderSession(), 9u);

    MessageHandler throwing = [](const std::shared_ptr<Message>&) -> uint32_t { throw std::runtime_error("boom"); };
    EXPECT_EQ(MessageBusShimImpl::onBusMessage(&throwing, nullptr, L"n", L"s", L"d"), MODULE_STATUS_UNKNOWN_EXCEPTION);
    EXPECT_EQ(MessageBusShimImpl::onBusMessage(nullptr, nullptr, L"n", L"s", L"d"), MODULE_STATUS_INVALID_PARAMETER);
}

}  // namespace
}  // namespace Vornik
