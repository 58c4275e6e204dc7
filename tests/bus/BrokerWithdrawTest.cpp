// The withdrawal guarantees: once unsubscribe, releaseReplyCallback or close has
// returned, nothing of what it withdrew runs - whether called from the test thread,
// from another delivery thread or from inside the withdrawn callback itself.
#include "BusTestSupport.h"
#include "support/RecordingLogger.h"

namespace bustest {
namespace {

// How long a withdrawal gets to return too early while a callback is held in flight. A
// withdrawal that does not wait returns at once, far inside the window.
constexpr auto kEarlyReturnWindow = 30ms;

TEST_F(BrokerTest, NoMessageCallbackRunsOnceUnsubscribeHasReturned) {
    Inbox inbox;
    InFlight flight;
    std::atomic<bool> withdrawn{false};
    std::atomic<int> late{0};
    inbox.hook = [&](const Delivery&) {
        if (withdrawn) ++late;
        flight.run();
    };
    const auto stop = stopBrokerOnExit();
    const uint32_t id = subscribe(inbox, L"busy");
    ASSERT_NE(id, 0u);
    for (int i = 0; i < 200; ++i) ASSERT_EQ(publish(L"busy"), kSuccess);
    ASSERT_TRUE(flight.entered.wait());
    std::atomic<bool> insideWhenReturned{false};
    auto unsubscribing = Concurrently([&] {
        const ModuleStatus status = broker_->unsubscribe(handle_, id);
        insideWhenReturned = flight.inside.load();
        withdrawn = true;
        return status;
    });
    EXPECT_EQ(unsubscribing.wait_for(kEarlyReturnWindow), std::future_status::timeout)
        << "unsubscribe returned while the callback ran";
    flight.released.set();
    ASSERT_EQ(unsubscribing.wait_for(kDeadline), std::future_status::ready);
    EXPECT_EQ(unsubscribing.get(), kSuccess);
    EXPECT_FALSE(insideWhenReturned) << "unsubscribe returned while the callback ran";
    // Negative check: 199 messages were still queued; with nothing held any more they
    // would drain within the window.
    const size_t delivered = inbox.count();
    EXPECT_TRUE(inbox.staysAt(delivered, 50ms));
    EXPECT_EQ(late, 0);
    EXPECT_LT(delivered, 200u) << "the queued messages were withdrawn, not delivered";
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
    EXPECT_EQ(status, kSuccess);
    // Negative check: the other 19 were queued and would drain within the window.
    EXPECT_TRUE(inbox.staysAt(1, 30ms));
}

TEST_F(BrokerTest, UnsubscribeFromAnotherDeliveryThreadWaitsForTheCallbackInFlight) {
    Inbox target, killer;
    InFlight flight;
    target.hook = [&](const Delivery&) { flight.run(); };
    const uint32_t targetId = subscribe(target, L"target");
    ASSERT_NE(targetId, 0u);
    Event killing;
    std::atomic<bool> insideWhenReturned{true};
    std::atomic<ModuleStatus> status{0xFFFFFFFF};
    killer.hook = [&](const Delivery&) {
        flight.entered.wait();
        killing.set();
        status = broker_->unsubscribe(handle_, targetId);
        insideWhenReturned = flight.inside.load();
    };
    const auto stop = stopBrokerOnExit();
    ASSERT_NE(subscribe(killer, L"killer"), 0u);
    ASSERT_EQ(publish(L"target"), kSuccess);
    ASSERT_EQ(publish(L"target"), kSuccess);
    ASSERT_EQ(publish(L"killer"), kSuccess);
    ASSERT_TRUE(killing.wait());
    // The killer records its delivery only once unsubscribe has returned.
    EXPECT_FALSE(killer.waitFor(1, kEarlyReturnWindow)) << "unsubscribe returned while the callback ran";
    flight.released.set();
    ASSERT_TRUE(killer.waitFor(1));
    EXPECT_EQ(status, kSuccess);
    EXPECT_FALSE(insideWhenReturned);
    // Negative check: the second queued message would arrive within the window.
    EXPECT_TRUE(target.staysAt(1, 50ms)) << "the second queued message was withdrawn";
}

TEST_F(BrokerTest, TwoCallbacksUnsubscribingEachOtherDoNotDeadlock) {
    gptest::LogCapture log;
    Inbox a, b;
    Event enteredA, enteredB;
    std::atomic<uint32_t> idA{0}, idB{0};
    a.hook = [&](const Delivery&) {
        enteredA.set();
        enteredB.wait();
        broker_->unsubscribe(handle_, idB);
    };
    b.hook = [&](const Delivery&) {
        enteredB.set();
        enteredA.wait();
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
    // Negative check: the released request's deadline came first, so its timeout would
    // already be running on another delivery thread.
    EXPECT_TRUE(released.staysAt(0, 60ms));
    EXPECT_EQ(broker_->releaseReplyCallback(handle_, &ReplyBox::Callback), kSuccess) << "nothing left is fine";
}

TEST_F(BrokerTest, ReleaseReplyCallbackWaitsForAReplyCallbackInFlightButNotForItself) {
    Inbox responder;
    ASSERT_NE(subscribe(responder, L"svc"), 0u);
    ReplyBox slow, selfReleasing;
    InFlight flight;
    slow.hook = [&](const Delivery&) { flight.run(); };
    std::atomic<ModuleStatus> selfStatus{0xFFFFFFFF};
    selfReleasing.hook = [&](const Delivery&) {
        selfStatus = broker_->releaseReplyCallback(handle_, &ReplyBox::OtherCallback);
    };
    const auto stop = stopBrokerOnExit();
    MessageHeader h = NewHeader();
    ASSERT_EQ(broker_->request(handle_, 1, &slow, &ReplyBox::Callback, &h, L"svc", L"s", L"", 1), kSuccess);
    ASSERT_EQ(broker_->request(handle_, 2, &selfReleasing, &ReplyBox::OtherCallback, &h, L"svc", L"s", L"", 1),
              kSuccess);
    ASSERT_TRUE(flight.entered.wait());
    std::atomic<bool> insideWhenReturned{false};
    auto releasing = Concurrently([&] {
        const ModuleStatus status = broker_->releaseReplyCallback(handle_, &ReplyBox::Callback);
        insideWhenReturned = flight.inside.load();
        return status;
    });
    EXPECT_EQ(releasing.wait_for(kEarlyReturnWindow), std::future_status::timeout)
        << "releaseReplyCallback returned while the reply callback ran";
    flight.released.set();
    ASSERT_EQ(releasing.wait_for(kDeadline), std::future_status::ready);
    EXPECT_EQ(releasing.get(), kSuccess);
    EXPECT_FALSE(insideWhenReturned);
    ASSERT_TRUE(selfReleasing.waitFor(1));
    EXPECT_EQ(selfStatus, kSuccess);
}

TEST_F(BrokerTest, CloseWithdrawsSubscriptionsAndRequestsAndKillsTheHandle) {
    void* other = nullptr;
    ASSERT_EQ(broker_->open(&other), kSuccess);
    Inbox closedInbox, otherInbox, responder;
    ReplyBox replies;
    InFlight flight;
    closedInbox.hook = [&](const Delivery&) { flight.run(); };
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
    ASSERT_TRUE(flight.entered.wait());

    std::atomic<bool> insideWhenReturned{false};
    auto closing = Concurrently([&] {
        const ModuleStatus status = broker_->close(handle_);
        insideWhenReturned = flight.inside.load();
        return status;
    });
    EXPECT_EQ(closing.wait_for(kEarlyReturnWindow), std::future_status::timeout)
        << "close returned while the handle's callback ran";
    flight.released.set();
    ASSERT_EQ(closing.wait_for(kDeadline), std::future_status::ready);
    ASSERT_EQ(closing.get(), kSuccess);
    EXPECT_FALSE(insideWhenReturned) << "close returned while the handle's callback ran";

    // The late reply is dropped cleanly; the other handle still works.
    MessageHeader reply = responder.items()[0].header;
    reply.flags |= BusBroker::FLAG_REPLY;
    EXPECT_EQ(broker_->publish(other, &reply, L"svc", L"r", L"late"), kSuccess);
    EXPECT_EQ(publish(L"news", L"after", other), kSuccess);
    ASSERT_TRUE(otherInbox.waitFor(2));
    // Negative check: the other handle's subscription to the same name has had both
    // messages, so the closed one would have had its second by the end of the window.
    EXPECT_TRUE(closedInbox.staysAt(1, 20ms));
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
    EXPECT_EQ(status, kSuccess);
    // Negative check: nine more were queued and would drain within the window.
    EXPECT_TRUE(inbox.staysAt(1, 30ms));
    EXPECT_EQ(publish(L"bye"), kInvalidHandle);
}

}  // namespace
}  // namespace bustest
