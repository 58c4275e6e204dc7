// Publishing and subscribing: header stamping, argument checks, exact and pattern
// matching, per-subscription order, parallel subscriptions and the pool's bound.
#include <cstring>
#include <set>

#include "BusFunctions.h"
#include "BusTestSupport.h"
#include "support/CaseNames.h"
#include "support/RecordingLogger.h"

namespace bustest {
namespace {

TEST_F(BrokerTest, DeliversACopyWithAStampedVersion2Header) {
    Inbox inbox;
    const auto stop = stopBrokerOnExit();
    ASSERT_NE(subscribe(inbox, L"status.dat"), 0u);

    MessageHeader v1 = NewHeader(1);
    v1.flags = 0x24;
    v1.reserved[5] = 0xAB;
    v1.replyInfo = 99;
    v1.ext1 = 0x7777;  // beyond a version-1 header: must not be read
    // U+1F600 is two UTF-16 units.
    ASSERT_EQ(broker_->publish(handle_, &v1, L"status.dat", L"s", L"\U0001F600x"), kSuccess);
    MessageHeader v2 = NewHeader(2);
    v2.ext1 = 5;
    v2.ext2 = 6;
    v2.senderSession = 3;
    ASSERT_EQ(broker_->publish(handle_, &v2, L"status.dat", L"", L""), kSuccess);

    ASSERT_TRUE(inbox.waitFor(2));
    const auto items = inbox.items();
    const MessageHeader& first = items[0].header;
    EXPECT_EQ(first.headerVersion, 2);
    EXPECT_EQ(first.totalSize, 114u + 2u * (10u + 1u + 3u));
    EXPECT_EQ(first.flags, 0x24u);
    EXPECT_EQ(first.reserved[5], 0xAB);
    EXPECT_EQ(first.replyInfo, 99u);
    EXPECT_EQ(first.ext1, 11);
    EXPECT_EQ(first.ext2, 8);
    EXPECT_EQ(first.senderSession, 7u);
    EXPECT_EQ(items[0].userData, L"\U0001F600x");
    EXPECT_EQ(items[0].sender, L"s");
    EXPECT_EQ(items[0].context, &inbox);

    const MessageHeader& second = items[1].header;
    EXPECT_EQ(second.totalSize, 114u + 2u * 10u);
    EXPECT_EQ(second.ext1, 5);
    EXPECT_EQ(second.ext2, 6);
    EXPECT_EQ(second.senderSession, 7u) << "the broker stamps the sender's session, whatever the caller wrote";
}

TEST_F(BrokerTest, RefusesBadArgumentsWithStatuses) {
    Inbox inbox;
    MessageHeader h = NewHeader();
    void* unknown = reinterpret_cast<void*>(uintptr_t{0x5150});
    const std::wstring longest(BusBroker::kMaxNameLength, L'n');
    const std::wstring tooLong(BusBroker::kMaxNameLength + 1, L'n');
    struct Case {
        const char* what;
        ModuleStatus got;
        ModuleStatus expected;
    } cases[] = {
        {"open(null)", broker_->open(nullptr), kInvalidParameter},
        {"close(null)", broker_->close(nullptr), kInvalidParameter},
        {"close(unknown)", broker_->close(unknown), kInvalidHandle},
        {"publish null handle", broker_->publish(nullptr, &h, L"n", L"s", L"u"), kInvalidParameter},
        {"publish unknown handle", broker_->publish(unknown, &h, L"n", L"s", L"u"), kInvalidHandle},
        {"publish null header", broker_->publish(handle_, nullptr, L"n", L"s", L"u"), kInvalidParameter},
        {"publish null name", broker_->publish(handle_, &h, nullptr, L"s", L"u"), kInvalidParameter},
        {"publish empty name", broker_->publish(handle_, &h, L"", L"s", L"u"), kInvalidParameter},
        {"publish null sender", broker_->publish(handle_, &h, L"n", nullptr, L"u"), kInvalidParameter},
        {"publish null userData", broker_->publish(handle_, &h, L"n", L"s", nullptr), kInvalidParameter},
        {"publish longest name", broker_->publish(handle_, &h, longest.c_str(), L"s", L"u"), kSuccess},
        {"publish too long name", broker_->publish(handle_, &h, tooLong.c_str(), L"s", L"u"), kInvalidParameter},
        {"request null callback", broker_->request(handle_, 0, nullptr, nullptr, &h, L"n", L"s", L"u", 10),
         kInvalidParameter},
        {"request null handle", broker_->request(nullptr, 0, nullptr, &ReplyBox::Callback, &h, L"n", L"s", L"u", 10),
         kInvalidParameter},
        {"unsubscribe unknown id", broker_->unsubscribe(handle_, 12345), kNotFound},
        {"unsubscribe unknown handle", broker_->unsubscribe(unknown, 1), kInvalidHandle},
        {"release null callback", broker_->releaseReplyCallback(handle_, nullptr), kInvalidParameter},
        {"release unknown handle", broker_->releaseReplyCallback(unknown, &ReplyBox::Callback), kInvalidHandle},
    };
    for (const Case& c : cases) EXPECT_EQ(c.got, c.expected) << c.what;

    EXPECT_EQ(broker_->subscribe(handle_, &inbox, nullptr, L"n"), 0u);
    EXPECT_EQ(broker_->subscribe(handle_, &inbox, &Inbox::Callback, nullptr), 0u);
    EXPECT_EQ(broker_->subscribe(handle_, &inbox, &Inbox::Callback, L""), 0u);
    EXPECT_EQ(broker_->subscribe(handle_, &inbox, &Inbox::Callback, tooLong.c_str()), 0u);
    EXPECT_EQ(broker_->subscribe(nullptr, &inbox, &Inbox::Callback, L"n"), 0u);
    EXPECT_EQ(broker_->subscribe(unknown, &inbox, &Inbox::Callback, L"n"), 0u);
    EXPECT_EQ(broker_->subscribeFilter(handle_, &inbox, nullptr, L"n.*"), 0u);
}

TEST_F(BrokerTest, SubscriptionIdsAreNonZeroAndDistinctAcrossHandles) {
    void* other = nullptr;
    ASSERT_EQ(broker_->open(&other), kSuccess);
    EXPECT_NE(other, handle_);
    Inbox inbox;
    std::set<uint32_t> ids;
    const auto stop = stopBrokerOnExit();
    for (int i = 0; i < 50; ++i) {
        const uint32_t id = i % 2 ? subscribe(inbox, L"a.b", other)
                                  : broker_->subscribeFilter(handle_, &inbox, &Inbox::Callback, L"a\\..*");
        EXPECT_NE(id, 0u);
        ids.insert(id);
    }
    EXPECT_EQ(ids.size(), 50u);
    // An id belongs to the handle that made it.
    EXPECT_EQ(broker_->unsubscribe(handle_, *ids.begin() + 1), kNotFound);
    EXPECT_EQ(broker_->unsubscribe(other, *ids.begin() + 1), kSuccess);
}

struct PatternCase {
    const char* name;
    const wchar_t* pattern;
    const wchar_t* message;
    bool matches;
};

void PrintTo(const PatternCase& c, std::ostream* os) {
    *os << gptest::Show(c.pattern) << (c.matches ? " matches " : " does not match ") << gptest::Show(c.message);
}

class PatternMatch : public BrokerTest, public ::testing::WithParamInterface<PatternCase> {};

TEST_P(PatternMatch, MatchesTheWholeNameCaseSensitively) {
    const PatternCase& c = GetParam();
    Inbox inbox;
    // The marker alternative lets the test know when the tested name would have arrived:
    // one subscription delivers in publish order.
    const std::wstring pattern = std::wstring(L"(?:") + c.pattern + L")|zz\\.marker";
    const auto stop = stopBrokerOnExit();
    ASSERT_NE(broker_->subscribeFilter(handle_, &inbox, &Inbox::Callback, pattern.c_str()), 0u);
    ASSERT_EQ(publish(c.message), kSuccess);
    ASSERT_EQ(publish(L"zz.marker"), kSuccess);
    ASSERT_TRUE(inbox.waitFor(c.matches ? 2 : 1));
    const auto items = inbox.items();
    ASSERT_EQ(items.size(), c.matches ? 2u : 1u);
    EXPECT_EQ(items.front().name, c.matches ? std::wstring(c.message) : std::wstring(L"zz.marker"));
}

INSTANTIATE_TEST_SUITE_P(
    Cases, PatternMatch,
    ::testing::Values(PatternCase{"Prefix", L"status\\..*", L"status.firewall", true},
                      PatternCase{"PrefixInsideTheName", L"status\\..*", L"my.status.firewall", false},
                      PatternCase{"PrefixWithoutWildcard", L"status", L"status.firewall", false},
                      PatternCase{"OtherCase", L"Status\\..*", L"status.firewall", false},
                      PatternCase{"Alternative", L"a|b", L"b", true},
                      PatternCase{"AlternativeIsTheWholeName", L"a|b", L"ab", false},
                      PatternCase{"ClassAndCount", L"[a-c]+\\.\\d{2}", L"abc.42", true},
                      PatternCase{"NonAscii", L"\u00e9t\u00e9\\..*", L"\u00e9t\u00e9.x", true}),
    gptest::ByName());

TEST_F(BrokerTest, AnInvalidPatternIsRefusedWithALogRecordAndNothingThrown) {
    gptest::LogCapture log;
    Inbox inbox;
    const auto stop = stopBrokerOnExit();
    for (const wchar_t* bad : {L"([a-", L"*x", L"a{2,1}", L"(?<n>x)"}) {
        EXPECT_EQ(broker_->subscribeFilter(handle_, &inbox, &Inbox::Callback, bad), 0u) << bad;
    }
    EXPECT_EQ(log.containing(L"Invalid name pattern").size(), 4u);
    // The broker is unharmed.
    ASSERT_NE(broker_->subscribeFilter(handle_, &inbox, &Inbox::Callback, L"ok.*"), 0u);
    ASSERT_EQ(publish(L"ok.1"), kSuccess);
    EXPECT_TRUE(inbox.waitFor(1));
}

TEST_F(BrokerTest, AMessageWithoutSubscribersIsDroppedAndARequestReportsNoSubscribers) {
    ReplyBox replies;
    EXPECT_EQ(publish(L"nobody.listens"), kSuccess);
    MessageHeader h = NewHeader();
    EXPECT_EQ(broker_->request(handle_, 1, &replies, &ReplyBox::Callback, &h, L"nobody.listens", L"s", L"", 1),
              kNoSubscribers);
    // A subscriber on another name does not change that.
    Inbox inbox;
    const auto stop = stopBrokerOnExit();
    ASSERT_NE(subscribe(inbox, L"somebody.listens"), 0u);
    EXPECT_EQ(publish(L"nobody.listens"), kSuccess);
    // One subscription delivers in publish order: had the first message been queued for
    // this one, it would arrive before the second.
    EXPECT_EQ(publish(L"somebody.listens", L"after"), kSuccess);
    ASSERT_TRUE(inbox.waitFor(1));
    EXPECT_EQ(inbox.items().front().name, L"somebody.listens");
    // Negative check: the refused request asked for a 1 ms timeout, long past by the end of the window.
    EXPECT_TRUE(replies.staysAt(0, 30ms)) << "a refused request never calls back, not even with a timeout";
    EXPECT_EQ(inbox.count(), 1u);
}

TEST_F(BrokerTest, EachSubscriptionSeesEveryPublisherInPublishOrder) {
    Inbox exact, pattern;
    const auto stop = stopBrokerOnExit();
    ASSERT_NE(subscribe(exact, L"seq"), 0u);
    ASSERT_NE(broker_->subscribeFilter(handle_, &pattern, &Inbox::Callback, L"se."), 0u);
    constexpr int kPerThread = 400;
    auto publisher = [&](wchar_t tag) {
        for (int i = 0; i < kPerThread; ++i) ASSERT_EQ(publish(L"seq", tag + std::to_wstring(i)), kSuccess);
    };
    std::thread a(publisher, L'a'), b(publisher, L'b');
    a.join();
    b.join();
    for (Inbox* inbox : {&exact, &pattern}) {
        ASSERT_TRUE(inbox->waitFor(2 * kPerThread));
        int nextA = 0, nextB = 0;
        for (const Delivery& d : inbox->items()) {
            int& next = d.userData[0] == L'a' ? nextA : nextB;
            EXPECT_EQ(std::stoi(d.userData.substr(1)), next) << "out of order";
            ++next;
        }
        EXPECT_EQ(nextA, kPerThread);
        EXPECT_EQ(nextB, kPerThread);
    }
}

TEST_F(BrokerTest, OneSlowSubscriptionDoesNotHoldUpAnother) {
    Inbox slow, fast;
    Event fastArrived;
    std::atomic<bool> sawFast{false};
    // The slow callback returns only once the fast one has run: with one subscription
    // waiting for the other, the deadline passes and the test fails.
    slow.hook = [&](const Delivery&) { sawFast = fastArrived.wait(); };
    fast.hook = [&](const Delivery&) { fastArrived.set(); };
    const auto stop = stopBrokerOnExit();
    ASSERT_NE(subscribe(slow, L"slow"), 0u);
    ASSERT_NE(subscribe(fast, L"fast"), 0u);
    ASSERT_EQ(publish(L"slow"), kSuccess);
    ASSERT_EQ(publish(L"fast"), kSuccess);
    ASSERT_TRUE(slow.waitFor(1));
    EXPECT_TRUE(sawFast) << "the second subscription waited for the first one's callback";
}

class SingleWorkerBroker : public BrokerTest {
protected:
    void SetUp() override {
        options_.maxWorkers = 1;
        BrokerTest::SetUp();
    }
};

TEST_F(SingleWorkerBroker, StaysWithinItsThreadBoundAndStillDeliversEverything) {
    std::vector<std::unique_ptr<Inbox>> inboxes;
    const auto stop = stopBrokerOnExit();
    for (int i = 0; i < 8; ++i) {
        inboxes.push_back(std::make_unique<Inbox>());
        ASSERT_NE(subscribe(*inboxes.back(), L"fan.out"), 0u);
    }
    for (int i = 0; i < 100; ++i) ASSERT_EQ(publish(L"fan.out", std::to_wstring(i)), kSuccess);
    for (auto& inbox : inboxes) EXPECT_TRUE(inbox->waitFor(100));
    EXPECT_EQ(broker_->workerCount(), 1u);
}

TEST(BusFunctionTable, AnswersFrameworkVersionOneOnly) {
    struct {
        uint32_t version;
        bool answered;
    } cases[] = {{0, false},       {999999, false}, {1000000, true},     {1006000, true},
                 {1999999, true},  {2000000, false}, {0xFFFFFFFF, false}};
    for (const auto& c : cases) {
        EXPECT_EQ(BusBroker::BusFunctionTable(c.version) != nullptr, c.answered) << c.version;
    }
}

}  // namespace
}  // namespace bustest
