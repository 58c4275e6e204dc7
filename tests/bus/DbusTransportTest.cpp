// DbusTransportTest.cpp - the broker carried over a private dbus-daemon.
//
// Each Transport is a connection of its own, as another process would have: the tests put
// two or three of them on one daemon and check what crosses. The daemon is the test's own
// (PrivateDbus), never the machine's bus.
#if GP_BUS_DBUS

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "BusTestSupport.h"
#include "Transport.h"
#include "support/PrivateDbus.h"

namespace bustest {
namespace {

constexpr ModuleStatus kUnavailable = 0x80000013;
constexpr ModuleStatus kTooLarge = 0x80000005;

struct Peer {
    std::unique_ptr<BusBroker::Transport> transport;
    void* handle = nullptr;

    BusBroker::Broker& broker() { return transport->broker(); }

    uint32_t subscribe(Inbox& inbox, const std::wstring& name, bool pattern = false) {
        const uint32_t id = pattern ? broker().subscribeFilter(handle, &inbox, &Inbox::Callback, name.c_str())
                                    : broker().subscribe(handle, &inbox, &Inbox::Callback, name.c_str());
        if (id != 0) transport->subscribed(handle, id, pattern, name.c_str());
        return id;
    }
    ModuleStatus unsubscribe(uint32_t id) {
        const ModuleStatus status = broker().unsubscribe(handle, id);
        if (status == kSuccess) transport->unsubscribed(handle, id);
        return status;
    }
    ModuleStatus publish(const std::wstring& name, const std::wstring& userData, uint32_t flags = 0,
                         uint64_t replyInfo = 0) {
        MessageHeader header = NewHeader();
        header.flags = flags;
        header.replyInfo = replyInfo;
        if (ModuleStatus status = transport->admit(name.c_str(), L"tester", userData.c_str()); status != 0) {
            return status;
        }
        return broker().publish(handle, &header, name.c_str(), L"tester", userData.c_str());
    }
    ModuleStatus request(ReplyBox& box, uint64_t index, const std::wstring& name, uint32_t timeoutMs) {
        MessageHeader header = NewHeader();
        if (ModuleStatus status = transport->admit(name.c_str(), L"tester", L"q"); status != 0) return status;
        return broker().request(handle, index, &box, &ReplyBox::Callback, &header, name.c_str(), L"tester", L"q",
                                timeoutMs);
    }
    // Requests until the other peers' subscriptions have been announced here.
    ModuleStatus requestWhenKnown(ReplyBox& box, uint64_t index, const std::wstring& name, uint32_t timeoutMs) {
        const auto until = std::chrono::steady_clock::now() + kDeadline;
        ModuleStatus status = kNoSubscribers;
        while ((status = request(box, index, name, timeoutMs)) == kNoSubscribers &&
               std::chrono::steady_clock::now() < until) {
            std::this_thread::sleep_for(5ms);
        }
        return status;
    }
};

class DbusTransportTest : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_FALSE(daemon_.address().empty()) << "dbus-daemon did not start"; }

    Peer connect(uint32_t session, uint64_t maxMessageSize = 64u << 20) {
        BusBroker::DbusOptions options;
        options.address = daemon_.address();
        options.maxMessageSize = maxMessageSize;
        std::string error;
        Peer peer;
        peer.transport = BusBroker::ConnectDbus(options, std::make_shared<FixedSession>(session), {}, &error);
        EXPECT_TRUE(peer.transport) << error;
        if (peer.transport) {
            EXPECT_EQ(peer.broker().open(&peer.handle), kSuccess);
        }
        return peer;
    }

    gptest::PrivateDbus daemon_;
};

// Answers every request it gets with "re:" and the request's user data.
struct Responder : Inbox {
    Peer* peer = nullptr;
    Responder() {
        hook = [this](const Delivery& d) {
            peer->publish(d.name, L"re:" + d.userData, BusBroker::FLAG_REPLY, d.header.replyInfo);
        };
    }
};

TEST_F(DbusTransportTest, ThreeSubscribersInTwoOtherProcessesGetEveryMessageInOrder) {
    Inbox exact, pattern, narrow, local;
    Peer publisher = connect(41);
    Peer first = connect(42);
    Peer second = connect(43);
    ASSERT_NE(first.subscribe(exact, L"Core.Firewall.State"), 0u);
    ASSERT_NE(first.subscribe(pattern, L"Core\\..*", true), 0u);
    ASSERT_NE(second.subscribe(narrow, L"Core\\.Firewall\\..*", true), 0u);
    ASSERT_NE(publisher.subscribe(local, L"Core.Firewall.State"), 0u);

    constexpr int kCount = 500;
    for (int i = 0; i < kCount; ++i) {
        ASSERT_EQ(publisher.publish(L"Core.Firewall.State", std::to_wstring(i)), kSuccess);
        if (i % 100 == 0) {
            ASSERT_EQ(publisher.publish(L"Other.Thing", L"x"), kSuccess);
        }
    }
    ASSERT_EQ(publisher.publish(L"Core.Updates", L"last"), kSuccess);

    for (Inbox* inbox : {&exact, &narrow, &local}) {
        ASSERT_TRUE(inbox->waitFor(kCount));
        const std::vector<Delivery> items = inbox->items();
        for (int i = 0; i < kCount; ++i) ASSERT_EQ(items[i].userData, std::to_wstring(i)) << i;
    }
    ASSERT_TRUE(pattern.waitFor(kCount + 1));
    EXPECT_EQ(pattern.items().back().userData, L"last");
    const Delivery d = exact.items().front();
    EXPECT_EQ(d.header.senderSession, 41u);  // the publisher's, not the receiver's
    EXPECT_EQ(d.sender, L"tester");
    EXPECT_EQ(d.header.totalSize, 114u + 2u * (19u + 6u + 1u));
    EXPECT_EQ(local.items().front().header.senderSession, 41u);
    EXPECT_TRUE(narrow.staysAt(kCount, 200ms));  // neither Other.Thing nor Core.Updates
}

TEST_F(DbusTransportTest, RequestsAcrossProcesses) {
    Responder answers;
    Inbox silent;
    Peer requester = connect(41);
    Peer responder = connect(42);
    answers.peer = &responder;
    ASSERT_NE(responder.subscribe(answers, L"Svc.Query"), 0u);
    ASSERT_NE(responder.subscribe(silent, L"Svc\\.Sil.*", true), 0u);

    struct Case {
        const wchar_t* name;
        uint32_t timeoutMs;
        ModuleStatus requestStatus;
        ModuleStatus replyStatus;
        const wchar_t* replyData;
    };
    const Case cases[] = {
        {L"Svc.Query", 5000, kSuccess, kSuccess, L"re:q"},
        {L"Svc.Silent", 200, kSuccess, kTimeout, L"q"},  // a timeout hands back the request
    };
    uint64_t index = 100;
    for (const Case& c : cases) {
        ReplyBox box;
        ASSERT_EQ(requester.requestWhenKnown(box, ++index, c.name, c.timeoutMs), c.requestStatus) << c.name;
        ASSERT_TRUE(box.waitFor(1)) << c.name;
        const Delivery reply = box.items().front();
        EXPECT_EQ(reply.status, c.replyStatus) << c.name;
        EXPECT_EQ(reply.replyIndex, index) << c.name;
        EXPECT_EQ(reply.userData, c.replyData) << c.name;
        EXPECT_NE(reply.header.replyInfo, 0u) << c.name;
        EXPECT_TRUE(box.staysAt(1, 100ms)) << c.name;
    }
    ReplyBox nobody;
    EXPECT_EQ(requester.request(nobody, 1, L"Svc.Nobody", 1000), kNoSubscribers);

    // The responder saw the request with the requester's session and a replyInfo.
    const Delivery seen = answers.items().front();
    EXPECT_EQ(seen.header.senderSession, 41u);
    EXPECT_NE(seen.header.replyInfo, 0u);
    EXPECT_EQ(seen.header.flags & BusBroker::FLAG_REPLY, 0u);
}

TEST_F(DbusTransportTest, WithdrawnAndVanishedSubscribersGetNothingMore) {
    Inbox withdrawn, kept, vanishing;
    ReplyBox early;
    Peer publisher = connect(41);
    Peer stays = connect(42);
    const uint32_t id = stays.subscribe(withdrawn, L"Tick");
    ASSERT_NE(id, 0u);
    ASSERT_NE(stays.subscribe(kept, L"Tick"), 0u);
    {
        Peer goes = connect(43);
        ASSERT_NE(goes.subscribe(vanishing, L"Only.There"), 0u);
        ASSERT_EQ(publisher.requestWhenKnown(early, 1, L"Only.There", 60000), kSuccess);
        ASSERT_TRUE(vanishing.waitFor(1));
    }  // its connection is gone, as when the process ends

    std::atomic<bool> unsubscribed{false};
    std::atomic<int> lateCalls{0};
    withdrawn.hook = [&](const Delivery&) {
        if (unsubscribed) ++lateCalls;
    };
    ASSERT_EQ(publisher.publish(L"Tick", L"0"), kSuccess);
    ASSERT_TRUE(withdrawn.waitFor(1));
    auto flood = Concurrently([&] {
        for (int i = 1; i <= 300; ++i) publisher.publish(L"Tick", std::to_wstring(i));
    });
    ASSERT_EQ(stays.unsubscribe(id), kSuccess);
    unsubscribed = true;
    flood.get();
    ASSERT_TRUE(kept.waitFor(301));
    EXPECT_EQ(lateCalls.load(), 0);
    EXPECT_EQ(stays.unsubscribe(id), kNotFound);

    // The vanished peer's subscription is forgotten: a request to it finds nobody.
    const auto until = std::chrono::steady_clock::now() + kDeadline;
    ReplyBox box;
    ModuleStatus status = kSuccess;
    while ((status = publisher.request(box, 2, L"Only.There", 100)) == kSuccess &&
           std::chrono::steady_clock::now() < until) {
        std::this_thread::sleep_for(10ms);
    }
    EXPECT_EQ(status, kNoSubscribers);
}

// A reply that comes back from another process after releaseReplyCallback or close has
// returned reaches nobody.
TEST_F(DbusTransportTest, ReplyAfterWithdrawalAcrossProcessesRunsNoCallback) {
    for (const bool byClose : {false, true}) {
        Inbox seen;
        ReplyBox box;
        Peer requester = connect(41);
        Peer responder = connect(42);
        ASSERT_NE(responder.subscribe(seen, L"Svc.Later"), 0u);
        ASSERT_EQ(requester.requestWhenKnown(box, 5, L"Svc.Later", 60000), kSuccess);
        ASSERT_TRUE(seen.waitFor(1));
        if (byClose) {
            ASSERT_EQ(requester.broker().close(requester.handle), kSuccess);
            requester.transport->closed(requester.handle);
        } else {
            ASSERT_EQ(requester.broker().releaseReplyCallback(requester.handle, &ReplyBox::Callback), kSuccess);
        }
        const Delivery request = seen.items().front();
        ASSERT_EQ(responder.publish(L"Svc.Later", L"late", BusBroker::FLAG_REPLY, request.header.replyInfo), kSuccess);
        // The reply crosses the bus in well under the window (see the request test's round trip).
        EXPECT_TRUE(box.staysAt(0, 300ms)) << (byClose ? "close" : "releaseReplyCallback");
    }
}

TEST_F(DbusTransportTest, MessageLargerThanTheBusCarriesIsRefusedEverywhere) {
    Inbox local, remote;
    Peer publisher = connect(41, 4096);
    Peer other = connect(42);
    ASSERT_NE(publisher.subscribe(local, L"Big"), 0u);
    ASSERT_NE(other.subscribe(remote, L"Big"), 0u);
    const size_t fits = (4096 - 114 - 2 * (3 + 6)) / 2;
    EXPECT_EQ(publisher.publish(L"Big", std::wstring(fits + 1, L'x')), kTooLarge);
    EXPECT_EQ(publisher.publish(L"Big", std::wstring(fits, L'x')), kSuccess);
    ASSERT_TRUE(remote.waitFor(1));
    ASSERT_TRUE(local.waitFor(1));
    EXPECT_EQ(remote.items().front().userData.size(), fits);
    EXPECT_EQ(local.count(), 1u);
}

TEST_F(DbusTransportTest, BusThatGoesAwayGivesStatusesAndNothingHangs) {
    Inbox silent;
    ReplyBox pending, refused;
    Peer requester = connect(41);
    Peer responder = connect(42);
    ASSERT_NE(responder.subscribe(silent, L"Svc.Silent"), 0u);
    ASSERT_EQ(requester.requestWhenKnown(pending, 9, L"Svc.Silent", 500), kSuccess);

    daemon_.kill();
    const auto until = std::chrono::steady_clock::now() + kDeadline;
    ModuleStatus status = kSuccess;
    while ((status = requester.publish(L"Any", L"x")) == kSuccess && std::chrono::steady_clock::now() < until) {
        std::this_thread::sleep_for(5ms);
    }
    EXPECT_EQ(status, kUnavailable);
    EXPECT_EQ(requester.request(refused, 10, L"Svc.Silent", 100), kUnavailable);
    ASSERT_TRUE(pending.waitFor(1));
    EXPECT_EQ(pending.items().front().status, kTimeout);
    // Closing and shutting down still work with the bus gone.
    EXPECT_EQ(requester.broker().close(requester.handle), kSuccess);
    requester.transport.reset();
    responder.transport.reset();
}

TEST(DbusTransportConnect, UnreachableBusIsAnErrorNotAHang) {
    BusBroker::DbusOptions options;
    options.address = "unix:path=/nonexistent/glimmerpane-test-socket";
    std::string error;
    EXPECT_FALSE(BusBroker::ConnectDbus(options, nullptr, {}, &error));
    EXPECT_NE(error.find("cannot connect"), std::string::npos) << error;
}

}  // namespace
}  // namespace bustest

#endif  // GP_BUS_DBUS
