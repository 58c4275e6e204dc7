// PerfTimer.cpp - the scope timer. std::chrono::steady_clock is the performance counter
// (QueryPerformanceCounter under MSVC, CLOCK_MONOTONIC under glibc).
#include "performance/PerfTimer.h"

#include <chrono>

#include "etwlogging/LogCall.h"

namespace Vornik::internal {

int64_t PerfTimer::CounterToNanoseconds(int64_t counter, int64_t frequency) {
    constexpr int64_t kNanosecondsPerSecond = 1000000000;
    return (counter / frequency) * kNanosecondsPerSecond + ((counter % frequency) * kNanosecondsPerSecond) / frequency;
}

int64_t PerfTimer::Now() {
    using Clock = std::chrono::steady_clock;
    static_assert(Clock::period::num == 1, "a counter tick must be a fraction of a second");
    return CounterToNanoseconds(static_cast<int64_t>(Clock::now().time_since_epoch().count()),
                                static_cast<int64_t>(Clock::period::den));
}

PerfTimer::PerfTimer(const std::wstring& name) : start_(Now()), name_(name) {}

PerfTimer::~PerfTimer() { stop(); }

void PerfTimer::stop() {
    if (stopped_) return;
    const int64_t end = Now();
    GP_LOG_NORMAL(L"performance\\PerfTimer", L"Vornik::internal::PerfTimer::stop", L"M12NPerfTimer|%ls|%lld|%lld|%lld",
                  name_.c_str(), static_cast<long long>(start_), static_cast<long long>(end),
                  static_cast<long long>(end - start_));
    stopped_ = true;
}

}  // namespace Vornik::internal
