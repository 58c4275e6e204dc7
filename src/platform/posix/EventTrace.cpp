// posix/EventTrace.cpp - POSIX side: event tracing within one process.
//
// One engine per process holds the registered providers and the running sessions. Control
// callbacks run on a short-lived thread of their own, under the engine's control lock, so a
// registration is never withdrawn while its callback runs and enable/disable requests reach
// a provider one at a time. Each session has a bounded queue and a delivery thread that
// calls the consumer's sink without any lock held.
//
// A module that links this code statically has its own copy of the engine. The copy in
// the main executable publishes a C table of its entry points in the environment
// (GLIMMERPANE_TRACE_HUB = "<pid>:<address>"); other copies in the same process forward to
// it, so providers in a loaded module and a consumer in the host meet. The pid guards
// against a child process that inherited the variable.
#include "platform/EventTrace.h"

#include "base/Win32Error.h"

#include <dlfcn.h>
#include <sys/auxv.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <map>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

namespace glimmerpane::platform {

namespace {

using base::kErrorInvalidHandle;
using base::kErrorInvalidParameter;
using base::kErrorNotEnoughMemory;
constexpr size_t kQueueCapacity = 65536;
constexpr uint32_t kBufferMagic = 0x47505443;  // "GPTC"

using SinkFunction = void (*)(void* context, const DeliveredTraceEvent* event);

struct ControlBuffer {
    uint32_t magic = kBufferMagic;
    TraceHandle session = 0;
};

struct Provider {
    TraceControlCallback callback;
    void* context;
    TraceGuid controlGuid;
    TraceGuid eventGuid;
};

struct QueuedEvent {
    DeliveredTraceEvent header;
    std::vector<uint8_t> payload;
};

struct Session {
    TraceHandle handle = 0;
    TraceGuid provider;
    uint8_t level = 0;
    uint32_t flags = 0;
    SinkFunction sink = nullptr;
    void* sinkContext = nullptr;
    std::mutex mutex;
    std::condition_variable wake;
    std::deque<QueuedEvent> queue;
    bool stopping = false;
    uint64_t delivered = 0;
    uint64_t lost = 0;
    std::thread thread;

    void Deliver() {
        std::unique_lock lock(mutex);
        for (;;) {
            wake.wait(lock, [&] { return stopping || !queue.empty(); });
            if (queue.empty()) return;  // stopping and drained
            QueuedEvent event = std::move(queue.front());
            queue.pop_front();
            lock.unlock();
            event.header.payload = event.payload.data();
            event.header.payloadSize = event.payload.size();
            sink(sinkContext, &event.header);
            lock.lock();
            ++delivered;
        }
    }
};

uint32_t ThreadId() { return static_cast<uint32_t>(::syscall(SYS_gettid)); }

class Engine {
public:
    uint32_t Register(TraceControlCallback callback, void* context, const TraceGuid* control, const TraceGuid* event,
                      TraceRegistrationHandle* registration) {
        if (callback == nullptr || registration == nullptr || control == nullptr || event == nullptr)
            return kErrorInvalidParameter;
        std::lock_guard control_lock(controlMutex_);
        const uint64_t id = nextId_++;
        std::vector<TraceHandle> waiting;
        {
            std::lock_guard lock(tableMutex_);
            providers_[id] = Provider{callback, context, *control, *event};
            for (auto& [handle, session] : sessions_)
                if (session->provider == *control) waiting.push_back(handle);
        }
        *registration = id;
        for (TraceHandle handle : waiting) RunCallback(providers_.at(id), kWmiEnableEvents, handle);
        return 0;
    }

    uint32_t Unregister(TraceRegistrationHandle registration) {
        std::lock_guard control_lock(controlMutex_);
        std::lock_guard lock(tableMutex_);
        return providers_.erase(registration) == 1 ? 0 : kErrorInvalidHandle;
    }

    TraceHandle LoggerHandle(void* buffer, uint32_t* error) {
        auto* control = static_cast<ControlBuffer*>(buffer);
        if (control != nullptr && control->magic == kBufferMagic) {
            std::lock_guard lock(tableMutex_);
            if (sessions_.count(control->session) != 0) {
                if (error) *error = 0;
                return control->session;
            }
        }
        if (error) *error = kErrorInvalidHandle;
        return kInvalidTraceHandle;
    }

    uint8_t Level(TraceHandle handle, uint32_t* error) {
        std::lock_guard lock(tableMutex_);
        auto it = sessions_.find(handle);
        if (error) *error = it == sessions_.end() ? kErrorInvalidHandle : 0;
        return it == sessions_.end() ? 0 : it->second->level;
    }

    uint32_t Flags(TraceHandle handle, uint32_t* error) {
        std::lock_guard lock(tableMutex_);
        auto it = sessions_.find(handle);
        if (error) *error = it == sessions_.end() ? kErrorInvalidHandle : 0;
        return it == sessions_.end() ? 0 : it->second->flags;
    }

    uint32_t Send(TraceHandle handle, const TraceEventHeader* header) {
        if (header == nullptr) return kErrorInvalidParameter;
        if (header->mofLength != 0 && (header->mofData == nullptr || !(header->flags & kWnodeFlagUseMofPtr)))
            return kErrorInvalidParameter;
        std::lock_guard lock(tableMutex_);
        auto it = sessions_.find(handle);
        if (it == sessions_.end()) return kErrorInvalidHandle;
        Session& session = *it->second;
        QueuedEvent event;
        event.header.guid = header->guid;
        event.header.level = header->classLevel;
        event.header.type = header->classType;
        event.header.version = header->classVersion;
        event.header.timestampNs = std::chrono::duration_cast<std::chrono::nanoseconds>(
                                       std::chrono::system_clock::now().time_since_epoch())
                                       .count();
        event.header.processId = static_cast<uint32_t>(::getpid());
        event.header.threadId = ThreadId();
        const auto* bytes = static_cast<const uint8_t*>(header->mofData);
        event.payload.assign(bytes, bytes + header->mofLength);
        std::lock_guard sessionLock(session.mutex);
        if (session.queue.size() >= kQueueCapacity) {
            ++session.lost;
            return kErrorNotEnoughMemory;
        }
        session.queue.push_back(std::move(event));
        session.wake.notify_one();
        return 0;
    }

    uint32_t Start(const TraceGuid* provider, uint8_t level, uint32_t flags, SinkFunction sink, void* sinkContext,
                   TraceHandle* out) {
        if (provider == nullptr || sink == nullptr || out == nullptr) return kErrorInvalidParameter;
        std::lock_guard control_lock(controlMutex_);
        auto session = std::make_shared<Session>();
        session->handle = 0x10000 + nextId_++;
        session->provider = *provider;
        session->level = level;
        session->flags = flags;
        session->sink = sink;
        session->sinkContext = sinkContext;
        session->thread = std::thread([s = session.get()] { s->Deliver(); });
        std::vector<Provider> enable;
        {
            std::lock_guard lock(tableMutex_);
            sessions_[session->handle] = session;
            for (auto& [id, p] : providers_)
                if (p.controlGuid == *provider) enable.push_back(p);
        }
        *out = session->handle;
        for (const Provider& p : enable) RunCallback(p, kWmiEnableEvents, session->handle);
        return 0;
    }

    uint32_t Stop(TraceHandle handle, TraceSessionStats* stats) {
        std::lock_guard control_lock(controlMutex_);
        std::shared_ptr<Session> session;
        std::vector<Provider> disable;
        {
            std::lock_guard lock(tableMutex_);
            auto it = sessions_.find(handle);
            if (it == sessions_.end()) return kErrorInvalidHandle;
            session = it->second;
            for (auto& [id, p] : providers_)
                if (p.controlGuid == session->provider) disable.push_back(p);
        }
        for (const Provider& p : disable) RunCallback(p, kWmiDisableEvents, handle);
        {
            std::lock_guard lock(tableMutex_);
            sessions_.erase(handle);
        }
        {
            std::lock_guard lock(session->mutex);
            session->stopping = true;
        }
        session->wake.notify_one();
        session->thread.join();
        if (stats) {
            stats->delivered = session->delivered;
            stats->lost = session->lost;
        }
        return 0;
    }

private:
    // The callback gets a thread of its own, as the system's control thread would be.
    static void RunCallback(const Provider& provider, uint32_t code, TraceHandle session) {
        ControlBuffer buffer;
        buffer.session = session;
        std::thread control([&] { provider.callback(code, provider.context, nullptr, &buffer); });
        control.join();
    }

    std::mutex controlMutex_;
    std::mutex tableMutex_;
    std::map<uint64_t, Provider> providers_;
    std::map<TraceHandle, std::shared_ptr<Session>> sessions_;
    uint64_t nextId_ = 1;
};

Engine& LocalEngine() {
    static Engine* engine = new Engine();  // outlives every static destructor and session thread
    return *engine;
}

// ---- the C table that other copies of this code in the process forward to ----
struct HubTable {
    uint32_t version;
    uint32_t size;
    uint32_t (*reg)(TraceControlCallback, void*, const TraceGuid*, const TraceGuid*, TraceRegistrationHandle*);
    uint32_t (*unreg)(TraceRegistrationHandle);
    TraceHandle (*loggerHandle)(void*, uint32_t*);
    uint8_t (*level)(TraceHandle, uint32_t*);
    uint32_t (*flags)(TraceHandle, uint32_t*);
    uint32_t (*send)(TraceHandle, const TraceEventHeader*);
    uint32_t (*start)(const TraceGuid*, uint8_t, uint32_t, SinkFunction, void*, TraceHandle*);
    uint32_t (*stop)(TraceHandle, TraceSessionStats*);
};

const HubTable kLocalHub = {
    1,
    sizeof(HubTable),
    [](TraceControlCallback cb, void* ctx, const TraceGuid* c, const TraceGuid* e, TraceRegistrationHandle* r) {
        return LocalEngine().Register(cb, ctx, c, e, r);
    },
    [](TraceRegistrationHandle r) { return LocalEngine().Unregister(r); },
    [](void* b, uint32_t* e) { return LocalEngine().LoggerHandle(b, e); },
    [](TraceHandle h, uint32_t* e) { return LocalEngine().Level(h, e); },
    [](TraceHandle h, uint32_t* e) { return LocalEngine().Flags(h, e); },
    [](TraceHandle h, const TraceEventHeader* header) { return LocalEngine().Send(h, header); },
    [](const TraceGuid* p, uint8_t l, uint32_t f, SinkFunction s, void* c, TraceHandle* o) {
        return LocalEngine().Start(p, l, f, s, c, o);
    },
    [](TraceHandle h, TraceSessionStats* s) { return LocalEngine().Stop(h, s); },
};

constexpr const char* kHubVariable = "GLIMMERPANE_TRACE_HUB";

bool InMainExecutable() {
    Dl_info mine{}, program{};
    const auto phdr = reinterpret_cast<const void*>(::getauxval(AT_PHDR));
    if (phdr == nullptr || ::dladdr(reinterpret_cast<const void*>(&InMainExecutable), &mine) == 0 ||
        ::dladdr(phdr, &program) == 0)
        return false;
    return mine.dli_fbase == program.dli_fbase;
}

// Runs during static initialisation of the executable, before any thread exists.
struct HubPublisher {
    HubPublisher() {
        if (!InMainExecutable()) return;
        char value[64];
        std::snprintf(value, sizeof value, "%ld:%p", static_cast<long>(::getpid()),
                      static_cast<const void*>(&kLocalHub));
        ::setenv(kHubVariable, value, 1);
    }
} g_hubPublisher;

const HubTable& Hub() {
    static const HubTable* hub = [] {
        if (InMainExecutable()) return &kLocalHub;
        const char* value = std::getenv(kHubVariable);
        long pid = 0;
        void* address = nullptr;
        if (value != nullptr && std::sscanf(value, "%ld:%p", &pid, &address) == 2 && pid == ::getpid() &&
            address != nullptr) {
            const auto* table = static_cast<const HubTable*>(address);
            if (table->version == 1 && table->size >= sizeof(HubTable)) return table;
        }
        return &kLocalHub;
    }();
    return *hub;
}

struct SinkHolder {
    TraceEventSink sink;
    static void Call(void* context, const DeliveredTraceEvent* event) {
        static_cast<SinkHolder*>(context)->sink(*event);
    }
};

std::mutex g_sinkMutex;
std::map<TraceHandle, std::unique_ptr<SinkHolder>>& Sinks() {
    static auto* sinks = new std::map<TraceHandle, std::unique_ptr<SinkHolder>>();
    return *sinks;
}

}  // namespace

uint32_t RegisterTraceProvider(TraceControlCallback callback, void* context, const TraceGuid& controlGuid,
                               const TraceGuid& eventClassGuid, TraceRegistrationHandle* registration) {
    return Hub().reg(callback, context, &controlGuid, &eventClassGuid, registration);
}

uint32_t UnregisterTraceProvider(TraceRegistrationHandle registration) { return Hub().unreg(registration); }

TraceHandle TraceLoggerHandleOf(void* buffer, uint32_t* error) { return Hub().loggerHandle(buffer, error); }

uint8_t TraceEnableLevel(TraceHandle session, uint32_t* error) { return Hub().level(session, error); }

uint32_t TraceEnableFlags(TraceHandle session, uint32_t* error) { return Hub().flags(session, error); }

uint32_t SendTraceEvent(TraceHandle session, const TraceEventHeader* header) { return Hub().send(session, header); }

uint32_t StartTraceSession(const TraceGuid& provider, uint8_t level, uint32_t flags, TraceEventSink sink,
                           TraceHandle* session) {
    if (!sink || session == nullptr) return kErrorInvalidParameter;
    auto holder = std::make_unique<SinkHolder>();
    holder->sink = std::move(sink);
    SinkHolder* raw = holder.get();
    // The sink must be in place before the provider can send its first event.
    std::lock_guard lock(g_sinkMutex);
    TraceHandle handle = 0;
    const uint32_t status = Hub().start(&provider, level, flags, &SinkHolder::Call, raw, &handle);
    if (status != 0) return status;
    Sinks()[handle] = std::move(holder);
    *session = handle;
    return 0;
}

uint32_t StopTraceSession(TraceHandle session, TraceSessionStats* stats) {
    const uint32_t status = Hub().stop(session, stats);
    if (status == 0) {
        std::lock_guard lock(g_sinkMutex);
        Sinks().erase(session);
    }
    return status;
}

uint32_t CurrentTraceThreadId() { return ThreadId(); }

}  // namespace glimmerpane::platform
