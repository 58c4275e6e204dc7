// TraceConsumer.cpp - the trace session of `glimmerpane trace`.
#include "TraceConsumer.h"

#include <ctime>

#include "etwlogging/CETWLogging.h"
#include "base/Utf.h"
#include "platform/LocalTime.h"

namespace glimmerpane::cli {

std::string FormatTraceLine(const TraceEventLine& line) {
    const std::time_t seconds = static_cast<std::time_t>(line.timestampNs / 1000000000);
    const std::tm parts = glimmerpane::platform::LocalTimeOf(seconds);
    char stamp[32];
    std::snprintf(stamp, sizeof stamp, "%02d:%02d:%02d.%03d", parts.tm_hour, parts.tm_min, parts.tm_sec,
                  static_cast<int>((line.timestampNs / 1000000) % 1000));
    static const char* const kLevels[] = {"?", "NORMAL", "WARNING", "INFO", "ERROR", "CRITICAL"};
    const char* level = line.level <= 5 ? kLevels[line.level] : "?";
    if (!line.decoded) return std::string(stamp) + " " + level + " (undecodable event)";
    const auto& r = line.record;
    return std::string(stamp) + " " + level + " " + glimmerpane::base::Utf8FromWide(r.groupName) + " " +
           glimmerpane::base::Utf8FromWide(r.file) + " " + glimmerpane::base::Utf8FromWide(r.function) + ": " +
           glimmerpane::base::Utf8FromWide(r.message);
}

TraceConsumer::~TraceConsumer() {
    if (session_ != 0) stop();
}

uint32_t TraceConsumer::start(uint8_t level, uint32_t flags, Sink sink) {
    if (session_ != 0) return 170;
    if (!sink) return 87;
    auto decode = [sink = std::move(sink)](const platform::DeliveredTraceEvent& event) {
        TraceEventLine line;
        line.timestampNs = event.timestampNs;
        line.level = event.level;
        if (auto record = ETWLogging::DecodeLogEventRecord(event.payload, event.payloadSize)) {
            line.record = std::move(*record);
            line.decoded = true;
        }
        sink(line);
    };
    return platform::StartTraceSession(ETWLogging::kDefaultProviderGuid, level, flags, decode, &session_);
}

platform::TraceSessionStats TraceConsumer::stop() {
    platform::TraceSessionStats stats;
    if (session_ != 0) platform::StopTraceSession(session_, &stats);
    session_ = 0;
    return stats;
}

}  // namespace glimmerpane::cli
