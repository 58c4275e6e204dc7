// Broker.cpp - routing, request and reply, reply timeouts and the withdrawal guarantees.
//
// The routing state lives in Core behind one mutex. Delivery runs on a SerialExecutor:
// every subscription owns one of its queues, and so does every request (for its one reply
// or timeout). Messages are queued while the routing mutex is held, which is what orders
// concurrent publishes the same way for every subscriber. Delivery tasks carry copies of
// what they call, not the subscription; a reply task reaches back into Core only through
// a weak reference, so a callback still running after the Broker is gone (the destructor
// stopped waiting for it) touches nothing that was freed. The timer thread holds a shared
// reference and is joined on shutdown.
#include "Broker.h"

#include <atomic>
#include <condition_variable>
#include <cstring>
#include <map>
#include <mutex>
#include <optional>
#include <regex>
#include <string>
#include <string_view>
#include <thread>
#include <unordered_map>
#include <vector>

#include "SerialExecutor.h"
#include "base/MessageSize.h"
#include "etwlogging/LogCall.h"
#include "module/ModuleStatus.h"

namespace BusBroker {

using namespace Vornik;  // status names
using Clock = std::chrono::steady_clock;

namespace {

constexpr const wchar_t* kSource = L"bus\\Broker";

struct Record {
    MessageHeader header{};
    std::wstring name;
    std::wstring sender;
    std::wstring userData;
};
using RecordPtr = std::shared_ptr<const Record>;

struct Subscription {
    uint32_t id = 0;
    uint64_t handle = 0;
    void* context = nullptr;
    BusMessageCallback callback = nullptr;
    std::wstring name;                  // the exact name, or the pattern's text
    std::optional<std::wregex> pattern;  // set for subscribeFilter
    SerialExecutor::QueuePtr queue;
    // A publisher's wait for room in the queue ran out of patience and the subscriber has
    // not caught up since (the log record is written once per such spell).
    std::atomic<bool> overrun{false};
};
using SubscriptionPtr = std::shared_ptr<Subscription>;

struct PendingReply {
    uint64_t replyInfo = 0;
    uint64_t handle = 0;
    uint64_t replyIndex = 0;
    void* context = nullptr;
    BusReplyCallback callback = nullptr;
    RecordPtr request;
    std::optional<std::multimap<Clock::time_point, uint64_t>::iterator> deadline;
    SerialExecutor::QueuePtr queue;  // runs the reply or the timeout
};
using PendingPtr = std::shared_ptr<PendingReply>;

struct HandleState {
    std::map<uint32_t, SubscriptionPtr> subscriptions;
    std::map<uint64_t, PendingPtr> replies;  // outstanding, or completed with the callback not yet done
};

// UTF-16 units of a wide string; wchar_t is UTF-32 on POSIX.
uint64_t HandleId(void* handle) { return static_cast<uint64_t>(reinterpret_cast<uintptr_t>(handle)); }

bool ValidName(const wchar_t* name) {
    if (name == nullptr) return false;
    const size_t length = std::wcslen(name);
    return length > 0 && length <= kMaxNameLength;
}

}  // namespace

class Broker::Core : public std::enable_shared_from_this<Broker::Core> {
public:
    Core(uint32_t sessionId, BrokerOptions options)
        : sessionId_(sessionId), options_(options), executor_(options.maxWorkers, options.shutdownGrace) {}

    ModuleStatus open(void** handle) {
        if (handle == nullptr) return MODULE_STATUS_INVALID_PARAMETER;
        std::lock_guard lock(mutex_);
        if (stopping_) return MODULE_STATUS_INVALID_STATE;
        const uint64_t id = nextHandle_++;
        handles_.emplace(id, HandleState{});
        *handle = reinterpret_cast<void*>(static_cast<uintptr_t>(id));
        return MODULE_STATUS_SUCCESS;
    }

    ModuleStatus close(void* handle) {
        if (handle == nullptr) return MODULE_STATUS_INVALID_PARAMETER;
        std::unique_lock lock(mutex_);
        auto found = handles_.find(HandleId(handle));
        if (found == handles_.end()) {
            GP_LOG_WARNING(kSource, L"BusBroker::Broker::close", L"Unknown bus handle %llu.",
                           static_cast<unsigned long long>(HandleId(handle)));
            return MODULE_STATUS_INVALID_HANDLE;
        }
        HandleState state = std::move(found->second);
        handles_.erase(found);
        std::vector<SerialExecutor::QueuePtr> queues;
        for (auto& [id, subscription] : state.subscriptions) {
            withdraw(*subscription);
            queues.push_back(subscription->queue);
        }
        for (auto& [info, pending] : state.replies) {
            withdraw(*pending);
            queues.push_back(pending->queue);
        }
        awaitCallbacks(lock, L"BusBroker::Broker::close", queues);
        return MODULE_STATUS_SUCCESS;
    }

    ModuleStatus publish(void* handle, const MessageHeader* header, const wchar_t* name, const wchar_t* sender,
                         const wchar_t* userData, const uint32_t* foreignSession = nullptr) {
        std::shared_ptr<Record> record;
        if (ModuleStatus status = makeRecord(handle, header, name, sender, userData, foreignSession, record);
            status != 0) {
            return status;
        }
        std::unique_lock lock(mutex_);
        if (ModuleStatus status = checkHandle(handle); status != 0) return status;
        if ((record->header.flags & FLAG_REPLY) != 0) {
            const uint64_t replyInfo = record->header.replyInfo;  // a copy: the packed field may be misaligned
            auto found = replies_.find(replyInfo);
            if (found == replies_.end()) {
                GP_LOG_WARNING(kSource, L"BusBroker::Broker::publish",
                               L"Reply %ls for no outstanding request (replyInfo %llu) dropped.", record->name.c_str(),
                               static_cast<unsigned long long>(record->header.replyInfo));
                return MODULE_STATUS_SUCCESS;
            }
            const PendingPtr pending = found->second;  // complete() erases the table's entry
            complete(pending, std::move(record), MODULE_STATUS_SUCCESS);
            return MODULE_STATUS_SUCCESS;
        }
        std::vector<SubscriptionPtr> targets = matching(record->name);
        if (options_.tap && foreignSession == nullptr) {
            options_.tap->published(record->header, record->name.c_str(), record->sender.c_str(),
                                    record->userData.c_str(), false, 0);
        }
        const size_t wakes = enqueue(targets, std::move(record));
        lock.unlock();
        for (size_t i = 0; i < wakes; ++i) executor_.wake();
        for (const SubscriptionPtr& subscription : targets) {
            if (subscription) waitForRoom(*subscription);
        }
        return MODULE_STATUS_SUCCESS;
    }

    // Holds a publisher back while the subscriber's queue is full (see Broker.h).
    void waitForRoom(Subscription& subscription) {
        if (executor_.waitForRoom(subscription.queue, options_.maxPendingPerSubscription, options_.publishPatience)) {
            subscription.overrun = false;
            return;
        }
        if (!subscription.overrun.exchange(true)) {
            GP_LOG_WARNING(kSource, L"BusBroker::Broker::publish",
                           L"Subscriber %lu of %ls has had %lu deliveries waiting for %lld ms; publishing goes on "
                           L"beyond the bound.",
                           static_cast<unsigned long>(subscription.id), subscription.name.c_str(),
                           static_cast<unsigned long>(options_.maxPendingPerSubscription),
                           static_cast<long long>(options_.publishPatience.count()));
        }
    }

    ModuleStatus request(void* handle, uint64_t replyIndex, void* context, BusReplyCallback callback,
                         const MessageHeader* header, const wchar_t* name, const wchar_t* sender,
                         const wchar_t* userData, uint32_t timeoutMs, const uint32_t* foreignSession = nullptr) {
        if (callback == nullptr) return MODULE_STATUS_INVALID_PARAMETER;
        std::shared_ptr<Record> record;
        if (ModuleStatus status = makeRecord(handle, header, name, sender, userData, foreignSession, record);
            status != 0) {
            return status;
        }
        record->header.flags &= ~FLAG_REPLY;
        const Clock::time_point now = Clock::now();

        std::unique_lock lock(mutex_);
        if (ModuleStatus status = checkHandle(handle); status != 0) return status;
        std::vector<SubscriptionPtr> targets = matching(record->name);
        const bool tapped = options_.tap && foreignSession == nullptr;
        if (targets.empty() && !(tapped && options_.tap->reachesElsewhere(record->name.c_str()))) {
            GP_LOG_WARNING(kSource, L"BusBroker::Broker::request", L"No subscriber for request %ls.",
                           record->name.c_str());
            return MODULE_STATUS_NO_SUBSCRIBERS;
        }
        if (timeoutMs != kInfiniteTimeout) startTimer();  // may throw: before anything is registered
        auto pending = std::make_shared<PendingReply>();
        pending->queue = executor_.createQueue();
        pending->replyInfo = nextReplyInfo_++;
        pending->handle = HandleId(handle);
        pending->replyIndex = replyIndex;
        pending->context = context;
        pending->callback = callback;
        record->header.replyInfo = pending->replyInfo;
        pending->request = record;
        // Registered before any subscriber can see the request, so an early reply is routed.
        replies_.emplace(pending->replyInfo, pending);
        handles_[pending->handle].replies.emplace(pending->replyInfo, pending);
        if (timeoutMs != kInfiniteTimeout) {
            const auto due = now + std::chrono::milliseconds(timeoutMs);
            const bool earliest = deadlines_.empty() || due < deadlines_.begin()->first;
            pending->deadline = deadlines_.emplace(due, pending->replyInfo);
            if (earliest) timerCv_.notify_one();
        }
        if (tapped) {
            options_.tap->published(record->header, record->name.c_str(), record->sender.c_str(),
                                    record->userData.c_str(), true, timeoutMs);
        }
        const size_t wakes = enqueue(targets, std::move(record));
        lock.unlock();
        for (size_t i = 0; i < wakes; ++i) executor_.wake();
        return MODULE_STATUS_SUCCESS;
    }

    uint32_t subscribe(void* handle, void* context, BusMessageCallback callback, const wchar_t* name,
                       bool isPattern) {
        const wchar_t* function = isPattern ? L"BusBroker::Broker::subscribeFilter" : L"BusBroker::Broker::subscribe";
        if (handle == nullptr || callback == nullptr || !ValidName(name)) {
            GP_LOG_WARNING(kSource, function, L"Subscription refused: missing handle or callback, or bad name.");
            return 0;
        }
        auto subscription = std::make_shared<Subscription>();
        subscription->queue = executor_.createQueue();
        subscription->handle = HandleId(handle);
        subscription->context = context;
        subscription->callback = callback;
        subscription->name = name;
        if (isPattern) {
            try {
                subscription->pattern.emplace(subscription->name, std::regex_constants::ECMAScript |
                                                                      std::regex_constants::nosubs |
                                                                      std::regex_constants::optimize);
            } catch (const std::regex_error& e) {
                GP_LOG_WARNING(kSource, function, L"Invalid name pattern %ls refused (regex error %d).", name,
                               static_cast<int>(e.code()));
                return 0;
            }
        }
        std::lock_guard lock(mutex_);
        if (stopping_) return 0;
        auto owner = handles_.find(subscription->handle);
        if (owner == handles_.end()) {
            GP_LOG_WARNING(kSource, function, L"Subscription to %ls refused: unknown bus handle.", name);
            return 0;
        }
        subscription->id = allocateSubscriptionId();
        subscriptions_.emplace(subscription->id, subscription);
        owner->second.subscriptions.emplace(subscription->id, subscription);
        return subscription->id;
    }

    ModuleStatus unsubscribe(void* handle, uint32_t id) {
        std::unique_lock lock(mutex_);
        if (ModuleStatus status = checkHandle(handle); status != 0) return status;
        HandleState& state = handles_[HandleId(handle)];
        auto found = state.subscriptions.find(id);
        if (found == state.subscriptions.end()) {
            GP_LOG_WARNING(kSource, L"BusBroker::Broker::unsubscribe", L"Subscription %lu not held by this handle.",
                           static_cast<unsigned long>(id));
            return MODULE_STATUS_NOT_FOUND;
        }
        SubscriptionPtr subscription = found->second;
        state.subscriptions.erase(found);
        withdraw(*subscription);
        awaitCallbacks(lock, L"BusBroker::Broker::unsubscribe", {subscription->queue});
        return MODULE_STATUS_SUCCESS;
    }

    ModuleStatus releaseReplyCallback(void* handle, BusReplyCallback callback) {
        if (callback == nullptr) return MODULE_STATUS_INVALID_PARAMETER;
        std::unique_lock lock(mutex_);
        if (ModuleStatus status = checkHandle(handle); status != 0) return status;
        HandleState& state = handles_[HandleId(handle)];
        std::vector<SerialExecutor::QueuePtr> released;
        for (auto it = state.replies.begin(); it != state.replies.end();) {
            if (it->second->callback == callback) {
                withdraw(*it->second);
                released.push_back(it->second->queue);
                it = state.replies.erase(it);
            } else {
                ++it;
            }
        }
        awaitCallbacks(lock, L"BusBroker::Broker::releaseReplyCallback", released);
        return MODULE_STATUS_SUCCESS;
    }

    size_t workerCount() const { return executor_.workerCount(); }

    size_t openHandleCount() {
        std::lock_guard lock(mutex_);
        return handles_.size();
    }

    void shutdown() {
        std::unique_lock lock(mutex_);
        if (stopping_) return;
        stopping_ = true;
        for (auto& [id, state] : handles_) {
            for (auto& [sid, subscription] : state.subscriptions) withdraw(*subscription);
            for (auto& [info, pending] : state.replies) withdraw(*pending);
        }
        handles_.clear();
        timerCv_.notify_all();
        std::thread timer = std::move(timer_);
        lock.unlock();

        if (!executor_.shutdown()) {
            GP_LOG_WARNING(kSource, L"BusBroker::Broker::shutdown",
                           L"Callbacks still running after %lld ms; their threads are left to finish alone.",
                           static_cast<long long>(options_.shutdownGrace.count()));
        }
        // The timer runs no callback, so it is never the calling thread and ends at once.
        if (timer.joinable()) timer.join();
    }

private:
    // Validates the strings and copies them with a normalised version-2 header.
    ModuleStatus makeRecord(void* handle, const MessageHeader* header, const wchar_t* name, const wchar_t* sender,
                            const wchar_t* userData, const uint32_t* foreignSession,
                            std::shared_ptr<Record>& record) const {
        if (handle == nullptr || header == nullptr || sender == nullptr || userData == nullptr) {
            return MODULE_STATUS_INVALID_PARAMETER;
        }
        if (!ValidName(name)) {
            GP_LOG_WARNING(kSource, L"BusBroker::Broker::publish",
                           L"Message refused: its name is missing, empty or longer than %lu characters.",
                           static_cast<unsigned long>(kMaxNameLength));
            return MODULE_STATUS_INVALID_PARAMETER;
        }
        // Each string is measured once: for the size, then for the copy.
        const std::wstring_view nameText(name), senderText(sender), userDataText(userData);
        const uint64_t totalSize =
            glimmerpane::base::MessageSizeExact(GP_MESSAGE_HEADER_SIZE, nameText, senderText, userDataText);
        if (totalSize > 0xFFFFFFFFu) {
            GP_LOG_WARNING(kSource, L"BusBroker::Broker::publish", L"Message %ls refused: larger than 4 GiB.", name);
            return MODULE_STATUS_INVALID_BUFFER_SIZE;
        }
        record = std::make_shared<Record>();
        MessageHeader& out = record->header;
        uint16_t version = 0;
        std::memcpy(&version, reinterpret_cast<const unsigned char*>(header) + offsetof(MessageHeader, headerVersion),
                    sizeof version);
        if (version == 2) {
            std::memcpy(&out, header, GP_MESSAGE_HEADER_SIZE);
        } else {
            // A version-1 header is only 100 bytes long: never read past them.
            std::memcpy(&out, header, GP_MESSAGE_HEADER_V1_SIZE);
            out.headerVersion = 2;
            out.ext1 = 11;
            out.ext2 = 8;
        }
        out.totalSize = static_cast<uint32_t>(totalSize);
        out.senderSession = foreignSession != nullptr ? *foreignSession : sessionId_;
        record->name.assign(nameText);
        record->sender.assign(senderText);
        record->userData.assign(userDataText);
        return MODULE_STATUS_SUCCESS;
    }

    ModuleStatus checkHandle(void* handle) const {
        if (handle == nullptr) return MODULE_STATUS_INVALID_PARAMETER;
        if (stopping_) return MODULE_STATUS_INVALID_STATE;
        if (handles_.count(HandleId(handle)) == 0) {
            GP_LOG_WARNING(kSource, L"BusBroker::Broker::checkHandle", L"Unknown bus handle %llu.",
                           static_cast<unsigned long long>(HandleId(handle)));
            return MODULE_STATUS_INVALID_HANDLE;
        }
        return MODULE_STATUS_SUCCESS;
    }

    std::vector<SubscriptionPtr> matching(const std::wstring& name) const {
        std::vector<SubscriptionPtr> result;
        for (const auto& [id, subscription] : subscriptions_) {
            bool hit = false;
            if (!subscription->pattern) {
                hit = subscription->name == name;
            } else {
                try {
                    hit = std::regex_match(name, *subscription->pattern);
                } catch (const std::regex_error& e) {
                    GP_LOG_WARNING(kSource, L"BusBroker::Broker::matching",
                                   L"Pattern %ls could not be matched against %ls (regex error %d).",
                                   subscription->name.c_str(), name.c_str(), static_cast<int>(e.code()));
                }
            }
            if (hit) result.push_back(subscription);
        }
        return result;
    }

    // Queues the record for every target. Targets whose queue is below the bound on return
    // are reset: their publisher need not wait for room. Returns the wakes the caller owes
    // the executor once the routing lock is released.
    size_t enqueue(std::vector<SubscriptionPtr>& targets, const RecordPtr& record) {
        size_t wakes = 0;
        for (SubscriptionPtr& subscription : targets) {
            SerialExecutor::Posted posted;
            executor_.post(subscription->queue, [callback = subscription->callback, context = subscription->context,
                                                 record] {
                try {
                    callback(context, &record->header, record->name.c_str(), record->sender.c_str(),
                             record->userData.c_str());
                } catch (...) {
                    GP_LOG_WARNING(kSource, L"BusBroker::Broker::run", L"A message callback for %ls threw; ignored.",
                                   record->name.c_str());
                }
            }, posted);
            if (posted.wakeDue) ++wakes;
            if (posted.pending < options_.maxPendingPerSubscription && !subscription->overrun) subscription.reset();
        }
        return wakes;
    }

    // Queues the reply callback; reply is empty for a timeout.
    void complete(const PendingPtr& pending, RecordPtr reply, ModuleStatus status) {
        replies_.erase(pending->replyInfo);
        if (pending->deadline) {
            deadlines_.erase(*pending->deadline);
            pending->deadline.reset();
        }
        // A timeout hands back the request itself, so the requester can tell which one.
        RecordPtr record = reply ? std::move(reply) : pending->request;
        executor_.post(pending->queue, [core = weak_from_this(), handle = pending->handle,
                                        replyInfo = pending->replyInfo, replyIndex = pending->replyIndex,
                                        context = pending->context, callback = pending->callback,
                                        record = std::move(record), status] {
            try {
                callback(context, replyIndex, &record->header, record->name.c_str(), record->sender.c_str(),
                         record->userData.c_str(), status);
            } catch (...) {
                GP_LOG_WARNING(kSource, L"BusBroker::Broker::run", L"A reply callback for %ls threw; ignored.",
                               record->name.c_str());
            }
            if (const auto self = core.lock()) self->replyDone(handle, replyInfo);
        });
    }

    void replyDone(uint64_t handle, uint64_t replyInfo) {
        std::lock_guard lock(mutex_);
        if (auto owner = handles_.find(handle); owner != handles_.end()) owner->second.replies.erase(replyInfo);
    }

    void withdraw(Subscription& subscription) {
        executor_.close(subscription.queue);
        subscriptions_.erase(subscription.id);
    }

    void withdraw(PendingReply& pending) {
        executor_.close(pending.queue);
        replies_.erase(pending.replyInfo);
        if (pending.deadline) {
            deadlines_.erase(*pending.deadline);
            pending.deadline.reset();
        }
    }

    uint32_t allocateSubscriptionId() {
        for (;;) {
            const uint32_t id = nextSubscription_++;
            if (id != 0 && subscriptions_.count(id) == 0) return id;
        }
    }

    // Waits, with the routing lock released, until no callback of the withdrawn queues is in
    // flight on another thread. The lock stays released on return: the callers are done.
    void awaitCallbacks(std::unique_lock<std::mutex>& lock, const wchar_t* function,
                        const std::vector<SerialExecutor::QueuePtr>& queues) {
        lock.unlock();
        if (!executor_.awaitIdle(queues)) {
            GP_LOG_WARNING(kSource, function,
                           L"Not waiting for a callback in flight: that callback waits for this one.");
        }
    }

    void startTimer() {
        if (timer_.joinable()) return;
        timer_ = std::thread([self = shared_from_this()] { self->timerLoop(); });
    }

    void timerLoop() {
        std::unique_lock lock(mutex_);
        while (!stopping_) {
            if (deadlines_.empty()) {
                timerCv_.wait(lock);
                continue;
            }
            const auto first = deadlines_.begin();
            // A copy: the entry may be erased while the wait has the lock released.
            const Clock::time_point due = first->first;
            if (Clock::now() < due) {
                timerCv_.wait_until(lock, due);
                continue;
            }
            auto found = replies_.find(first->second);
            deadlines_.erase(first);
            if (found != replies_.end()) {
                PendingPtr pending = found->second;
                pending->deadline.reset();
                complete(pending, nullptr, MODULE_STATUS_TIMEOUT);
            }
        }
    }

    const uint32_t sessionId_;
    BrokerOptions options_;

    mutable std::mutex mutex_;
    std::condition_variable timerCv_;  // the timer waits here for the next deadline
    bool stopping_ = false;

    uint64_t nextHandle_ = 1;
    uint32_t nextSubscription_ = 1;
    uint64_t nextReplyInfo_ = 1;
    std::map<uint64_t, HandleState> handles_;
    std::map<uint32_t, SubscriptionPtr> subscriptions_;
    std::unordered_map<uint64_t, PendingPtr> replies_;  // outstanding requests by replyInfo
    std::multimap<Clock::time_point, uint64_t> deadlines_;
    std::thread timer_;

    // Declared last: destroyed first, it lets go of the queued tasks before the tables go.
    SerialExecutor executor_;
};

Broker::Broker(std::shared_ptr<SessionSource> session, BrokerOptions options) {
    if (!session) session = MakeDefaultSessionSource();
    core_ = std::make_shared<Core>(session->currentSessionId(), options);
}

Broker::~Broker() { core_->shutdown(); }

ModuleStatus Broker::open(void** handle) { return core_->open(handle); }
ModuleStatus Broker::close(void* handle) { return core_->close(handle); }

ModuleStatus Broker::publish(void* handle, const MessageHeader* header, const wchar_t* name, const wchar_t* sender,
                             const wchar_t* userData) {
    return core_->publish(handle, header, name, sender, userData);
}

ModuleStatus Broker::request(void* handle, uint64_t replyIndex, void* context, BusReplyCallback callback,
                             const MessageHeader* header, const wchar_t* name, const wchar_t* sender,
                             const wchar_t* userData, uint32_t timeoutMs) {
    return core_->request(handle, replyIndex, context, callback, header, name, sender, userData, timeoutMs);
}

ModuleStatus Broker::publishForeign(uint32_t senderSession, void* handle, const MessageHeader* header,
                                    const wchar_t* name, const wchar_t* sender, const wchar_t* userData) {
    return core_->publish(handle, header, name, sender, userData, &senderSession);
}

ModuleStatus Broker::requestForeign(uint32_t senderSession, void* handle, uint64_t replyIndex, void* context,
                                    BusReplyCallback callback, const MessageHeader* header, const wchar_t* name,
                                    const wchar_t* sender, const wchar_t* userData, uint32_t timeoutMs) {
    return core_->request(handle, replyIndex, context, callback, header, name, sender, userData, timeoutMs,
                          &senderSession);
}

uint32_t Broker::subscribe(void* handle, void* context, BusMessageCallback callback, const wchar_t* name) {
    return core_->subscribe(handle, context, callback, name, false);
}

uint32_t Broker::subscribeFilter(void* handle, void* context, BusMessageCallback callback, const wchar_t* pattern) {
    return core_->subscribe(handle, context, callback, pattern, true);
}

ModuleStatus Broker::unsubscribe(void* handle, uint32_t subscriptionId) {
    return core_->unsubscribe(handle, subscriptionId);
}

ModuleStatus Broker::releaseReplyCallback(void* handle, BusReplyCallback callback) {
    return core_->releaseReplyCallback(handle, callback);
}

size_t Broker::workerCount() const { return core_->workerCount(); }
size_t Broker::openHandleCount() { return core_->openHandleCount(); }

}  // namespace BusBroker
