// Destroying a broker with handles, subscriptions, requests and callbacks in flight:
// it returns promptly, calls nothing afterwards and never frees what a running
// callback returns into.
#include "BusTestSupport.h"

namespace bustest {
namespace {

using Clock = std::chrono::steady_clock;

TEST(BrokerLifetime, DestroyingWithEverythingOpenReturnsPromptlyAndCallsNothingAfterwards) {
    auto broker = std::make_unique<BusBroker::Broker>(std::make_shared<FixedSession>(1));
    void* a = nullptr;
    void* b = nullptr;
    ASSERT_EQ(broker->open(&a), kSuccess);
    ASSERT_EQ(broker->open(&b), kSuccess);
    Inbox busy, silent;
    std::atomic<bool> destroyed{false};
    std::atomic<int> late{0};
    busy.hook = [&](const Delivery&) {
        if (destroyed) ++late;
        // Work, not a wait: 100 callbacks of 5 ms keep most of the messages queued when the
        // broker goes, which is what this test destroys it with.
        std::this_thread::sleep_for(5ms);
    };
    ASSERT_NE(broker->subscribe(a, &busy, &Inbox::Callback, L"busy"), 0u);
    ASSERT_NE(broker->subscribeFilter(b, &silent, &Inbox::Callback, L"svc.*"), 0u);
    ReplyBox replies;
    replies.hook = [&](const Delivery&) {
        if (destroyed) ++late;
    };
    MessageHeader h = NewHeader();
    ASSERT_EQ(broker->request(a, 1, &replies, &ReplyBox::Callback, &h, L"svc.x", L"s", L"", 30), kSuccess);
    ASSERT_EQ(broker->request(a, 2, &replies, &ReplyBox::Callback, &h, L"svc.x", L"s", L"",
                              BusBroker::kInfiniteTimeout),
              kSuccess);
    for (int i = 0; i < 100; ++i) ASSERT_EQ(broker->publish(b, &h, L"busy", L"s", L""), kSuccess);
    ASSERT_TRUE(busy.waitFor(1));

    const auto start = Clock::now();
    broker.reset();
    destroyed = true;
    EXPECT_LT(Clock::now() - start, 1s);
    // Negative check: by the end of the window the 30 ms request would have timed out and
    // the queue would have gone on draining, had anything survived the broker.
    const size_t delivered = busy.count();
    EXPECT_TRUE(busy.staysAt(delivered, 60ms));
    EXPECT_EQ(replies.count(), 0u);
    EXPECT_EQ(late, 0);
    EXPECT_LT(delivered, 100u);
}

TEST(BrokerLifetime, AStuckCallbackDelaysDestructionOnlyForTheGracePeriod) {
    BusBroker::BrokerOptions options;
    options.shutdownGrace = 50ms;
    auto broker = std::make_unique<BusBroker::Broker>(std::make_shared<FixedSession>(1), options);
    void* handle = nullptr;
    ASSERT_EQ(broker->open(&handle), kSuccess);
    Inbox stuck;
    InFlight flight;
    auto threadEnded = std::make_shared<Event>();
    stuck.hook = [&](const Delivery&) {
        SignalWhenThisThreadEnds(threadEnded);
        flight.run();
    };
    ASSERT_NE(broker->subscribe(handle, &stuck, &Inbox::Callback, L"stuck"), 0u);
    MessageHeader h = NewHeader();
    ASSERT_EQ(broker->publish(handle, &h, L"stuck", L"s", L""), kSuccess);
    ASSERT_TRUE(flight.entered.wait());

    const auto start = Clock::now();
    broker.reset();
    EXPECT_LT(Clock::now() - start, 1s);
    // The callback now returns into the broker's state, which its thread keeps alive.
    flight.released.set();
    ASSERT_TRUE(stuck.waitFor(1));
    EXPECT_TRUE(threadEnded->wait()) << "the thread left to finish alone never ended";
}

TEST(BrokerLifetime, ACallbackMayDestroyTheBroker) {
    auto broker = std::make_unique<BusBroker::Broker>(std::make_shared<FixedSession>(1));
    void* handle = nullptr;
    ASSERT_EQ(broker->open(&handle), kSuccess);
    Inbox inbox;
    std::atomic<bool> done{false};
    auto threadEnded = std::make_shared<Event>();
    inbox.hook = [&](const Delivery&) {
        SignalWhenThisThreadEnds(threadEnded);
        broker.reset();
        done = true;
    };
    ASSERT_NE(broker->subscribe(handle, &inbox, &Inbox::Callback, L"end"), 0u);
    MessageHeader h = NewHeader();
    ASSERT_EQ(broker->publish(handle, &h, L"end", L"s", L""), kSuccess);
    ASSERT_TRUE(inbox.waitFor(1));
    EXPECT_TRUE(done);
    // The broker cannot join the thread it was destroyed on; that thread must still end.
    EXPECT_TRUE(threadEnded->wait()) << "the thread that destroyed the broker never ended";
}

}  // namespace
}  // namespace bustest
