// EventTrace.cpp (Windows side) - the classic event-trace provider and a real-time controller.
//
// Provider: RegisterTraceGuidsW, UnregisterTraceGuids, GetTraceLoggerHandle,
// GetTraceEnableLevel, GetTraceEnableFlags and TraceEvent, unchanged. The system calls the
// control callback on a thread of its own.
//
// Controller: StartTraceW starts a real-time session of a unique name, EnableTrace enables
// the provider with the level and flags, OpenTraceW and ProcessTrace deliver the events to
// the sink on a thread of the session; StopTraceSession disables the provider, stops the
// session (ControlTraceW) and waits until ProcessTrace has returned. Starting a session
// needs administrator rights (or the Performance Log Users group) on Windows; Wine has no
// trace consumer (OpenTraceW fails), so there StartTraceSession answers
// ERROR_NOT_SUPPORTED (50) and nothing is started.
#include "platform/EventTrace.h"

#include <windows.h>
#include <evntrace.h>
#include <wmistr.h>

#include <atomic>
#include <cstring>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace glimmerpane::platform {

namespace {

GUID ToGuid(const TraceGuid& g) {
    GUID out;
    std::memcpy(static_cast<void*>(&out), &g, sizeof out);
    return out;
}

TraceGuid FromGuid(const GUID& g) {
    TraceGuid out;
    std::memcpy(static_cast<void*>(&out), &g, sizeof out);
    return out;
}

static_assert(sizeof(TraceGuid) == sizeof(GUID), "a trace GUID is a GUID");

struct Session {
    TRACEHANDLE control = 0;
    TRACEHANDLE consumer = INVALID_PROCESSTRACE_HANDLE;
    GUID provider{};
    TraceEventSink sink;
    std::thread thread;
    std::atomic<uint64_t> delivered{0};
    std::wstring name;
    std::vector<uint8_t> properties;
};

std::mutex g_sessionsMutex;
std::map<TraceHandle, std::unique_ptr<Session>>& Sessions() {
    static auto* sessions = new std::map<TraceHandle, std::unique_ptr<Session>>();
    return *sessions;
}

EVENT_TRACE_PROPERTIES* PropertiesOf(std::vector<uint8_t>& storage, const std::wstring& name) {
    storage.assign(sizeof(EVENT_TRACE_PROPERTIES) + (name.size() + 1) * sizeof(wchar_t), 0);
    auto* properties = reinterpret_cast<EVENT_TRACE_PROPERTIES*>(storage.data());
    properties->Wnode.BufferSize = static_cast<ULONG>(storage.size());
    properties->Wnode.Flags = WNODE_FLAG_TRACED_GUID;
    properties->Wnode.ClientContext = 2;  // system time stamps
    properties->LogFileMode = EVENT_TRACE_REAL_TIME_MODE;
    properties->LoggerNameOffset = sizeof(EVENT_TRACE_PROPERTIES);
    std::memcpy(storage.data() + sizeof(EVENT_TRACE_PROPERTIES), name.c_str(), (name.size() + 1) * sizeof(wchar_t));
    return properties;
}

ULONG WINAPI OnBuffer(PEVENT_TRACE_LOGFILEW) { return TRUE; }

// FILETIME (100 ns since 1601) to nanoseconds since 1970.
int64_t UnixNanoseconds(LARGE_INTEGER stamp) {
    constexpr int64_t kEpochDifference = 116444736000000000LL;
    return (stamp.QuadPart - kEpochDifference) * 100;
}

thread_local Session* t_delivering = nullptr;

// EventTraceGuid, the class of the header event every session delivers first (the import
// library does not define it).
constexpr GUID kEventTraceGuid = {0x68fdd900, 0x4a3e, 0x11d1, {0x84, 0xf4, 0x00, 0x00, 0xf8, 0x04, 0x64, 0xe3}};

void WINAPI DeliverEvent(PEVENT_TRACE event) {
    Session* session = t_delivering;
    if (session == nullptr || event == nullptr) return;
    if (IsEqualGUID(event->Header.Guid, kEventTraceGuid)) return;  // the session's own header event
    DeliveredTraceEvent out;
    out.guid = FromGuid(event->Header.Guid);
    out.level = event->Header.Class.Level;
    out.type = event->Header.Class.Type;
    out.version = event->Header.Class.Version;
    out.timestampNs = UnixNanoseconds(event->Header.TimeStamp);
    out.processId = event->Header.ProcessId;
    out.threadId = event->Header.ThreadId;
    out.payload = static_cast<const uint8_t*>(event->MofData);
    out.payloadSize = event->MofLength;
    session->sink(out);
    ++session->delivered;
}

}  // namespace

uint32_t RegisterTraceProvider(TraceControlCallback callback, void* context, const TraceGuid& controlGuid,
                               const TraceGuid& eventClassGuid, TraceRegistrationHandle* registration) {
    if (callback == nullptr || registration == nullptr) return ERROR_INVALID_PARAMETER;
    // The system keeps the registration array until UnregisterTraceGuids.
    struct Registration {
        GUID control;
        GUID eventClass;
        TRACE_GUID_REGISTRATION entry;
    };
    auto* reg = new Registration{ToGuid(controlGuid), ToGuid(eventClassGuid), {}};
    reg->entry.Guid = &reg->eventClass;
    TRACEHANDLE handle = 0;
    const ULONG status = RegisterTraceGuidsW(reinterpret_cast<WMIDPREQUEST>(callback), context, &reg->control, 1,
                                             &reg->entry, nullptr, nullptr, &handle);
    if (status != ERROR_SUCCESS) {
        delete reg;
        return status;
    }
    *registration = handle;
    return 0;
}

uint32_t UnregisterTraceProvider(TraceRegistrationHandle registration) {
    return UnregisterTraceGuids(registration);
}

TraceHandle TraceLoggerHandleOf(void* buffer, uint32_t* error) {
    if (buffer == nullptr) {
        if (error) *error = ERROR_INVALID_HANDLE;
        return kInvalidTraceHandle;
    }
    SetLastError(0);
    const TRACEHANDLE handle = GetTraceLoggerHandle(buffer);
    const DWORD status = GetLastError();
    if (handle == static_cast<TRACEHANDLE>(~0ull) || status != 0) {
        if (error) *error = status != 0 ? status : static_cast<DWORD>(ERROR_INVALID_HANDLE);
        return kInvalidTraceHandle;
    }
    if (error) *error = 0;
    return handle;
}

uint8_t TraceEnableLevel(TraceHandle session, uint32_t* error) {
    SetLastError(0);
    const UCHAR level = GetTraceEnableLevel(session);
    if (error) *error = GetLastError();
    return level;
}

uint32_t TraceEnableFlags(TraceHandle session, uint32_t* error) {
    SetLastError(0);
    const ULONG flags = GetTraceEnableFlags(session);
    if (error) *error = GetLastError();
    return flags;
}

uint32_t SendTraceEvent(TraceHandle session, const TraceEventHeader* header) {
    if (header == nullptr) return ERROR_INVALID_PARAMETER;
    if (header->mofLength != 0 && (header->mofData == nullptr || !(header->flags & kWnodeFlagUseMofPtr)))
        return ERROR_INVALID_PARAMETER;
    if (session == 0 || session == kInvalidTraceHandle) return ERROR_INVALID_HANDLE;
    struct {
        EVENT_TRACE_HEADER header;
        MOF_FIELD field;
    } event{};
    static_assert(sizeof(event) == 64, "EVENT_TRACE_HEADER and one MOF_FIELD");
    event.header.Size = sizeof(event);
    event.header.Class.Type = header->classType;
    event.header.Class.Level = header->classLevel;
    event.header.Class.Version = header->classVersion;
    event.header.Flags = header->flags;
    event.header.Guid = ToGuid(header->guid);
    event.field.DataPtr = reinterpret_cast<ULONG64>(header->mofData);
    event.field.Length = header->mofLength;
    return TraceEvent(session, &event.header);
}

uint32_t StartTraceSession(const TraceGuid& provider, uint8_t level, uint32_t flags, TraceEventSink sink,
                           TraceHandle* out) {
    if (!sink || out == nullptr) return ERROR_INVALID_PARAMETER;
    static std::atomic<uint32_t> counter{0};
    auto session = std::make_unique<Session>();
    session->name = L"Glimmerpane-" + std::to_wstring(GetCurrentProcessId()) + L"-" + std::to_wstring(++counter);
    session->provider = ToGuid(provider);
    session->sink = std::move(sink);

    // A consumer must be possible before anything is started: Wine has none.
    EVENT_TRACE_PROPERTIES* properties = PropertiesOf(session->properties, session->name);
    ULONG status = StartTraceW(&session->control, session->name.c_str(), properties);
    if (status != ERROR_SUCCESS) return status;
    EVENT_TRACE_LOGFILEW logFile{};
    logFile.LoggerName = session->name.data();
    logFile.LogFileMode = EVENT_TRACE_REAL_TIME_MODE;  // PROCESS_TRACE_MODE_REAL_TIME
    logFile.EventCallback = &DeliverEvent;
    logFile.BufferCallback = &OnBuffer;
    session->consumer = OpenTraceW(&logFile);
    if (session->consumer == INVALID_PROCESSTRACE_HANDLE) {
        PropertiesOf(session->properties, session->name);
        ControlTraceW(session->control, nullptr, reinterpret_cast<EVENT_TRACE_PROPERTIES*>(session->properties.data()),
                      EVENT_TRACE_CONTROL_STOP);
        return ERROR_NOT_SUPPORTED;
    }
    Session* raw = session.get();
    session->thread = std::thread([raw] {
        t_delivering = raw;
        TRACEHANDLE handle = raw->consumer;
        ProcessTrace(&handle, 1, nullptr, nullptr);
        t_delivering = nullptr;
    });
    status = EnableTrace(TRUE, flags, level, &session->provider, session->control);
    if (status != ERROR_SUCCESS) {
        PropertiesOf(session->properties, session->name);
        ControlTraceW(session->control, nullptr, reinterpret_cast<EVENT_TRACE_PROPERTIES*>(session->properties.data()),
                      EVENT_TRACE_CONTROL_STOP);
        CloseTrace(session->consumer);
        session->thread.join();
        return status;
    }
    const TraceHandle handle = session->control;
    std::lock_guard lock(g_sessionsMutex);
    Sessions()[handle] = std::move(session);
    *out = handle;
    return 0;
}

uint32_t StopTraceSession(TraceHandle handle, TraceSessionStats* stats) {
    std::unique_ptr<Session> session;
    {
        std::lock_guard lock(g_sessionsMutex);
        auto it = Sessions().find(handle);
        if (it == Sessions().end()) return ERROR_INVALID_HANDLE;
        session = std::move(it->second);
        Sessions().erase(it);
    }
    EnableTrace(FALSE, 0, 0, &session->provider, session->control);
    auto* properties = PropertiesOf(session->properties, session->name);
    ControlTraceW(session->control, nullptr, properties, EVENT_TRACE_CONTROL_STOP);
    // ProcessTrace returns once the stopped session's buffers are delivered.
    session->thread.join();
    CloseTrace(session->consumer);
    if (stats) {
        stats->delivered = session->delivered;
        stats->lost = properties->EventsLost;
    }
    return 0;
}

uint32_t CurrentTraceThreadId() { return GetCurrentThreadId(); }

}  // namespace glimmerpane::platform
