// FakeBus.cpp - the recording bus library for tests.
#include "support/FakeBus.h"

#include <algorithm>
#include <cstring>

namespace gptest {

namespace {

constexpr ModuleStatus kInvalidParameter = 0x80000008;
constexpr ModuleStatus kTimeout = 0x8000000D;
constexpr ModuleStatus kNotFound = 0x8000000A;

// What this thread is delivering right now, so that an unsubscribe or release from
// inside a callback does not wait for itself.
thread_local std::vector<uint32_t> t_deliveringIds;
thread_local int t_replyDepth = 0;

FakeBus* BusOf(void* handle) { return static_cast<FakeBus*>(handle); }

RecordedMessage Record(const MessageHeader* header, const wchar_t* name, const wchar_t* sender, const wchar_t* data) {
    RecordedMessage m{};
    if (header) std::memcpy(&m.header, header, sizeof(MessageHeader));
    m.name = name ? name : L"";
    m.sender = sender ? sender : L"";
    m.userData = data ? data : L"";
    return m;
}

const MessageBusFunctions kFunctions = {
    // The fake is handed to the module as a ready handle; it opens none of its own.
    [](void** handle) -> ModuleStatus {
        if (handle) *handle = nullptr;
        return kInvalidParameter;
    },
    [](void*) -> ModuleStatus { return 0; },
    [](void* h, MessageHeader* header, const wchar_t* n, const wchar_t* s, const wchar_t* d) -> ModuleStatus {
        return h ? BusOf(h)->publish(header, n, s, d) : kInvalidParameter;
    },
    [](void* h, uint64_t index, void* context, BusReplyCallback callback, MessageHeader* header, const wchar_t* n,
       const wchar_t* s, const wchar_t* d, uint32_t timeout) -> ModuleStatus {
        return h ? BusOf(h)->request(index, context, callback, header, n, s, d, timeout) : kInvalidParameter;
    },
    [](void* h, void* context, BusMessageCallback callback, const wchar_t* name) -> uint32_t {
        return h ? BusOf(h)->subscribe(context, callback, name, false) : 0;
    },
    [](void* h, void* context, BusMessageCallback callback, const wchar_t* pattern) -> uint32_t {
        return h ? BusOf(h)->subscribe(context, callback, pattern, true) : 0;
    },
    [](void* h, uint32_t id) -> ModuleStatus { return h ? BusOf(h)->unsubscribe(id) : kInvalidParameter; },
    [](void* h, BusReplyCallback callback) -> ModuleStatus {
        return h ? BusOf(h)->releaseReplyCallback(callback) : kInvalidParameter;
    },
};

}  // namespace

FakeBus::FakeBus() : deliveryThread_([this] { deliveryLoop(); }) {}

FakeBus::~FakeBus() {
    {
        std::lock_guard lock(mutex_);
        stopping_ = true;
    }
    changed_.notify_all();
    deliveryThread_.join();
}

const MessageBusFunctions* FakeBus::functions() { return &kFunctions; }

void FakeBus::deliveryLoop() {
    std::unique_lock lock(mutex_);
    for (;;) {
        changed_.wait(lock, [&] { return stopping_ || !work_.empty(); });
        if (work_.empty()) return;  // stopping with nothing left
        auto job = std::move(work_.front());
        work_.pop_front();
        busy_ = true;
        lock.unlock();
        job();
        lock.lock();
        busy_ = false;
        changed_.notify_all();
    }
}

void FakeBus::drain() {
    std::unique_lock lock(mutex_);
    changed_.wait(lock, [&] { return work_.empty() && !busy_; });
}

ModuleStatus FakeBus::publish(MessageHeader* header, const wchar_t* name, const wchar_t* sender,
                              const wchar_t* userData) {
    if (header == nullptr || name == nullptr || sender == nullptr || userData == nullptr) return kInvalidParameter;
    const size_t callNumber = publishCalls_++;
    const ModuleStatus status = callNumber >= failPublishesFrom_ ? publishStatus_.load() : 0;
    RecordedMessage message = Record(header, name, sender, userData);
    {
        std::lock_guard lock(mutex_);
        published_.push_back(message);
    }
    changed_.notify_all();
    return status;
}

ModuleStatus FakeBus::request(uint64_t replyIndex, void* context, BusReplyCallback callback, MessageHeader* header,
                              const wchar_t* name, const wchar_t* sender, const wchar_t* userData,
                              uint32_t timeoutMs) {
    if (callback == nullptr || header == nullptr || name == nullptr) return kInvalidParameter;
    RecordedRequest recorded{replyIndex, context, callback, Record(header, name, sender, userData), timeoutMs};
    {
        std::lock_guard lock(mutex_);
        requests_.push_back(recorded);
    }
    switch (replyMode_.load()) {
        case ReplyMode::Refuse: return 0x80000002;
        case ReplyMode::Never: break;
        case ReplyMode::Early: reply(recorded, 0, L"early reply"); break;
        case ReplyMode::Late:
        case ReplyMode::Timeout: {
            const ModuleStatus status = replyMode_ == ReplyMode::Late ? 0 : kTimeout;
            const auto delay = replyDelay_;
            std::lock_guard lock(mutex_);
            work_.push_back([this, recorded, status, delay] {
                std::this_thread::sleep_for(delay);
                reply(recorded, status, L"late reply");
            });
            changed_.notify_all();
            break;
        }
    }
    return 0;
}

std::optional<uint32_t> FakeBus::answerRequest(const RecordedRequest& request, ModuleStatus status,
                                               const std::wstring& replyData) {
    return reply(request, status, replyData);
}

std::optional<uint32_t> FakeBus::reply(const RecordedRequest& request, ModuleStatus status,
                                       const std::wstring& replyData) {
    {
        std::lock_guard lock(mutex_);
        if (replyReleased_) return std::nullopt;
        ++repliesInFlight_;
    }
    MessageHeader header = request.message.header;
    header.flags |= 1u;  // FLAG_REPLY
    header.replyInfo = request.replyIndex;
    ++t_replyDepth;
    const uint32_t result = request.callback(request.context, request.replyIndex, &header, request.message.name.c_str(),
                                             L"FakeResponder", replyData.c_str(), status);
    --t_replyDepth;
    {
        std::lock_guard lock(mutex_);
        --repliesInFlight_;
    }
    changed_.notify_all();
    return result;
}

ModuleStatus FakeBus::releaseReplyCallback(BusReplyCallback callback) {
    if (callback == nullptr) return kInvalidParameter;
    ++releaseReplyCalls_;
    std::unique_lock lock(mutex_);
    replyReleased_ = true;
    // A release from inside a reply callback cannot wait for itself.
    const int own = t_replyDepth;
    changed_.wait(lock, [&] { return repliesInFlight_ <= own; });
    return 0;
}

uint32_t FakeBus::subscribe(void* context, BusMessageCallback callback, const wchar_t* name, bool pattern) {
    if (callback == nullptr || name == nullptr || refuseSubscriptions_) return 0;
    std::optional<std::wregex> compiled;
    if (pattern) {
        try {
            compiled.emplace(name, std::regex_constants::ECMAScript | std::regex_constants::nosubs);
        } catch (const std::regex_error&) {
            return 0;
        }
    }
    std::lock_guard lock(mutex_);
    if (std::find(refusedNames_.begin(), refusedNames_.end(), name) != refusedNames_.end()) return 0;
    const uint32_t id = nextId_++;
    subscriptions_.emplace(id, Subscription{id, context, callback, name, std::move(compiled)});
    return id;
}

ModuleStatus FakeBus::unsubscribe(uint32_t id) {
    ++unsubscribeCalls_;
    std::unique_lock lock(mutex_);
    auto found = subscriptions_.find(id);
    if (found == subscriptions_.end()) return kNotFound;
    found->second.active = false;
    const int own = static_cast<int>(std::count(t_deliveringIds.begin(), t_deliveringIds.end(), id));
    changed_.wait(lock, [&] { return found->second.inFlight <= own; });
    subscriptions_.erase(found);
    changed_.notify_all();
    return 0;
}

size_t FakeBus::deliver(const std::wstring& name, const std::wstring& userData, const std::wstring& sender,
                        const MessageHeader* header) {
    MessageHeader defaultHeader{};
    defaultHeader.marker = 1;
    defaultHeader.headerVersion = 2;
    defaultHeader.ext1 = 11;
    defaultHeader.ext2 = 8;
    RecordedMessage message = Record(header ? header : &defaultHeader, name.c_str(), sender.c_str(), userData.c_str());
    uint32_t runs = 0;
    deliverRecorded(message, &runs);
    return runs;
}

uint32_t FakeBus::deliverRecorded(const RecordedMessage& message, uint32_t* runs) {
    std::vector<uint32_t> targets;
    {
        std::lock_guard lock(mutex_);
        for (auto& [id, s] : subscriptions_) {
            if (!s.active) continue;
            const bool matches = s.pattern ? std::regex_match(message.name, *s.pattern) : s.name == message.name;
            if (!matches) continue;
            ++s.inFlight;
            targets.push_back(id);
        }
    }
    for (uint32_t id : targets) {
        Subscription* s = nullptr;
        {
            std::lock_guard lock(mutex_);
            s = &subscriptions_.at(id);  // pinned by its inFlight count
        }
        t_deliveringIds.push_back(id);
        s->callback(s->context, &message.header, message.name.c_str(), message.sender.c_str(),
                    message.userData.c_str());
        t_deliveringIds.pop_back();
        ++*runs;
        {
            std::lock_guard lock(mutex_);
            --s->inFlight;
        }
        changed_.notify_all();
    }
    return 0;
}

void FakeBus::post(const std::wstring& name, const std::wstring& userData, const std::wstring& sender) {
    std::lock_guard lock(mutex_);
    work_.push_back([this, name, userData, sender] { deliver(name, userData, sender); });
    changed_.notify_all();
}

std::vector<RecordedMessage> FakeBus::published() const {
    std::lock_guard lock(mutex_);
    return published_;
}

std::vector<RecordedRequest> FakeBus::requests() const {
    std::lock_guard lock(mutex_);
    return requests_;
}

std::vector<std::wstring> FakeBus::subscribedNames() const {
    std::lock_guard lock(mutex_);
    std::vector<std::wstring> names;
    for (auto& [id, s] : subscriptions_) names.push_back(s.name);
    return names;
}

size_t FakeBus::subscriptionCount() const {
    std::lock_guard lock(mutex_);
    return subscriptions_.size();
}

bool FakeBus::waitForPublished(size_t count, std::chrono::milliseconds timeout) const {
    std::unique_lock lock(mutex_);
    return changed_.wait_for(lock, timeout, [&] { return published_.size() >= count; });
}

}  // namespace gptest
