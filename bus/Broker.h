// Broker.h - the in-process message broker behind BusBroker's function table.
//
// One Broker routes messages between the handles opened on it. Publishing copies the
// message once into an immutable record and queues it for every matching subscription;
// the broker's own worker threads run the callbacks. Each subscription is a serial
// queue: its callbacks never overlap and run in the order the messages were published
// (publishes from one thread keep their order; publishes racing on different threads are
// ordered by the moment each one entered the broker). Different subscriptions run in
// parallel, on a pool that grows on demand up to a fixed size.
//
// Request and reply: `request` registers a pending reply under a fresh, non-zero
// replyInfo before the request reaches any subscriber, so a reply published before
// `request` returns is routed. A message published with FLAG_REPLY goes only to the
// requester whose replyInfo it carries and never to subscribers; subscribers see a reply
// only as the separate non-reply copy that the replying client publishes (flags
// FLAG_NO_COPY / FLAG_COPIED are left for the client and passed through untouched).
// A request without a reply within its timeout completes with MODULE_STATUS_TIMEOUT;
// a timeout of 0xFFFFFFFF never expires.
//
// Guarantees (each one holds when the call has returned):
//  - unsubscribe(id): no callback of that subscription runs or will run;
//  - releaseReplyCallback(handle, cb): no reply callback cb of that handle runs or will run;
//  - close(handle): nothing of the handle runs or will run and its handle value is dead.
// Each of these waits for a callback in flight on another thread, but never for the
// callback it is called from (a callback may withdraw itself). Should waiting close a
// cycle (two callbacks each withdrawing the other), the call that would close it returns
// without waiting and logs a warning, rather than deadlocking both.
//
// Slow subscribers: every subscription's queue holds at most
// BrokerOptions::maxPendingPerSubscription deliveries that have not started, give or take
// one per publishing thread. A publish that finds a target queue at the limit has queued
// its message and then waits until that subscriber takes one (or publishPatience passes,
// which is logged once per subscription and burst; the message is never dropped). A publish
// made from inside a callback, on a broker thread, never waits: the thread it would wait for
// could be itself, so those deliveries may go beyond the limit. A publisher must therefore
// not hold, while publishing, a lock that a subscriber's callback takes.
//
// Destruction withdraws every handle without calling anything, waits a bounded time for
// callbacks in flight and lets the worker threads go.
//
// Thread safety: every operation may be called from any thread, including from inside
// the broker's callbacks. Nothing throws out of an operation except std::bad_alloc.
#pragma once

#include <glimmerpane/abi.h>

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <memory>

namespace BusBroker {

// Flag bits of MessageHeader::flags that the broker interprets or documents.
inline constexpr uint32_t FLAG_REPLY = 1u << 0;
inline constexpr uint32_t FLAG_NO_COPY = 1u << 3;
inline constexpr uint32_t FLAG_COPIED = 1u << 4;

// A request timeout that never expires.
inline constexpr uint32_t kInfiniteTimeout = 0xFFFFFFFFu;

// The longest message name (and subscription name or pattern), in characters. Pattern
// matching recurses per character in the standard library, so unbounded names would let
// one publisher overflow a worker's stack.
inline constexpr size_t kMaxNameLength = 1024;

// Where the broker learns the login session of this process, stamped on every message.
class SessionSource {
public:
    virtual ~SessionSource() = default;
    // The session id, 0 when unknown.
    virtual uint32_t currentSessionId() = 0;
};

// The platform's session source (see SessionId.h).
std::shared_ptr<SessionSource> MakeDefaultSessionSource();

// Sees every message this process publishes or requests, for a transport that carries them
// to other processes. Called with the broker's lock held, in the order the messages entered
// the broker, so it must only copy and queue: it may not call back into the broker.
class MessageTap {
public:
    virtual ~MessageTap() = default;
    // A plain message or a request (replyInfo set, timeoutMs its timeout); header is the
    // stamped copy subscribers get.
    virtual void published(const MessageHeader& header, const wchar_t* name, const wchar_t* sender,
                           const wchar_t* userData, bool isRequest, uint32_t timeoutMs) = 0;
    // Whether a subscriber elsewhere would see a request to name (no local one does).
    virtual bool reachesElsewhere(const wchar_t* name) = 0;
};

struct BrokerOptions {
    // Upper bound of delivery threads; at least 1.
    size_t maxWorkers = 16;
    // A subscriber slower than its publishers: once this many deliveries wait in its queue,
    // publish waits (up to publishPatience) until the subscriber has taken one, so memory
    // stays bounded. Publishing from inside a callback never waits (see Broker).
    size_t maxPendingPerSubscription = 4096;
    std::chrono::milliseconds publishPatience{1000};
    // How long destruction waits for callbacks in flight before letting their threads go.
    std::chrono::milliseconds shutdownGrace{2000};
    // Empty: the broker delivers inside this process only.
    std::shared_ptr<MessageTap> tap;
};

class Broker {
public:
    // An empty session source selects the platform's.
    explicit Broker(std::shared_ptr<SessionSource> session = nullptr, BrokerOptions options = {});
    ~Broker();
    Broker(const Broker&) = delete;
    Broker& operator=(const Broker&) = delete;

    // Stores a new handle (never null). INVALID_PARAMETER for a null address,
    // INVALID_STATE once the broker is shutting down.
    ModuleStatus open(void** handle);
    // INVALID_PARAMETER for null, INVALID_HANDLE for a value that is not open.
    ModuleStatus close(void* handle);

    // 0 also when nobody subscribes to the name (the message is dropped), and for a reply
    // whose request is unknown or already completed (dropped, logged). INVALID_PARAMETER
    // for a null header or string, or a name that is empty or longer than kMaxNameLength.
    ModuleStatus publish(void* handle, const MessageHeader* header, const wchar_t* name, const wchar_t* sender,
                         const wchar_t* userData);

    // Delivers the message to its subscribers with a new replyInfo; the reply or the
    // timeout later reaches callback(context, replyIndex, ...) on a broker thread.
    // NO_SUBSCRIBERS when nobody would see the request (the callback is then never called).
    ModuleStatus request(void* handle, uint64_t replyIndex, void* context, BusReplyCallback callback,
                         const MessageHeader* header, const wchar_t* name, const wchar_t* sender,
                         const wchar_t* userData, uint32_t timeoutMs);

    // As publish and request, for a message that came from another process: it keeps the
    // session its publisher stamped and is not handed to the tap again.
    ModuleStatus publishForeign(uint32_t senderSession, void* handle, const MessageHeader* header,
                                const wchar_t* name, const wchar_t* sender, const wchar_t* userData);
    ModuleStatus requestForeign(uint32_t senderSession, void* handle, uint64_t replyIndex, void* context,
                                BusReplyCallback callback, const MessageHeader* header, const wchar_t* name,
                                const wchar_t* sender, const wchar_t* userData, uint32_t timeoutMs);

    // A non-zero id, or 0 when refused (bad handle, null callback, bad name or pattern).
    // A pattern is an ECMAScript regular expression that must match the whole name,
    // case-sensitively.
    uint32_t subscribe(void* handle, void* context, BusMessageCallback callback, const wchar_t* name);
    uint32_t subscribeFilter(void* handle, void* context, BusMessageCallback callback, const wchar_t* pattern);

    // NOT_FOUND for an id that this handle does not hold.
    ModuleStatus unsubscribe(void* handle, uint32_t subscriptionId);
    // Withdraws every outstanding request of the handle made with callback; 0 also when
    // there is none.
    ModuleStatus releaseReplyCallback(void* handle, BusReplyCallback callback);

    // Threads the broker has started so far (for tests of the pool's bound).
    size_t workerCount() const;
    // Handles open now.
    size_t openHandleCount();

    class Core;

private:
    std::shared_ptr<Core> core_;
};

}  // namespace BusBroker
