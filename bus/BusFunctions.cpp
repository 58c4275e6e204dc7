// BusFunctions.cpp - the C function table over the process's broker, and its lifetime.
#include "BusFunctions.h"

#include <atomic>
#include <memory>
#include <mutex>
#include <new>

#include "ProcessBroker.h"
#include "etwlogging/LogCall.h"
#include "module/ModuleStatus.h"

namespace BusBroker {

namespace {

using namespace Vornik;

// Both trivially destructible, so they stay readable after static destruction has
// destroyed the owner below.
std::atomic<ProcessBroker*> g_broker{nullptr};
std::atomic<bool> g_finished{false};

struct BrokerOwner {
    std::mutex mutex;
    std::unique_ptr<ProcessBroker> broker;
    ~BrokerOwner() {
        g_finished.store(true);
        g_broker.store(nullptr);
        broker.reset();  // shuts the broker down: withdraws all handles, stops its threads
    }
} g_owner;

ProcessBroker* Instance() {
    if (ProcessBroker* broker = g_broker.load(std::memory_order_acquire)) return broker;
    if (g_finished.load()) return nullptr;
    std::lock_guard lock(g_owner.mutex);
    if (!g_owner.broker) {
        g_owner.broker = ProcessBroker::FromEnvironment();
        g_broker.store(g_owner.broker.get(), std::memory_order_release);
    }
    return g_owner.broker.get();
}

}  // namespace

namespace {
// Tables handed out by CreateObject and not yet handed back.
std::atomic<int> g_tableReferences{0};
}  // namespace

const MessageBusFunctions* AcquireFunctionTable(uint32_t frameworkVersion) {
    const MessageBusFunctions* table = BusFunctionTable(frameworkVersion);
    if (table != nullptr) g_tableReferences.fetch_add(1);
    return table;
}

void ReleaseFunctionTable(const void* table) {
    if (table == nullptr) return;
    // One more reference back; a host that hands back more than it took counts as none left.
    int left = g_tableReferences.load();
    while (left > 0 && !g_tableReferences.compare_exchange_weak(left, left - 1)) {
    }
    const bool lastReference = left <= 1;
    std::unique_ptr<ProcessBroker> finished;
    {
        std::lock_guard lock(g_owner.mutex);
        if (!g_owner.broker) return;
        if (!lastReference && g_owner.broker->openHandleCount() != 0) return;
        g_broker.store(nullptr, std::memory_order_release);
        finished = std::move(g_owner.broker);
    }
    finished.reset();  // withdraws what is still open, without calling anything, and joins
}

namespace {

template <class Body>
ModuleStatus Guarded(const wchar_t* function, Body&& body) noexcept {
    try {
        ProcessBroker* broker = Instance();
        if (broker == nullptr) return MODULE_STATUS_INVALID_STATE;
        return body(*broker);
    } catch (const std::bad_alloc&) {
        GP_LOG_ERROR(L"bus\\BusFunctions", function, L"Out of memory.");
        return MODULE_STATUS_NO_MEMORY;
    } catch (...) {
        GP_LOG_ERROR(L"bus\\BusFunctions", function, L"Unexpected failure inside the bus.");
        return MODULE_STATUS_UNKNOWN_EXCEPTION;
    }
}

ModuleStatus Open(void** handle) {
    return Guarded(L"BusBroker::open", [&](ProcessBroker& b) { return b.open(handle); });
}

ModuleStatus Close(void* handle) {
    return Guarded(L"BusBroker::close", [&](ProcessBroker& b) { return b.close(handle); });
}

ModuleStatus Publish(void* handle, MessageHeader* header, const wchar_t* name, const wchar_t* sender,
                     const wchar_t* userData) {
    return Guarded(L"BusBroker::publish", [&](ProcessBroker& b) { return b.publish(handle, header, name, sender, userData); });
}

ModuleStatus Request(void* handle, uint64_t replyIndex, void* context, BusReplyCallback callback,
                     MessageHeader* header, const wchar_t* name, const wchar_t* sender, const wchar_t* userData,
                     uint32_t timeoutMs) {
    return Guarded(L"BusBroker::request", [&](ProcessBroker& b) {
        return b.request(handle, replyIndex, context, callback, header, name, sender, userData, timeoutMs);
    });
}

// Subscription ids travel in the status slot of Guarded; 0 means refused, and no
// failure status can be mistaken for an id because failures map to 0 here.
uint32_t Subscribe(void* handle, void* context, BusMessageCallback callback, const wchar_t* name) {
    uint32_t id = 0;
    const ModuleStatus status = Guarded(L"BusBroker::subscribe", [&](ProcessBroker& b) {
        id = b.subscribe(handle, context, callback, name);
        return MODULE_STATUS_SUCCESS;
    });
    return status == MODULE_STATUS_SUCCESS ? id : 0;
}

uint32_t SubscribeFilter(void* handle, void* context, BusMessageCallback callback, const wchar_t* pattern) {
    uint32_t id = 0;
    const ModuleStatus status = Guarded(L"BusBroker::subscribeFilter", [&](ProcessBroker& b) {
        id = b.subscribeFilter(handle, context, callback, pattern);
        return MODULE_STATUS_SUCCESS;
    });
    return status == MODULE_STATUS_SUCCESS ? id : 0;
}

ModuleStatus Unsubscribe(void* handle, uint32_t subscriptionId) {
    return Guarded(L"BusBroker::unsubscribe", [&](ProcessBroker& b) { return b.unsubscribe(handle, subscriptionId); });
}

ModuleStatus ReleaseReplyCallback(void* handle, BusReplyCallback callback) {
    return Guarded(L"BusBroker::releaseReplyCallback",
                   [&](ProcessBroker& b) { return b.releaseReplyCallback(handle, callback); });
}

MessageBusFunctions g_table = {Open,      Close,           Publish,     Request,
                               Subscribe, SubscribeFilter, Unsubscribe, ReleaseReplyCallback};

}  // namespace

const MessageBusFunctions* BusFunctionTable(uint32_t frameworkVersion) {
    if (frameworkVersion < kFirstSupportedVersion || frameworkVersion > kLastSupportedVersion) return nullptr;
    return &g_table;
}

}  // namespace BusBroker
