// PerfTimer.h - times a named scope and writes one machine-readable Normal record at its end:
//   "M12NPerfTimer|<name>|<start ns>|<end ns>|<elapsed ns>"
// stop() ends the measurement once; the destructor stops a running timer. Times come from
// the monotonic high-resolution counter (QueryPerformanceCounter on Windows).
#pragma once

#include <cstdint>
#include <string>

namespace Vornik::internal {

class PerfTimer {
public:
    explicit PerfTimer(const std::wstring& name);
    virtual ~PerfTimer();
    PerfTimer(const PerfTimer&) = delete;
    PerfTimer& operator=(const PerfTimer&) = delete;

    void stop();

    // counter / frequency in nanoseconds, whole seconds first so the product cannot
    // overflow for any counter value a machine reaches.
    static int64_t CounterToNanoseconds(int64_t counter, int64_t frequency);
    static int64_t Now();

private:
    int64_t start_;
    std::wstring name_;
    bool stopped_ = false;
};

}  // namespace Vornik::internal
