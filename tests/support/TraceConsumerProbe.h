// TraceConsumerProbe.h - whether this system can consume event traces: a test that needs a
// trace session skips where none can be started (Wine has no trace consumer, so
// StartTraceSession answers 50 there; docs/platform.md).
#pragma once

#include <gtest/gtest.h>

#include "platform/EventTrace.h"

namespace gptest {

inline bool TraceConsumerAvailable() {
    static const bool available = [] {
        namespace platform = glimmerpane::platform;
        const platform::TraceGuid probe{0x6770C0DE, 0x7072, 0x6F62, {'e', 't', 'r', 'a', 'c', 'e', 0, 1}};
        platform::TraceHandle session = 0;
        const uint32_t status =
            platform::StartTraceSession(probe, 1, 0, [](const platform::DeliveredTraceEvent&) {}, &session);
        if (status == 0) platform::StopTraceSession(session);
        return status != 50;  // ERROR_NOT_SUPPORTED: no consumer on this system
    }();
    return available;
}

}  // namespace gptest

#define GP_SKIP_WITHOUT_TRACE_CONSUMER()                                                                  \
    do {                                                                                                  \
        if (!gptest::TraceConsumerAvailable())                                                            \
            GTEST_SKIP() << "this system has no event-trace consumer (Wine: OpenTraceW fails)";           \
    } while (0)
