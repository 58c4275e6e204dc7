// EventTrace.h - event tracing: the classic provider API and a controller to consume it.
//
// Providers register a control GUID with a control callback, are enabled and disabled by
// trace sessions through that callback (request 4 enable, 5 disable) with a level and
// flags, and send events with TraceEvent on the session handle they were given. With no
// session attached there is nowhere to send to and events are dropped, as on Windows.
//
// Windows: RegisterTraceGuidsW, UnregisterTraceGuids, GetTraceLoggerHandle,
// GetTraceEnableLevel, GetTraceEnableFlags, TraceEvent; the controller side uses the
// system's real-time sessions. POSIX: the same contract within one process. The control
// callback always runs on a thread of its own (never the caller's) and the controller call
// that caused it waits for it. Events reach the consumer's sink on the session's delivery
// thread in the order they were sent; StopTraceSession delivers what is queued, then
// disables the provider. Several copies of this code in one process (the executable and
// a module that links it statically) share the executable's sessions, so a consumer in the
// host sees the events of the module it loaded.
//
// Statuses are Win32 error codes. All functions may be called from any thread.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>

#include "base/Guid.h"

namespace glimmerpane::platform {

using TraceGuid = base::Guid;

using TraceHandle = uint64_t;                 // a session's logger handle; 0 = none
using TraceRegistrationHandle = uint64_t;     // a provider registration; 0 = none
inline constexpr TraceHandle kInvalidTraceHandle = ~uint64_t{0};

inline constexpr uint32_t kWmiEnableEvents = 4;
inline constexpr uint32_t kWmiDisableEvents = 5;
inline constexpr uint32_t kWnodeFlagTracedGuid = 0x00020000;
inline constexpr uint32_t kWnodeFlagUseMofPtr = 0x00100000;

// The control callback (WMIDPREQUEST): request code, the context given at registration,
// a reserved pointer and the request buffer (pass it to TraceLoggerHandleOf).
using TraceControlCallback = uint32_t (*)(uint32_t requestCode, void* context, uint32_t* reserved, void* buffer);

// EVENT_TRACE_HEADER followed by one MOF_FIELD (64 bytes on Windows x64).
struct TraceEventHeader {
    uint16_t size = 64;
    uint8_t classType = 0;
    uint8_t classLevel = 0;
    uint16_t classVersion = 0;
    uint32_t flags = 0;
    TraceGuid guid;
    const void* mofData = nullptr;
    uint32_t mofLength = 0;
};

// ---- provider side ----
// RegisterTraceGuidsW with one trace GUID registration. Sessions that enabled the control
// GUID before the registration enable it now (callback with request 4, once per session).
// 87 for a null callback or registration pointer.
uint32_t RegisterTraceProvider(TraceControlCallback callback, void* context, const TraceGuid& controlGuid,
                               const TraceGuid& eventClassGuid, TraceRegistrationHandle* registration);
// UnregisterTraceGuids: no callback runs for this registration afterwards. 6 when unknown.
uint32_t UnregisterTraceProvider(TraceRegistrationHandle registration);
// GetTraceLoggerHandle: the session of a control request buffer; kInvalidTraceHandle with
// *error = 6 when the buffer names no live session (error may be null).
TraceHandle TraceLoggerHandleOf(void* buffer, uint32_t* error);
// GetTraceEnableLevel / GetTraceEnableFlags: 0 with *error = 6 for an unknown session.
uint8_t TraceEnableLevel(TraceHandle session, uint32_t* error);
uint32_t TraceEnableFlags(TraceHandle session, uint32_t* error);
// TraceEvent: queues the event on the session. 87 for a null header or a payload without
// the MOF flag; 6 for an unknown or stopped session (the event is dropped); 8 when the
// session's queue is full (dropped and counted as lost).
uint32_t SendTraceEvent(TraceHandle session, const TraceEventHeader* header);

// ---- controller side ----
struct DeliveredTraceEvent {
    TraceGuid guid;
    uint8_t level = 0;
    uint8_t type = 0;
    uint16_t version = 0;
    int64_t timestampNs = 0;   // system clock, nanoseconds since 1970
    uint32_t processId = 0;
    uint32_t threadId = 0;
    const uint8_t* payload = nullptr;
    size_t payloadSize = 0;
};
using TraceEventSink = std::function<void(const DeliveredTraceEvent&)>;

struct TraceSessionStats {
    uint64_t delivered = 0;
    uint64_t lost = 0;
};

// Starts a real-time session and enables the provider with the level and flags (now, when
// it is registered, or when it registers later). The sink runs on the session's thread.
// 87 for an empty sink or null out pointer.
uint32_t StartTraceSession(const TraceGuid& provider, uint8_t level, uint32_t flags, TraceEventSink sink,
                           TraceHandle* session);
// Delivers the queued events, disables the provider (request 5) and ends the session.
uint32_t StopTraceSession(TraceHandle session, TraceSessionStats* stats = nullptr);

// The calling thread's id as the system numbers threads.
uint32_t CurrentTraceThreadId();

}  // namespace glimmerpane::platform
