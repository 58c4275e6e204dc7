// Broker.cpp - routing, delivery threads, reply timeouts and the withdrawal guarantees.
//
// All state lives in Core behind one mutex. Worker and timer threads hold a shared
// reference to Core, so a callback that is still running when the Broker is destroyed
// (and that the destructor stopped waiting for) returns into live memory.
#include "Broker.h"

#include <algorithm>
#include <condition_variable>
#include <cstring>
#include <deque>
#include <map>
#include <mutex>
#include <optional>
#include <regex>
#include <set>
#include <string>
#include <thread>
#include <unordered_map>
#include <variant>
#include <vector>

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
    std::deque<RecordPtr> queue;
    bool scheduled = false;  // in the ready queue or running: keeps the subscription serial
    bool active = true;
    std::thread::id runningOn;  // default id: no callback in flight
};
using SubscriptionPtr = std::shared_ptr<Subscription>;

struct PendingReply {
    uint64_t replyInfo = 0;
    uint64_t handle = 0;
    uint64_t replyIndex = 0;
    void* context = nullptr;
    BusReplyCallback callback = nullptr;
    RecordPtr request;
    RecordPtr reply;  // empty until a reply came
    ModuleStatus status = MODULE_STATUS_SUCCESS;
    bool active = true;
    std::optional<std::multimap<Clock::time_point, uint64_t>::iterator> deadline;
    std::thread::id runningOn;
};
using PendingPtr = std::shared_ptr<PendingReply>;

struct HandleState {
    std::map<uint32_t, SubscriptionPtr> subscriptions;
    std::map<uint64_t, PendingPtr> replies;  // outstanding, or completed with the callback not yet done
};

using Task = std::variant<SubscriptionPtr, PendingPtr>;

// UTF-16 units of a wide string; wchar_t is UTF-32 on POSIX.
uint64_t Utf16Units(const wchar_t* text) {
    uint64_t units = 0;
    for (; *text != L'\0'; ++text) {
        units += (static_cast<uint32_t>(*text) > 0xFFFFu) ? 2u : 1u;
    }
    return units;
}

uint64_t HandleId(void* handle) { return static_cast<uint64_t>(reinterpret_cast<uintptr_t>(handle)); }

bool ValidName(const wchar_t* name) {
    if (name == nullptr) return false;
    const size_t length = std::wcslen(name);
    return length > 0 && length <= kMaxNameLength;
}

}  // namespace

class Broker::Core : public std::enable_shared_from_this<Broker::Core> {
public:
    Core(uint32_t sessionId, BrokerOptions options) : sessionId_(sessionId), options_(options) {
        if (options_.maxWorkers == 0) options_.maxWorkers = 1;
    }

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
        std::vector<SubscriptionPtr> subscriptions;
        std::vector<PendingPtr> replies;
        for (auto& [id, subscription] : state.subscriptions) {
            withdraw(*subscription);
            subscriptions.push_back(subscription);
        }
        for (auto& [info, pending] : state.replies) {
            withdraw(*pending);
            replies.push_back(pending);
        }
        awaitCallbacks(lock, L"BusBroker::Broker::close", [&](std::thread::id me) -> std::optional<std::thread::id> {
            for (const auto& s : subscriptions) {
                if (s->runningOn != std::thread::id{} && s->runningOn != me) return s->runningOn;
            }
            for (const auto& p : replies) {
                if (p->runningOn != std::thread::id{} && p->runningOn != me) return p->runningOn;
            }
            return std::nullopt;
        });
        return MODULE_STATUS_SUCCESS;
    }

    ModuleStatus publish(void* handle, const MessageHeader* header, const wchar_t* name, const wchar_t* sender,
                         const wchar_t* userData) {
        std::shared_ptr<Record> record;
        if (ModuleStatus status = makeRecord(handle, header, name, sender, userData, record); status != 0) {
            return status;
        }
        std::unique_lock lock(mutex_);
        if (ModuleStatus status = checkHandle(handle); status != 0) return status;
        if ((record->header.flags & FLAG_REPLY) != 0) {
            auto found = replies_.find(record->header.replyInfo);
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
        const std::vector<SubscriptionPtr> targets = matching(record->name);
        enqueue(targets, std::move(record));
        return MODULE_STATUS_SUCCESS;
    }

    ModuleStatus request(void* handle, uint64_t replyIndex, void* context, BusReplyCallback callback,
                         const MessageHeader* header, const wchar_t* name, const wchar_t* sender,
                         const wchar_t* userData, uint32_t timeoutMs) {
        if (callback == nullptr) return MODULE_STATUS_INVALID_PARAMETER;
        std::shared_ptr<Record> record;
        if (ModuleStatus status = makeRecord(handle, header, name, sender, userData, record); status != 0) {
            return status;
        }
        record->header.flags &= ~FLAG_REPLY;
        const Clock::time_point now = Clock::now();

        std::unique_lock lock(mutex_);
        if (ModuleStatus status = checkHandle(handle); status != 0) return status;
        std::vector<SubscriptionPtr> targets = matching(record->name);
        if (targets.empty()) {
            GP_LOG_WARNING(kSource, L"BusBroker::Broker::request", L"No subscriber for request %ls.",
                           record->name.c_str());
            return MODULE_STATUS_NO_SUBSCRIBERS;
        }
        if (timeoutMs != kInfiniteTimeout) startTimer();  // may throw: before anything is registered
        auto pending = std::make_shared<PendingReply>();
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
        enqueue(targets, std::move(record));
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
        awaitCallbacks(lock, L"BusBroker::Broker::unsubscribe",
                       [&](std::thread::id me) -> std::optional<std::thread::id> {
                           const auto running = subscription->runningOn;
                           if (running != std::thread::id{} && running != me) return running;
                           return std::nullopt;
                       });
        return MODULE_STATUS_SUCCESS;
    }

    ModuleStatus releaseReplyCallback(void* handle, BusReplyCallback callback) {
        if (callback == nullptr) return MODULE_STATUS_INVALID_PARAMETER;
        std::unique_lock lock(mutex_);
        if (ModuleStatus status = checkHandle(handle); status != 0) return status;
        HandleState& state = handles_[HandleId(handle)];
        std::vector<PendingPtr> released;
        for (auto it = state.replies.begin(); it != state.replies.end();) {
            if (it->second->callback == callback) {
                withdraw(*it->second);
                released.push_back(it->second);
                it = state.replies.erase(it);
            } else {
                ++it;
            }
        }
        awaitCallbacks(lock, L"BusBroker::Broker::releaseReplyCallback",
                       [&](std::thread::id me) -> std::optional<std::thread::id> {
                           for (const auto& p : released) {
                               if (p->runningOn != std::thread::id{} && p->runningOn != me) return p->runningOn;
                           }
                           return std::nullopt;
                       });
        return MODULE_STATUS_SUCCESS;
    }

    size_t workerCount() const {
        std::lock_guard lock(mutex_);
        return workers_.size();
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
        ready_.clear();
        workCv_.notify_all();
        timerCv_.notify_all();
        idleCv_.notify_all();

        const std::thread::id me = std::this_thread::get_id();
        auto isSelf = [&](const std::thread& t) { return t.get_id() == me; };
        const size_t selfThreads = static_cast<size_t>(std::count_if(workers_.begin(), workers_.end(), isSelf)) +
                                   (timer_.joinable() && isSelf(timer_) ? 1u : 0u);
        const bool allStopped = idleCv_.wait_for(lock, options_.shutdownGrace, [&] {
            return liveThreads_ == selfThreads;
        });
        std::vector<std::thread> threads = std::move(workers_);
        if (timer_.joinable()) threads.push_back(std::move(timer_));
        std::set<std::thread::id> exited = exited_;
        lock.unlock();

        if (!allStopped) {
            GP_LOG_WARNING(kSource, L"BusBroker::Broker::shutdown",
                           L"Callbacks still running after %lld ms; their threads are left to finish alone.",
                           static_cast<long long>(options_.shutdownGrace.count()));
        }
        for (std::thread& thread : threads) {
            if (!isSelf(thread) && exited.count(thread.get_id()) != 0) {
                thread.join();
            } else {
                thread.detach();
            }
        }
    }

private:
    // Validates the strings and copies them with a normalised version-2 header.
    ModuleStatus makeRecord(void* handle, const MessageHeader* header, const wchar_t* name, const wchar_t* sender,
                            const wchar_t* userData, std::shared_ptr<Record>& record) const {
        if (handle == nullptr || header == nullptr || sender == nullptr || userData == nullptr) {
            return MODULE_STATUS_INVALID_PARAMETER;
        }
        if (!ValidName(name)) {
            GP_LOG_WARNING(kSource, L"BusBroker::Broker::publish",
                           L"Message refused: its name is missing, empty or longer than %lu characters.",
                           static_cast<unsigned long>(kMaxNameLength));
            return MODULE_STATUS_INVALID_PARAMETER;
        }
        const uint64_t totalSize =
            GP_MESSAGE_HEADER_SIZE + 6u + 2u * (Utf16Units(name) + Utf16Units(sender) + Utf16Units(userData));
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
        out.senderSession = sessionId_;
        record->name = name;
        record->sender = sender;
        record->userData = userData;
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

    void enqueue(const std::vector<SubscriptionPtr>& targets, RecordPtr record) {
        for (const SubscriptionPtr& subscription : targets) {
            subscription->queue.push_back(record);
            if (!subscription->scheduled) {
                subscription->scheduled = true;
                schedule(subscription);
            }
        }
    }

    void complete(PendingPtr pending, RecordPtr reply, ModuleStatus status) {
        replies_.erase(pending->replyInfo);
        if (pending->deadline) {
            deadlines_.erase(*pending->deadline);
            pending->deadline.reset();
        }
        pending->reply = std::move(reply);
        pending->status = status;
        schedule(std::move(pending));
    }

    void withdraw(Subscription& subscription) {
        subscription.active = false;
        subscription.queue.clear();
        subscriptions_.erase(subscription.id);
    }

    void withdraw(PendingReply& pending) {
        pending.active = false;
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

    // Waits until busy() reports no callback in flight on another thread. busy(me) names a
    // thread still running a withdrawn callback, or nothing.
    template <class Busy>
    void awaitCallbacks(std::unique_lock<std::mutex>& lock, const wchar_t* function, Busy busy) {
        const std::thread::id me = std::this_thread::get_id();
        for (;;) {
            const std::optional<std::thread::id> other = busy(me);
            if (!other) return;
            if (closesCycle(*other, me)) {
                GP_LOG_WARNING(kSource, function,
                               L"Not waiting for a callback in flight: that callback waits for this one.");
                return;
            }
            waitsFor_[me] = *other;
            idleCv_.wait(lock);
            waitsFor_.erase(me);
        }
    }

    bool closesCycle(std::thread::id other, std::thread::id me) const {
        // The wait-for relation is kept acyclic, so this walk ends.
        for (std::thread::id t = other;;) {
            if (t == me) return true;
            auto next = waitsFor_.find(t);
            if (next == waitsFor_.end()) return false;
            t = next->second;
        }
    }

    void schedule(Task task) {
        ready_.push_back(std::move(task));
        if (ready_.size() > idleWorkers_ && workers_.size() < options_.maxWorkers) {
            try {
                workers_.emplace_back([self = shared_from_this()] { self->workerLoop(); });
                ++liveThreads_;
            } catch (const std::system_error& e) {
                // The queued task waits for a running worker or the next successful start.
                GP_LOG_ERROR(kSource, L"BusBroker::Broker::schedule", L"Cannot start a delivery thread (%d).",
                             e.code().value());
            }
        }
        workCv_.notify_one();
    }

    void startTimer() {
        if (timer_.joinable()) return;
        timer_ = std::thread([self = shared_from_this()] { self->timerLoop(); });
        ++liveThreads_;
    }

    void workerLoop() {
        std::unique_lock lock(mutex_);
        while (!stopping_) {
            if (ready_.empty()) {
                ++idleWorkers_;
                workCv_.wait(lock, [&] { return stopping_ || !ready_.empty(); });
                --idleWorkers_;
                continue;
            }
            Task task = std::move(ready_.front());
            ready_.pop_front();
            std::visit([&](auto& item) { run(item, lock); }, task);
        }
        threadDone();
    }

    void run(const SubscriptionPtr& subscription, std::unique_lock<std::mutex>& lock) {
        if (!subscription->active || subscription->queue.empty()) {
            subscription->scheduled = false;
            return;
        }
        RecordPtr record = std::move(subscription->queue.front());
        subscription->queue.pop_front();
        subscription->runningOn = std::this_thread::get_id();
        lock.unlock();
        try {
            subscription->callback(subscription->context, &record->header, record->name.c_str(),
                                   record->sender.c_str(), record->userData.c_str());
        } catch (...) {
            GP_LOG_WARNING(kSource, L"BusBroker::Broker::run", L"A message callback for %ls threw; ignored.",
                           record->name.c_str());
        }
        record.reset();
        lock.lock();
        subscription->runningOn = std::thread::id{};
        if (subscription->active && !subscription->queue.empty() && !stopping_) {
            schedule(subscription);
        } else {
            subscription->scheduled = false;
        }
        idleCv_.notify_all();
    }

    void run(const PendingPtr& pending, std::unique_lock<std::mutex>& lock) {
        if (!pending->active) return;
        pending->runningOn = std::this_thread::get_id();
        // A timeout hands back the request itself, so the requester can tell which one.
        RecordPtr record = pending->reply ? pending->reply : pending->request;
        lock.unlock();
        try {
            pending->callback(pending->context, pending->replyIndex, &record->header, record->name.c_str(),
                              record->sender.c_str(), record->userData.c_str(), pending->status);
        } catch (...) {
            GP_LOG_WARNING(kSource, L"BusBroker::Broker::run", L"A reply callback for %ls threw; ignored.",
                           record->name.c_str());
        }
        record.reset();
        lock.lock();
        pending->runningOn = std::thread::id{};
        pending->active = false;
        if (auto owner = handles_.find(pending->handle); owner != handles_.end()) {
            owner->second.replies.erase(pending->replyInfo);
        }
        idleCv_.notify_all();
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
        threadDone();
    }

    void threadDone() {
        exited_.insert(std::this_thread::get_id());
        --liveThreads_;
        idleCv_.notify_all();
    }

    const uint32_t sessionId_;
    BrokerOptions options_;

    mutable std::mutex mutex_;
    std::condition_variable workCv_;   // workers wait here for tasks
    std::condition_variable idleCv_;   // withdrawals and shutdown wait here for callbacks to end
    std::condition_variable timerCv_;  // the timer waits here for the next deadline
    bool stopping_ = false;

    uint64_t nextHandle_ = 1;
    uint32_t nextSubscription_ = 1;
    uint64_t nextReplyInfo_ = 1;
    std::map<uint64_t, HandleState> handles_;
    std::map<uint32_t, SubscriptionPtr> subscriptions_;
    std::unordered_map<uint64_t, PendingPtr> replies_;  // outstanding requests by replyInfo
    std::multimap<Clock::time_point, uint64_t> deadlines_;
    std::deque<Task> ready_;

    std::vector<std::thread> workers_;
    std::thread timer_;
    size_t idleWorkers_ = 0;
    size_t liveThreads_ = 0;
    std::set<std::thread::id> exited_;
    std::unordered_map<std::thread::id, std::thread::id> waitsFor_;
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

}  // namespace BusBroker
