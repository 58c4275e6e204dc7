// Tests of the bus client over the recording fake bus: publish copies, subscriptions,
// session filtering, direct dispatch, requests and replies, and concurrency.
#include <gtest/gtest.h>

#include <atomic>
#include <regex>
#include <thread>

#include "message/MessageBusClient.h"
#include "message/MessageBusShimImpl.h"
#include "message/ReplyImpl.h"
#include "module/ModuleStatus.h"
#include "support/FakeBus.h"
#include "support/RecordingLogger.h"

namespace Vornik {
namespace {

using ETWLogging::LogSeverity;
using gptest::FakeBus;
using gptest::LogCapture;
using gptest::ReplyMode;

class FixedSessionProcess : public ProcessAPI {
public:
    explicit FixedSessionProcess(std::optional<uint32_t> session) : session_(session) {}
    uint32_t GetCurrentProcessId() override { return 4242; }
    int ProcessIdToSessionId(uint32_t, uint32_t* session) override {
        if (!session_) return 0;
        *session = *session_;
        return 1;
    }

private:
    std::optional<uint32_t> session_;
};

class ClientTest : public ::testing::Test {
protected:
    std::unique_ptr<MessageBusClient> makeClient(std::optional<uint32_t> session = 7) {
        auto shim = std::make_shared<MessageBusShimImpl>(bus.handle(), FakeBus::functions());
        return std::make_unique<MessageBusClient>(shim, std::make_shared<FixedSessionProcess>(session));
    }
    static std::shared_ptr<Message> message(const wchar_t* name, const wchar_t* data = L"") {
        return std::make_shared<Message>(name, L"test", data);
    }
    static MessageHeader headerWithSession(uint32_t session) {
        Message m(L"x", L"", L"");
        m.setSenderSession(session);
        return *m.getHeader();
    }

    FakeBus bus;
};

TEST_F(ClientTest, ConstructionLogsTheSessionOrTheFallback) {
    {
        LogCapture capture;
        auto client = makeClient(7);
        EXPECT_EQ(client->sessionId(), 7u);
        EXPECT_TRUE(capture.has(LogSeverity::Normal, L"Found session id 7 for process 4242"));
    }
    LogCapture capture;
    auto client = makeClient(std::nullopt);
    EXPECT_EQ(client->sessionId(), 0u);
    EXPECT_TRUE(capture.has(LogSeverity::Error, L"Failed to get the session id for process 4242 - defaulting to 0"));
}

TEST_F(ClientTest, AReplyIsPublishedTwiceFirstMarkedCopiedThenAsPlainMessage) {
    auto client = makeClient();
    auto reply = message(L"answer");
    reply->setFlag(FLAG_REPLY);
    reply->setReplyInfo(77);
    ASSERT_EQ(client->publish(reply), MODULE_STATUS_SUCCESS);
    auto published = bus.published();
    ASSERT_EQ(published.size(), 2u);
    EXPECT_EQ(published[0].header.flags, (1u << FLAG_REPLY) | (1u << FLAG_COPIED));
    EXPECT_EQ(published[0].header.replyInfo, 77u);
    EXPECT_EQ(published[1].header.flags, 1u << FLAG_COPIED);
    EXPECT_EQ(published[1].header.replyInfo, 0u);
}

TEST_F(ClientTest, PublishCountsByFlags) {
    const struct { uint32_t flags; size_t publishes; } cases[] = {
        {0, 1},
        {1u << FLAG_REPLY, 2},
        {(1u << FLAG_REPLY) | (1u << FLAG_NO_COPY), 1},
        {(1u << FLAG_REPLY) | (1u << FLAG_COPIED), 1},
    };
    auto client = makeClient();
    size_t before = 0;
    for (const auto& c : cases) {
        auto m = message(L"m");
        m->setFlags(c.flags);
        ASSERT_EQ(client->publish(m), MODULE_STATUS_SUCCESS);
        EXPECT_EQ(bus.published().size() - before, c.publishes) << c.flags;
        before = bus.published().size();
    }
    EXPECT_EQ(client->publish(nullptr), MODULE_STATUS_INVALID_PARAMETER);
}

TEST_F(ClientTest, PublishFailuresAreReportedAndTheCopysFailureOnlyLogged) {
    auto client = makeClient();
    {
        LogCapture capture;
        bus.failPublishes(MODULE_STATUS_NO_SUBSCRIBERS, 1);  // the copy fails
        auto m = message(L"m");
        m->setFlag(FLAG_REPLY);
        EXPECT_EQ(client->publish(m), MODULE_STATUS_SUCCESS);
        EXPECT_TRUE(capture.has(LogSeverity::Warning, L"Failed to publish non-reply copy of the message. Error code 2147483662."));
    }
    LogCapture capture;
    EXPECT_EQ(client->publish(message(L"m")), MODULE_STATUS_NO_SUBSCRIBERS);
    EXPECT_TRUE(capture.has(LogSeverity::Error, L"Failed to publish message. Error code 2147483662."));
}

TEST_F(ClientTest, SameAliasTwiceKeepsBothAndUnsubscribeWithdrawsBoth) {
    auto client = makeClient();
    std::atomic<int> calls{0};
    auto count = [&](const std::shared_ptr<Message>&) -> uint32_t { return ++calls, 1; };
    ASSERT_EQ(client->subscribe(L"a.one", L"alias", count), MODULE_STATUS_SUCCESS);
    ASSERT_EQ(client->subscribe(L"a.two", L"alias", count), MODULE_STATUS_SUCCESS);
    EXPECT_EQ(bus.subscriptionCount(), 2u);
    bus.deliver(L"a.one", L"");
    bus.deliver(L"a.two", L"");
    EXPECT_EQ(calls, 2);
    EXPECT_EQ(client->unsubscribe(L"alias"), MODULE_STATUS_SUCCESS);
    EXPECT_EQ(bus.subscriptionCount(), 0u);
    bus.deliver(L"a.one", L"");
    EXPECT_EQ(calls, 2);

    LogCapture capture;
    EXPECT_EQ(client->unsubscribe(L"alias"), MODULE_STATUS_SUCCESS);
    EXPECT_TRUE(capture.has(LogSeverity::Warning, L"Subscription not found. Alias: alias."));
}

TEST_F(ClientTest, ARefusedSubscriptionLeavesNoRecord) {
    auto client = makeClient();
    bus.refuseSubscriptions(true);
    int calls = 0;
    LogCapture capture;
    EXPECT_EQ(client->subscribe(L"refused", [&](const std::shared_ptr<Message>&) -> uint32_t { return ++calls; }),
              MODULE_STATUS_UNSUCCESSFUL);
    EXPECT_EQ(client->subscribeFilter(L"ref.*", [&](const std::shared_ptr<Message>&) -> uint32_t { return ++calls; }),
              MODULE_STATUS_UNSUCCESSFUL);
    EXPECT_TRUE(capture.has(LogSeverity::Error, L"Failed to subscribe. Alias: refused Message name: refused"));
    EXPECT_TRUE(capture.has(LogSeverity::Error, L"Failed to subscribeFilter. Alias: ref.* Message nameRegex: ref.*"));
    client->dispatchDirect(message(L"refused"));
    EXPECT_EQ(calls, 0);
    bus.refuseSubscriptions(false);
    const size_t unsubscribesBefore = bus.unsubscribeCalls();
    client.reset();  // nothing to withdraw
    EXPECT_EQ(bus.unsubscribeCalls(), unsubscribesBefore);
}

TEST_F(ClientTest, AnInvalidPatternThrowsAndChangesNothing) {
    auto client = makeClient();
    EXPECT_THROW(client->subscribeFilter(L"([unclosed", [](const std::shared_ptr<Message>&) -> uint32_t { return 1; }),
                 std::regex_error);
    EXPECT_EQ(bus.subscriptionCount(), 0u);
}

TEST_F(ClientTest, SessionFilterPassesOwnAndUnknownSessionsOnly) {
    const struct { std::optional<uint32_t> ownSession; uint32_t sender; bool delivered; } cases[] = {
        {7, 0, true}, {7, 7, true}, {7, 8, false}, {std::nullopt, 8, true},
    };
    for (const auto& c : cases) {
        auto client = makeClient(c.ownSession);
        int exact = 0, pattern = 0;
        ASSERT_EQ(client->subscribeInSession(L"s.msg", [&](const std::shared_ptr<Message>&) -> uint32_t { return ++exact; }), 0u);
        ASSERT_EQ(client->subscribeFilterInSession(L"s\\..*", [&](const std::shared_ptr<Message>&) -> uint32_t { return ++pattern; }), 0u);
        const MessageHeader header = headerWithSession(c.sender);
        bus.deliver(L"s.msg", L"", L"sender", &header);
        EXPECT_EQ(exact, c.delivered ? 1 : 0) << c.sender;
        EXPECT_EQ(pattern, c.delivered ? 1 : 0) << c.sender;
    }
}

TEST_F(ClientTest, DirectDispatchMatchesWholeNamesAndPatterns) {
    auto client = makeClient();
    std::vector<std::wstring> seen;
    auto note = [&](const wchar_t* who) {
        return [&, who](const std::shared_ptr<Message>&) -> uint32_t { return seen.push_back(who), 1; };
    };
    client->subscribe(L"status.rts", note(L"exact"));
    client->subscribeFilter(L"status\\..*", note(L"pattern"));
    client->subscribeFilter(L"rts", note(L"partial"));  // must match the whole name
    EXPECT_EQ(client->dispatchDirect(message(L"status.rts")), MODULE_STATUS_SUCCESS);
    std::sort(seen.begin(), seen.end());
    EXPECT_EQ(seen, (std::vector<std::wstring>{L"exact", L"pattern"}));
    seen.clear();
    EXPECT_EQ(client->dispatchDirect(message(L"Status.rts")), MODULE_STATUS_SUCCESS);  // case-sensitive
    EXPECT_TRUE(seen.empty());
}

TEST_F(ClientTest, DirectDispatchOfAnOverlongNameMatchesNoPatternAndSaysSo) {
    auto client = makeClient();
    std::vector<std::wstring> seen;
    client->subscribeFilter(L"a*", [&](const std::shared_ptr<Message>&) -> uint32_t { return seen.push_back(L"a*"), 1; });
    client->subscribeFilter(L"(a|b)*", [&](const std::shared_ptr<Message>&) -> uint32_t { return seen.push_back(L"ab"), 1; });
    const std::wstring longest(1024, L'a'), overlong(200000, L'a');
    client->subscribe(overlong, [&](const std::shared_ptr<Message>&) -> uint32_t { return seen.push_back(L"exact"), 1; });

    LogCapture capture;
    client->dispatchDirect(std::make_shared<Message>(std::wstring(longest), L"test", L""));
    std::sort(seen.begin(), seen.end());
    EXPECT_EQ(seen, (std::vector<std::wstring>{L"a*", L"ab"}));
    EXPECT_TRUE(capture.records().empty());

    seen.clear();
    client->dispatchDirect(std::make_shared<Message>(std::wstring(overlong), L"test", L""));
    EXPECT_EQ(seen, std::vector<std::wstring>{L"exact"});  // an exact name has no such limit
    const auto records = capture.records();
    ASSERT_EQ(records.size(), 1u);
    EXPECT_EQ(records[0].severity, LogSeverity::Warning);
    EXPECT_EQ(records[0].message,
              L"Message name of 200000 characters is longer than 1024: it matches no pattern subscription.");
}

TEST_F(ClientTest, DestructionWithdrawsEverySubscription) {
    auto client = makeClient();
    client->subscribe(L"a", [](const std::shared_ptr<Message>&) -> uint32_t { return 1; });
    client->subscribeFilter(L"b.*", [](const std::shared_ptr<Message>&) -> uint32_t { return 1; });
    EXPECT_EQ(bus.subscriptionCount(), 2u);
    client.reset();
    EXPECT_EQ(bus.subscriptionCount(), 0u);
    EXPECT_EQ(bus.releaseReplyCalls(), 0u);  // a borrowed handle may carry other clients' requests
}

TEST_F(ClientTest, RequestIndexesCountUpFromZero) {
    auto client = makeClient();
    std::shared_ptr<Reply> first, second;
    ASSERT_EQ(client->request(message(L"q"), first, 100), MODULE_STATUS_SUCCESS);
    ASSERT_EQ(client->request(message(L"q"), second, 100), MODULE_STATUS_SUCCESS);
    auto requests = bus.requests();
    ASSERT_EQ(requests.size(), 2u);
    EXPECT_EQ(requests[0].replyIndex, 0u);
    EXPECT_EQ(requests[1].replyIndex, 1u);
    EXPECT_EQ(requests[0].timeoutMs, 100u);
}

TEST_F(ClientTest, ReplyOutcomesByBusStatus) {
    const struct { ModuleStatus busStatus; uint32_t replyStatus; bool hasMessage; } cases[] = {
        {MODULE_STATUS_SUCCESS, REPLY_RECEIVED, true},
        {MODULE_STATUS_TIMEOUT, REPLY_TIMED_OUT, false},
        {MODULE_STATUS_UNSUCCESSFUL, REPLY_FAILED, false},
    };
    auto client = makeClient();
    for (const auto& c : cases) {
        std::shared_ptr<Reply> reply;
        ASSERT_EQ(client->request(message(L"q"), reply, 100), MODULE_STATUS_SUCCESS);
        EXPECT_EQ(reply->getStatus(), REPLY_PENDING);
        ASSERT_EQ(bus.answerRequest(bus.requests().back(), c.busStatus).value_or(1), 0u);
        EXPECT_EQ(reply->wait(), c.replyStatus) << c.busStatus;
        EXPECT_EQ(reply->getMessage() != nullptr, c.hasMessage);
        if (c.hasMessage) {
            EXPECT_EQ(reply->getMessage()->getUserData(), L"reply");
        }
    }
}

TEST_F(ClientTest, AReplyBeforeRequestReturnsIsHandled) {
    bus.setReplyMode(ReplyMode::Early);
    auto client = makeClient();
    std::shared_ptr<Reply> reply;
    ASSERT_EQ(client->request(message(L"q"), reply, 100), MODULE_STATUS_SUCCESS);
    EXPECT_EQ(reply->waitFor(std::chrono::milliseconds(0)), REPLY_RECEIVED);
    EXPECT_EQ(reply->getMessage()->getUserData(), L"early reply");
}

TEST_F(ClientTest, CallbackFormGetsTheCompletedReplyAndAThrowIsContained) {
    bus.setReplyMode(ReplyMode::Late);
    auto client = makeClient();
    std::promise<uint32_t> seen;
    ASSERT_EQ(client->request(message(L"q"), [&](std::shared_ptr<Reply> r) { seen.set_value(r->getStatus()); }, 100),
              MODULE_STATUS_SUCCESS);
    EXPECT_EQ(seen.get_future().get(), REPLY_RECEIVED);

    bus.setReplyMode(ReplyMode::Timeout);
    std::atomic<bool> called{false};
    ASSERT_EQ(client->request(message(L"q"), [&](std::shared_ptr<Reply>) { called = true; throw 1; }, 100),
              MODULE_STATUS_SUCCESS);
    bus.drain();
    EXPECT_TRUE(called);
    // The client still works after the throwing callback.
    bus.setReplyMode(ReplyMode::Early);
    std::shared_ptr<Reply> reply;
    ASSERT_EQ(client->request(message(L"q"), reply, 100), MODULE_STATUS_SUCCESS);
    EXPECT_EQ(reply->wait(), REPLY_RECEIVED);
}

TEST_F(ClientTest, UnknownOrCompletedIndexesAreNotFound) {
    auto client = makeClient();
    std::shared_ptr<Reply> reply;
    ASSERT_EQ(client->request(message(L"q"), reply, 100), MODULE_STATUS_SUCCESS);
    auto request = bus.requests().back();
    ASSERT_EQ(bus.answerRequest(request, 0).value_or(1), 0u);
    LogCapture capture;
    EXPECT_EQ(bus.answerRequest(request, 0), MODULE_STATUS_NOT_FOUND);
    auto never = request;
    never.replyIndex = 999;
    EXPECT_EQ(bus.answerRequest(never, 0), MODULE_STATUS_NOT_FOUND);
    EXPECT_EQ(capture.withMessage(L"Reply index not found. Returning").size(), 2u);
}

TEST_F(ClientTest, WaitForZeroOnAnOutstandingRequestStaysPending) {
    auto client = makeClient();
    std::shared_ptr<Reply> reply;
    ASSERT_EQ(client->request(message(L"q"), reply, 100), MODULE_STATUS_SUCCESS);
    LogCapture capture;
    EXPECT_EQ(reply->waitFor(std::chrono::milliseconds(0)), REPLY_PENDING);
    EXPECT_TRUE(capture.has(LogSeverity::Warning, L"Reply waitFor timed out. Returning."));
    ASSERT_EQ(bus.answerRequest(bus.requests().back(), 0).value_or(1), 0u);
    EXPECT_EQ(reply->waitFor(std::chrono::milliseconds(100)), REPLY_RECEIVED);
    // A second retrieval finds the future used up.
    EXPECT_EQ(reply->waitFor(std::chrono::milliseconds(1)), REPLY_FAILED);
    EXPECT_TRUE(capture.has(LogSeverity::Error, L"Reply future is in an invalid state. Returning."));
}

TEST_F(ClientTest, ARefusedRequestReturnsTheBusStatusAndForgetsItsIndex) {
    bus.setReplyMode(ReplyMode::Refuse);
    auto client = makeClient();
    std::shared_ptr<Reply> reply;
    LogCapture capture;
    EXPECT_EQ(client->request(message(L"q"), reply, 100), MODULE_STATUS_UNSUCCESSFUL);
    EXPECT_EQ(reply, nullptr);
    EXPECT_TRUE(capture.has(LogSeverity::Error, L"Failed to make request. Error code 2147483650."));
    EXPECT_EQ(bus.answerRequest(bus.requests().back(), 0), MODULE_STATUS_NOT_FOUND);
}

TEST_F(ClientTest, DestroyWithRequestsOutstandingBreaksTheirPromisesAndIgnoresLateReplies) {
    auto client = makeClient();
    std::shared_ptr<Reply> reply;
    ASSERT_EQ(client->request(message(L"q"), reply, 100), MODULE_STATUS_SUCCESS);
    auto request = bus.requests().back();
    client.reset();
    EXPECT_EQ(reply->wait(), REPLY_FAILED);
    LogCapture capture;
    EXPECT_EQ(bus.answerRequest(request, 0), MODULE_STATUS_NOT_FOUND);  // reaches no client
    EXPECT_TRUE(capture.has(LogSeverity::Warning, L"Reply for a destroyed bus client dropped. Returning"));
}

TEST_F(ClientTest, DestroyingOneClientOfAHandleLeavesTheOthersRequestsAndFailsItsOwn) {
    auto leaving = makeClient(), staying = makeClient();
    std::shared_ptr<Reply> leavingReply, stayingReply;
    std::vector<uint32_t> callbackStatuses;
    ASSERT_EQ(leaving->request(message(L"q"), leavingReply, 100), MODULE_STATUS_SUCCESS);
    ASSERT_EQ(leaving->request(message(L"q"), [&](std::shared_ptr<Reply> r) { callbackStatuses.push_back(r->getStatus()); },
                               100),
              MODULE_STATUS_SUCCESS);
    ASSERT_EQ(staying->request(message(L"q"), stayingReply, 100), MODULE_STATUS_SUCCESS);
    const auto requests = bus.requests();
    ASSERT_EQ(requests.size(), 3u);

    leaving.reset();
    EXPECT_EQ(callbackStatuses, std::vector<uint32_t>{REPLY_FAILED});  // completed once, at destruction
    EXPECT_EQ(leavingReply->wait(), REPLY_FAILED);
    EXPECT_EQ(bus.answerRequest(requests[1], 0), MODULE_STATUS_NOT_FOUND);
    EXPECT_EQ(callbackStatuses.size(), 1u);

    EXPECT_EQ(bus.answerRequest(requests[2], 0), MODULE_STATUS_SUCCESS);
    EXPECT_EQ(stayingReply->waitFor(std::chrono::seconds(5)), REPLY_RECEIVED);
}

TEST_F(ClientTest, NoReplyCallbackReachesADestroyedClient) {
    bus.setReplyMode(ReplyMode::Late, std::chrono::milliseconds(0));
    std::atomic<bool> destroyed{false};
    std::atomic<int> late{0}, completed{0};
    for (int round = 0; round < 50; ++round) {
        auto client = makeClient();
        for (int i = 0; i < 20; ++i) {
            client->request(message(L"q"), [&](std::shared_ptr<Reply>) {
                if (destroyed) ++late;
                ++completed;
            }, 100);
        }
        client.reset();
        destroyed = true;
        bus.drain();
        destroyed = false;
    }
    EXPECT_EQ(late, 0);
    EXPECT_EQ(completed, 50 * 20);  // each exactly once: by its reply or at destruction
}

TEST_F(ClientTest, WaitForWithATimeoutBeyondTheClockWaitsForTheReply) {
    using namespace std::chrono;
    const milliseconds timeouts[] = {milliseconds::max(), duration_cast<milliseconds>(hours(24 * 365 * 300))};
    auto client = makeClient();
    for (const milliseconds timeout : timeouts) {
        std::shared_ptr<Reply> reply;
        ASSERT_EQ(client->request(message(L"q"), reply, 100), MODULE_STATUS_SUCCESS);
        const auto request = bus.requests().back();
        std::thread answer([&] {
            std::this_thread::sleep_for(milliseconds(20));
            bus.answerRequest(request, 0);
        });
        EXPECT_EQ(reply->waitFor(timeout), REPLY_RECEIVED) << timeout.count();
        answer.join();
    }
}

TEST_F(ClientTest, ANullRequestIsRefusedAndLogged) {
    auto client = makeClient();
    LogCapture capture;
    std::shared_ptr<Reply> reply;
    EXPECT_EQ(client->request(nullptr, reply, 100), MODULE_STATUS_INVALID_PARAMETER);
    EXPECT_EQ(client->request(nullptr, [](std::shared_ptr<Reply>) {}, 100), MODULE_STATUS_INVALID_PARAMETER);
    EXPECT_EQ(reply, nullptr);
    const std::wstring expected =
        L"Failed to make request. Error code " + std::to_wstring(MODULE_STATUS_INVALID_PARAMETER) + L".";
    EXPECT_EQ(capture.withMessage(expected).size(), 2u);
    EXPECT_EQ(capture.records().size(), 2u);
}

TEST_F(ClientTest, ConcurrentDeliveriesWhileSubscriptionsComeAndGo) {
    auto client = makeClient();
    std::atomic<int> stable{0};
    ASSERT_EQ(client->subscribe(L"stable", [&](const std::shared_ptr<Message>&) -> uint32_t { return ++stable, 1; }), 0u);
    std::atomic<bool> running{true};
    std::vector<std::thread> deliverers;
    constexpr int kPerThread = 2000;
    for (int t = 0; t < 3; ++t) {
        deliverers.emplace_back([&] {
            for (int i = 0; i < kPerThread; ++i) {
                bus.deliver(L"stable", L"");
                bus.deliver(L"churn", L"");
            }
        });
    }
    std::thread churner([&] {
        while (running) {
            client->subscribe(L"churn", L"churn", [](const std::shared_ptr<Message>&) -> uint32_t { return 1; });
            client->unsubscribe(L"churn");
        }
    });
    for (auto& t : deliverers) t.join();
    running = false;
    churner.join();
    EXPECT_EQ(stable, 3 * kPerThread);
}

}  // namespace
}  // namespace Vornik
