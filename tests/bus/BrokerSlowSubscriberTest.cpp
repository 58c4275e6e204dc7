// A subscriber slower than its publishers: the per-subscription bound holds publishers back
// so the queue stays short, and a callback that publishes into its own full queue still
// gets through (a broker thread never waits for room).
#include <atomic>
#include <chrono>
#include <thread>
#include <vector>

#include "BusTestSupport.h"

namespace bustest {
namespace {

constexpr size_t kBound = 16;

class BoundedBroker : public BrokerTest {
protected:
    void SetUp() override {
        options_.maxPendingPerSubscription = kBound;
        options_.publishPatience = std::chrono::seconds(20);
        BrokerTest::SetUp();
    }
    template <class Done>
    static bool WaitUntil(Done done) {
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
        while (!done()) {
            if (std::chrono::steady_clock::now() > deadline) return false;
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
        return true;
    }
};

// Takes 50 us per message and notes how many were published but not yet delivered.
struct SlowSubscriber {
    std::atomic<uint64_t> published{0};  // counted just before each publish call
    std::atomic<uint64_t> delivered{0};
    std::atomic<uint64_t> mostBehind{0};
    static uint32_t Callback(void* context, const MessageHeader*, const wchar_t*, const wchar_t*, const wchar_t*) {
        auto* self = static_cast<SlowSubscriber*>(context);
        const uint64_t behind = self->published.load() - self->delivered.load() - 1;
        uint64_t most = self->mostBehind.load();
        while (behind > most && !self->mostBehind.compare_exchange_weak(most, behind)) {
        }
        std::this_thread::sleep_for(std::chrono::microseconds(50));
        ++self->delivered;
        return 0;
    }
};

TEST_F(BoundedBroker, ASlowSubscriberHoldsItsPublishersAtTheBoundAndGetsEveryMessage) {
    SlowSubscriber slow;
    const auto stop = stopBrokerOnExit();
    ASSERT_NE(broker_->subscribe(handle_, &slow, &SlowSubscriber::Callback, L"flood"), 0u);
    constexpr int kPublishers = 2, kEach = 400;
    std::vector<std::thread> publishers;
    for (int t = 0; t < kPublishers; ++t) {
        publishers.emplace_back([&] {
            for (int i = 0; i < kEach; ++i) {
                ++slow.published;
                ASSERT_EQ(publish(L"flood"), kSuccess);
            }
        });
    }
    for (auto& publisher : publishers) publisher.join();
    ASSERT_TRUE(WaitUntil([&] { return slow.delivered == uint64_t{kPublishers * kEach}; }));
    // A message counted but not yet queued by the other publisher may add one each.
    EXPECT_LE(slow.mostBehind.load(), kBound + kPublishers);
}

// On "start", publishes three times the bound into its own subscription from the callback.
struct Echo {
    BusBroker::Broker* broker = nullptr;
    void* handle = nullptr;
    std::atomic<int> echoes{0};
    static uint32_t Callback(void* context, const MessageHeader*, const wchar_t* name, const wchar_t*, const wchar_t*) {
        auto* self = static_cast<Echo*>(context);
        if (std::wstring(name) == L"echo") {
            ++self->echoes;
            return 0;
        }
        for (size_t i = 0; i < 3 * kBound; ++i) {
            MessageHeader header = NewHeader();
            self->broker->publish(self->handle, &header, L"echo", L"echo", L"");
        }
        return 0;
    }
};

TEST_F(BoundedBroker, ACallbackPublishingIntoItsOwnFullQueueNeverWaits) {
    Echo echo{broker_.get(), handle_};
    const auto stop = stopBrokerOnExit();
    ASSERT_NE(broker_->subscribeFilter(handle_, &echo, &Echo::Callback, L"start|echo"), 0u);
    const auto began = std::chrono::steady_clock::now();
    ASSERT_EQ(publish(L"start"), kSuccess);
    ASSERT_TRUE(WaitUntil([&] { return echo.echoes == static_cast<int>(3 * kBound); }));
    EXPECT_LT(std::chrono::steady_clock::now() - began, std::chrono::seconds(5));  // far below the patience
}

}  // namespace
}  // namespace bustest
