// The withdrawal guarantees: once unsubscribe, releaseReplyCallback or close has
// returned, nothing of what it withdrew runs - whether called from the test thread,
// from another delivery thread or from inside the withdrawn callback itself.
#include "BusTestSupport.h"
#include "support/RecordingLogger.h"

namespace bustest {
namespace {

// Marks the span of a callback so that a test can check it is not running.
struct InFlight {
    std::atomic<bool> inside{false};
    std::atomic<bool> entered{false};
    void run(std::chrono::milliseconds hold) {
        inside = true;
        entered = true;
        std::this_thread::sleep_for(hold);
        inside = false;
    }
    bool waitEntered() {
        const auto until = std::chrono::steady_clock::now() + 10s;
        while (!entered && std::chrono::steady_clock::now() < until) std::this_thread::sleep_for(1ms);
        return entered;
    }
};

TEST_F(BrokerTest, NoMessageCallbackRunsOnceUnsubscribeHasReturned) {
    Inbox inbox;
    InFlight flight;
    std::atomic<bool> withdrawn{false};
    std::atomic<int> late{0};
    inbox.hook = [&](const Delivery&) {
        if (withdrawn) ++late;
        flight.run(2ms);
    };
    const auto stop = stopBrokerOnExit();
    const uint32_t id = subscribe(inbox, L"busy");
    ASSERT_NE(id, 0u);
    for (int i = 0; i < 200; ++i) ASSERT_EQ(publish(L"busy"), kSuccess);
    ASSERT_TRUE(flight.waitEntered());
    ASSERT_EQ(broker_->unsubscribe(handle_, id), kSuccess);
    EXPECT_FALSE(flight.inside) << "unsubscribe returned while the callback ran";
    withdrawn = true;
    std::this_thread::sleep_for(50ms);
    EXPECT_EQ(late, 0);
    EXPECT_LT(inbox.count(), 200u) << "the queued messages were withdrawn, not delivered";
    EXPECT_EQ(broker_->unsubscribe(handle_, id), kNotFound);
}

TEST_F(BrokerTest, ACallbackMayUnsubscribeItself) {
    Inbox inbox;
    std::atomic<uint32_t> id{0};
    std::atomic<ModuleStatus> status{0xFFFFFFFF};
    inbox.hook = [&](const Delivery&) {
        if (status == 0xFFFFFFFF) status = broker_->unsubscribe(handle_, id);
    };
    const auto stop = stopBrokerOnExit();
    id = subscribe(inbox, L"self");
    ASSERT_NE(id.load(), 0u);
    for (int i = 0; i < 20; ++i) ASSERT_EQ(publish(L"self"), kSuccess);
    ASSERT_TRUE(inbox.waitFor(1));
    std::this_thread::sleep_for(30ms);
    EXPECT_EQ(status, kSuccess);
    EXPECT_EQ(inbox.count(), 1u);
}

TEST_F(BrokerTest, UnsubscribeFromAnotherDeliveryThreadWaitsForTheCallbackInFlight) {
    Inbox target, killer;
    InFlight flight;
    target.hook = [&](const Delivery&) { flight.run(100ms); };
    const uint32_t targetId = subscribe(target, L"target");
    ASSERT_NE(targetId, 0u);
    std::atomic<bool> insideWhenReturned{true};
    std::atomic<ModuleStatus> status{0xFFFFFFFF};
    killer.hook = [&](const Delivery&) {
        flight.waitEntered();
        status = broker_->unsubscribe(handle_, targetId);
        insideWhenReturned = flight.inside.load();
    };
    const auto stop = stopBrokerOnExit();
    ASSERT_NE(subscribe(killer, L"killer"), 0u);
    ASSERT_EQ(publish(L"target"), kSuccess);
    ASSERT_EQ(publish(L"target"), kSuccess);
    ASSERT_EQ(publish(L"killer"), kSuccess);
    ASSERT_TRUE(killer.waitFor(1));
    EXPECT_EQ(status, kSuccess);
    EXPECT_FALSE(insideWhenReturned);
    std::this_thread::sleep_for(150ms);
    EXPECT_EQ(target.count(), 1u) << "the second queued message was withdrawn";
}

TEST_F(BrokerTest, TwoCallbacksUnsubscribingEachOtherDoNotDeadlock) {
    gptest::LogCapture log;
    Inbox a, b;
    InFlight inA, inB;
    std::atomic<uint32_t> idA{0}, idB{0};
    a.hook = [&](const Delivery&) {
        inA.entered = true;
        inB.waitEntered();
        broker_->unsubscribe(handle_, idB);
    };
    b.hook = [&](const Delivery&) {
        inB.entered = true;
        inA.waitEntered();
        broker_->unsubscribe(handle_, idA);
    };
    const auto stop = stopBrokerOnExit();
    idA = subscribe(a, L"a");
    idB = subscribe(b, L"b");
    ASSERT_EQ(publish(L"a"), kSuccess);
    ASSERT_EQ(publish(L"b"), kSuccess);
    ASSERT_TRUE(a.waitFor(1));
    ASSERT_TRUE(b.waitFor(1));
    EXPECT_EQ(log.containing(L"that callback waits for this one").size(), 1u);
}

TEST_F(BrokerTest, NoReplyCallbackRunsOnceReleaseReplyCallbackHasReturned) {
    Inbox responder;  // never answers
    ASSERT_NE(subscribe(responder, L"svc"), 0u);
    ReplyBox released, kept;
    const auto stop = stopBrokerOnExit();
    MessageHeader h = NewHeader();
    ASSERT_EQ(broker_->request(handle_, 1, &released, &ReplyBox::Callback, &h, L"svc", L"s", L"", 40), kSuccess);
    ASSERT_EQ(broker_->request(handle_, 2, &kept, &ReplyBox::OtherCallback, &h, L"svc", L"s", L"", 40), kSuccess);
    ASSERT_EQ(broker_->releaseReplyCallback(handle_, &ReplyBox::Callback), kSuccess);
    ASSERT_TRUE(kept.waitFor(1));
    EXPECT_EQ(kept.items()[0].status, kTimeout);
    std::this_thread::sleep_for(60ms);
    EXPECT_EQ(released.count(), 0u);
    EXPECT_EQ(broker_->releaseReplyCallback(handle_, &ReplyBox::Callback), kSuccess) << "nothing left is fine";
}

TEST_F(BrokerTest, ReleaseReplyCallbackWaitsForAReplyCallbackInFlightButNotForItself) {
    Inbox responder;
    ASSERT_NE(subscribe(responder, L"svc"), 0u);
    ReplyBox slow, selfReleasing;
    InFlight flight;
    slow.hook = [&](const Delivery&) { flight.run(100ms); };
    std::atomic<ModuleStatus> selfStatus{0xFFFFFFFF};
    selfReleasing.hook = [&](const Delivery&) {
        selfStatus = broker_->releaseReplyCallback(handle_, &ReplyBox::OtherCallback);
    };
    const auto stop = stopBrokerOnExit();
    MessageHeader h = NewHeader();
    ASSERT_EQ(broker_->request(handle_, 1, &slow, &ReplyBox::Callback, &h, L"svc", L"s", L"", 1), kSuccess);
    ASSERT_EQ(broker_->request(handle_, 2, &selfReleasing, &ReplyBox::OtherCallback, &h, L"svc", L"s", L"", 1),
              kSuccess);
    ASSERT_TRUE(flight.waitEntered());
    ASSERT_EQ(broker_->releaseReplyCallback(handle_, &ReplyBox::Callback), kSuccess);
    EXPECT_FALSE(flight.inside);
    ASSERT_TRUE(selfReleasing.waitFor(1));
    EXPECT_EQ(selfStatus, kSuccess);
}

TEST_F(BrokerTest, CloseWithdrawsSubscriptionsAndRequestsAndKillsTheHandle) {
    void* other = nullptr;
    ASSERT_EQ(broker_->open(&other), kSuccess);
    Inbox closedInbox, otherInbox, responder;
    ReplyBox replies;
    InFlight flight;
    closedInbox.hook = [&](const Delivery&) { flight.run(100ms); };
    const auto stop = stopBrokerOnExit();
    ASSERT_NE(subscribe(closedInbox, L"news"), 0u);
    ASSERT_NE(subscribe(otherInbox, L"news", other), 0u);
    ASSERT_NE(subscribe(responder, L"svc", other), 0u);
    MessageHeader h = NewHeader();
    ASSERT_EQ(broker_->request(handle_, 1, &replies, &ReplyBox::Callback, &h, L"svc", L"s", L"",
                               BusBroker::kInfiniteTimeout),
              kSuccess);
    ASSERT_TRUE(responder.waitFor(1));
    ASSERT_EQ(publish(L"news"), kSuccess);
    ASSERT_TRUE(flight.waitEntered());

    ASSERT_EQ(broker_->close(handle_), kSuccess);
    EXPECT_FALSE(flight.inside) << "close returned while the handle's callback ran";

    // The late reply is dropped cleanly; the other handle still works.
    MessageHeader reply = responder.items()[0].header;
    reply.flags |= BusBroker::FLAG_REPLY;
    EXPECT_EQ(broker_->publish(other, &reply, L"svc", L"r", L"late"), kSuccess);
    EXPECT_EQ(publish(L"news", L"after", other), kSuccess);
    ASSERT_TRUE(otherInbox.waitFor(2));
    std::this_thread::sleep_for(20ms);
    EXPECT_EQ(closedInbox.count(), 1u);
    EXPECT_EQ(replies.count(), 0u);

    EXPECT_EQ(publish(L"news"), kInvalidHandle);
    EXPECT_EQ(subscribe(closedInbox, L"news"), 0u);
    EXPECT_EQ(broker_->close(handle_), kInvalidHandle);
}

TEST_F(BrokerTest, ACallbackMayCloseItsOwnHandle) {
    Inbox inbox;
    std::atomic<ModuleStatus> status{0xFFFFFFFF};
    inbox.hook = [&](const Delivery&) {
        if (status == 0xFFFFFFFF) status = broker_->close(handle_);
    };
    const auto stop = stopBrokerOnExit();
    ASSERT_NE(subscribe(inbox, L"bye"), 0u);
    void* publisher = nullptr;
    ASSERT_EQ(broker_->open(&publisher), kSuccess);
    for (int i = 0; i < 10; ++i) ASSERT_EQ(publish(L"bye", L"", publisher), kSuccess);
    ASSERT_TRUE(inbox.waitFor(1));
    std::this_thread::sleep_for(30ms);
    EXPECT_EQ(status, kSuccess);
    EXPECT_EQ(inbox.count(), 1u);
    EXPECT_EQ(publish(L"bye"), kInvalidHandle);
}

}  // namespace
}  // namespace bustest
