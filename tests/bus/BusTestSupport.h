// BusTestSupport.h - recording callbacks and a broker fixture for the broker's tests.
//
// Inbox and ReplyBox are callback targets: the broker gets their static Callback and
// the object as context. Each records what arrived (under its own lock) and can run a
// hook on the delivery thread; tests wait for a count with a deadline instead of sleeping.
// Event, InFlight and SignalWhenThisThreadEnds let a test wait for what happens on the
// broker's threads. Every wait has a deadline of seconds, so a broken broker fails the
// test rather than hanging it; only the checks that nothing arrives use short windows.
#pragma once

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <functional>
#include <future>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "Broker.h"

namespace bustest {

using namespace std::chrono_literals;

constexpr ModuleStatus kSuccess = 0;
constexpr ModuleStatus kInvalidHandle = 0x80000007;
constexpr ModuleStatus kInvalidParameter = 0x80000008;
constexpr ModuleStatus kNotFound = 0x8000000A;
constexpr ModuleStatus kTimeout = 0x8000000D;
constexpr ModuleStatus kNoSubscribers = 0x8000000E;
constexpr ModuleStatus kInvalidState = 0x800000FF;

class FixedSession : public BusBroker::SessionSource {
public:
    explicit FixedSession(uint32_t id) : id_(id) {}
    uint32_t currentSessionId() override { return id_; }

private:
    uint32_t id_;
};

inline MessageHeader NewHeader(uint16_t version = 2) {
    MessageHeader header{};
    header.marker = 1;
    header.headerVersion = version;
    header.ext1 = 11;
    header.ext2 = 8;
    return header;
}

// Generous: a deadline that only a broken broker misses, even on a loaded machine.
constexpr std::chrono::milliseconds kDeadline = 10s;

// A one-shot signal between a broker thread and the test.
class Event {
public:
    void set() {
        std::lock_guard lock(mutex_);
        set_ = true;
        cv_.notify_all();
    }
    // False when the deadline passed first.
    bool wait(std::chrono::milliseconds limit = kDeadline) {
        std::unique_lock lock(mutex_);
        return cv_.wait_for(lock, limit, [&] { return set_; });
    }

private:
    std::mutex mutex_;
    std::condition_variable cv_;
    bool set_ = false;
};

// A callback kept in flight until the test lets it go, so that a test can check that a
// withdrawal waits for it. `inside` is cleared just before the callback returns.
struct InFlight {
    Event entered;
    Event released;
    std::atomic<bool> inside{false};

    void run() {
        inside = true;
        entered.set();
        released.wait();
        inside = false;
    }
};

// Sets `ended` when the calling thread (a broker thread, from inside a callback) has
// ended: thread-local objects are destroyed last thing on their thread.
inline void SignalWhenThisThreadEnds(std::shared_ptr<Event> ended) {
    struct Watch {
        std::vector<std::shared_ptr<Event>> events;
        ~Watch() {
            for (auto& event : events) event->set();
        }
    };
    thread_local Watch watch;
    watch.events.push_back(std::move(ended));
}

// Runs a withdrawal (or any broker call) on a thread of its own, so that the test can see
// whether it returns while a callback is still in flight.
template <class Call>
auto Concurrently(Call call) {
    return std::async(std::launch::async, std::move(call));
}

struct Delivery {
    MessageHeader header{};
    std::wstring name, sender, userData;
    void* context = nullptr;
    uint64_t replyIndex = 0;
    ModuleStatus status = 0;
};

// Records deliveries; T is the object the callbacks hand the Delivery to.
class Recorder {
public:
    std::function<void(const Delivery&)> hook;  // runs on the delivery thread, before recording

    bool waitFor(size_t count, std::chrono::milliseconds limit = kDeadline) {
        std::unique_lock lock(mutex_);
        return cv_.wait_for(lock, limit, [&] { return items_.size() >= count; });
    }
    // For the checks that something does not happen: true when the count stays at `count`
    // for the whole window. A window cannot prove "never"; each one is longer than the
    // delivery it rules out would take (a timeout that would have fired, a queue that
    // would have drained), and the check fails at once if the delivery arrives.
    bool staysAt(size_t count, std::chrono::milliseconds window) { return !waitFor(count + 1, window); }
    std::vector<Delivery> items() const {
        std::lock_guard lock(mutex_);
        return items_;
    }
    size_t count() const {
        std::lock_guard lock(mutex_);
        return items_.size();
    }

protected:
    void record(Delivery delivery) {
        if (hook) hook(delivery);
        std::lock_guard lock(mutex_);
        items_.push_back(std::move(delivery));
        cv_.notify_all();
    }

private:
    mutable std::mutex mutex_;
    std::condition_variable cv_;
    std::vector<Delivery> items_;
};

class Inbox : public Recorder {
public:
    static uint32_t Callback(void* context, const MessageHeader* header, const wchar_t* name, const wchar_t* sender,
                             const wchar_t* userData) {
        Delivery d;
        d.header = *header;
        d.name = name;
        d.sender = sender;
        d.userData = userData;
        d.context = context;
        static_cast<Inbox*>(context)->record(std::move(d));
        return 0;
    }
};

class ReplyBox : public Recorder {
public:
    static uint32_t Callback(void* context, uint64_t replyIndex, const MessageHeader* header, const wchar_t* name,
                             const wchar_t* sender, const wchar_t* userData, ModuleStatus status) {
        Delivery d;
        d.header = *header;
        d.name = name;
        d.sender = sender;
        d.userData = userData;
        d.context = context;
        d.replyIndex = replyIndex;
        d.status = status;
        static_cast<ReplyBox*>(context)->record(std::move(d));
        return 0;
    }
    // A second function, to tell reply callbacks apart in releaseReplyCallback.
    static uint32_t OtherCallback(void* context, uint64_t replyIndex, const MessageHeader* header,
                                  const wchar_t* name, const wchar_t* sender, const wchar_t* userData,
                                  ModuleStatus status) {
        return Callback(context, replyIndex, header, name, sender, userData, status);
    }
};

// A broker stamping session 7, with one open handle.
class BrokerTest : public ::testing::Test {
protected:
    void SetUp() override {
        broker_ = std::make_unique<BusBroker::Broker>(std::make_shared<FixedSession>(7), options_);
        ASSERT_EQ(broker_->open(&handle_), kSuccess);
        ASSERT_NE(handle_, nullptr);
    }
    void TearDown() override { broker_.reset(); }

    ModuleStatus publish(const std::wstring& name, const std::wstring& userData = L"", void* handle = nullptr) {
        MessageHeader header = NewHeader();
        return broker_->publish(handle ? handle : handle_, &header, name.c_str(), L"tester", userData.c_str());
    }

    uint32_t subscribe(Inbox& inbox, const std::wstring& name, void* handle = nullptr) {
        return broker_->subscribe(handle ? handle : handle_, &inbox, &Inbox::Callback, name.c_str());
    }

    // Destroys the broker when it goes out of scope: declared after the locals that the
    // callbacks use, it makes sure no callback runs once they are gone.
    struct StopBroker {
        BrokerTest* test;
        ~StopBroker() { test->broker_.reset(); }
    };
    StopBroker stopBrokerOnExit() { return StopBroker{this}; }

    BusBroker::BrokerOptions options_;
    std::unique_ptr<BusBroker::Broker> broker_;
    void* handle_ = nullptr;
};

}  // namespace bustest
