// FakeBus.h - a recording bus library for tests: a real MessageBusFunctions table.
//
// It records every call, delivers to its subscribers on the calling thread (deliver) or
// on its own delivery thread (post), can refuse subscriptions or publishes, and answers
// requests early (inside request), late (from its thread), with a timeout, or never (the
// test answers with answerRequest). It keeps the bus guarantees the module relies on: no
// message callback for a subscription after unsubscribe of its id returns, no reply
// callback after releaseReplyCallback returns (waiting for callbacks in flight, except on
// the thread running that very callback).
#pragma once

#include <glimmerpane/abi.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <deque>
#include <functional>
#include <map>
#include <mutex>
#include <optional>
#include <regex>
#include <string>
#include <thread>
#include <vector>

namespace gptest {

struct RecordedMessage {
    MessageHeader header;
    std::wstring name;
    std::wstring sender;
    std::wstring userData;
};

struct RecordedRequest {
    uint64_t replyIndex;
    void* context;
    BusReplyCallback callback;
    RecordedMessage message;
    uint32_t timeoutMs;
};

enum class ReplyMode { Never, Early, Late, Timeout, Refuse };

class FakeBus {
public:
    FakeBus();
    ~FakeBus();
    FakeBus(const FakeBus&) = delete;
    FakeBus& operator=(const FakeBus&) = delete;

    // What to hand to InitializeModuleV2.
    void* handle() { return this; }
    static const MessageBusFunctions* functions();

    // Behaviour switches.
    void refuseSubscriptions(bool refuse) { refuseSubscriptions_ = refuse; }
    void refuseSubscriptionNamed(const std::wstring& name) {
        std::lock_guard lock(mutex_);
        refusedNames_.push_back(name);
    }
    // Publishes from call number `fromCall` on (0-based) answer status.
    void failPublishes(ModuleStatus status, size_t fromCall = 0) {
        failPublishesFrom_ = fromCall;
        publishStatus_ = status;
    }
    void setReplyMode(ReplyMode mode, std::chrono::milliseconds delay = std::chrono::milliseconds(5)) {
        replyMode_ = mode;
        replyDelay_ = delay;
    }

    // Delivery to current subscribers whose name equals, or whose pattern matches, the
    // name. deliver runs the callbacks on the calling thread and returns how many ran;
    // post queues the delivery for the bus's own thread.
    size_t deliver(const std::wstring& name, const std::wstring& userData, const std::wstring& sender = L"FakeBus",
                   const MessageHeader* header = nullptr);
    void post(const std::wstring& name, const std::wstring& userData, const std::wstring& sender = L"FakeBus");
    // Waits until the delivery thread has nothing left to do.
    void drain();

    // Completes a recorded request (for ReplyMode::Never): status 0 with a reply message, or
    // a failure status without one. Returns the callback's result, or nullopt when the
    // reply callback was released.
    std::optional<uint32_t> answerRequest(const RecordedRequest& request, ModuleStatus status,
                                          const std::wstring& replyData = L"reply");

    // Recordings.
    std::vector<RecordedMessage> published() const;
    std::vector<RecordedRequest> requests() const;
    std::vector<std::wstring> subscribedNames() const;  // current subscriptions, in id order
    size_t subscriptionCount() const;
    size_t unsubscribeCalls() const { return unsubscribeCalls_; }
    size_t releaseReplyCalls() const { return releaseReplyCalls_; }
    // Blocks until `count` messages were published or the timeout passes.
    bool waitForPublished(size_t count, std::chrono::milliseconds timeout) const;

    // The table's entry points.
    ModuleStatus publish(MessageHeader* header, const wchar_t* name, const wchar_t* sender, const wchar_t* userData);
    ModuleStatus request(uint64_t replyIndex, void* context, BusReplyCallback callback, MessageHeader* header,
                         const wchar_t* name, const wchar_t* sender, const wchar_t* userData, uint32_t timeoutMs);
    uint32_t subscribe(void* context, BusMessageCallback callback, const wchar_t* name, bool pattern);
    ModuleStatus unsubscribe(uint32_t id);
    ModuleStatus releaseReplyCallback(BusReplyCallback callback);

private:
    struct Subscription {
        uint32_t id;
        void* context;
        BusMessageCallback callback;
        std::wstring name;
        std::optional<std::wregex> pattern;
        int inFlight = 0;
        bool active = true;
    };

    uint32_t deliverRecorded(const RecordedMessage& message, uint32_t* runs);
    std::optional<uint32_t> reply(const RecordedRequest& request, ModuleStatus status, const std::wstring& replyData);
    void deliveryLoop();

    mutable std::mutex mutex_;
    mutable std::condition_variable changed_;
    std::map<uint32_t, Subscription> subscriptions_;
    uint32_t nextId_ = 1;
    std::vector<RecordedMessage> published_;
    std::vector<RecordedRequest> requests_;
    std::vector<std::wstring> refusedNames_;
    std::atomic<bool> refuseSubscriptions_{false};
    std::atomic<ModuleStatus> publishStatus_{0};
    std::atomic<size_t> failPublishesFrom_{0};
    std::atomic<size_t> publishCalls_{0};
    std::atomic<ReplyMode> replyMode_{ReplyMode::Never};
    std::chrono::milliseconds replyDelay_{5};
    std::atomic<size_t> unsubscribeCalls_{0};
    std::atomic<size_t> releaseReplyCalls_{0};
    bool replyReleased_ = false;
    int repliesInFlight_ = 0;

    std::deque<std::function<void()>> work_;
    bool busy_ = false;
    bool stopping_ = false;
    std::thread deliveryThread_;
};

}  // namespace gptest
