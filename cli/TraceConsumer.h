// TraceConsumer.h - a reusable consumer of the module's trace provider.
//
// start() opens a trace session that enables the provider (the default provider GUID of
// the logging configuration) at a level and flags; each event's LogEventRecord is decoded
// and handed to the sink on the session's delivery thread. stop() delivers what is queued,
// disables the provider and reports how many events arrived and were lost. Providers in
// libraries this process loads (the module) are reached as well.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

#include "etwlogging/LogRecordFormat.h"
#include "platform/EventTrace.h"

namespace glimmerpane::cli {

struct TraceEventLine {
    int64_t timestampNs = 0;
    uint8_t level = 0;
    ETWLogging::LogEventRecord record;
    bool decoded = false;  // false: the payload was not a LogEventRecord
};

// "hh:mm:ss.mmm LEVEL group source function: message" (local time).
std::string FormatTraceLine(const TraceEventLine& line);

class TraceConsumer {
public:
    using Sink = std::function<void(const TraceEventLine&)>;
    ~TraceConsumer();
    // 0, or a Win32 code (170 ERROR_BUSY when already started).
    uint32_t start(uint8_t level, uint32_t flags, Sink sink);
    platform::TraceSessionStats stop();
    bool running() const { return session_ != 0; }

private:
    platform::TraceHandle session_ = 0;
};

}  // namespace glimmerpane::cli
