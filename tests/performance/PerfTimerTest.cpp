// Tests of the scope timer: one record per timer, its format, and the counter arithmetic.
#include <gtest/gtest.h>

#include <cwchar>
#include <limits>

#include "performance/PerfTimer.h"
#include "support/RecordingLogger.h"

namespace Vornik::internal {
namespace {

std::vector<gptest::LogRecord> TimerRecords(const gptest::LogCapture& log) {
    return log.containing(L"M12NPerfTimer|");
}

TEST(PerfTimer, StopTwiceWritesOneWellFormedRecord) {
    gptest::LogCapture log;
    PerfTimer timer(L"MessageBusLib::MessageBusLib");
    timer.stop();
    timer.stop();
    const auto records = TimerRecords(log);
    ASSERT_EQ(records.size(), 1u);
    EXPECT_EQ(records[0].severity, ETWLogging::LogSeverity::Normal);
    EXPECT_EQ(records[0].source, L"performance\\PerfTimer");
    EXPECT_EQ(records[0].function, L"Vornik::internal::PerfTimer::stop");
    long long start = 0, end = 0, elapsed = 0;
    wchar_t name[64] = {};
    ASSERT_EQ(std::swscanf(records[0].message.c_str(), L"M12NPerfTimer|%63l[^|]|%lld|%lld|%lld", name, &start, &end,
                           &elapsed),
              4);
    EXPECT_STREQ(name, L"MessageBusLib::MessageBusLib");
    EXPECT_GT(start, 0);
    EXPECT_GE(end, start);
    EXPECT_EQ(elapsed, end - start);
}

TEST(PerfTimer, DestructorWritesTheRecordOfARunningTimer) {
    gptest::LogCapture log;
    { PerfTimer timer(L"scope"); }
    EXPECT_EQ(TimerRecords(log).size(), 1u);
    {
        PerfTimer timer(L"stopped");
        timer.stop();
    }
    EXPECT_EQ(TimerRecords(log).size(), 2u);
}

TEST(PerfTimer, CounterConversionDoesNotOverflow) {
    struct Case {
        int64_t counter, frequency, nanoseconds;
    } cases[] = {{0, 10000000, 0},
                 {10000000, 10000000, 1000000000},
                 {15, 10, 1500000000},
                 {3, 3579545, 838},
                 // a 10 MHz counter after 29 years: counter * 1e9 alone would overflow
                 {9150000000000000LL, 10000000, 915000000000000000LL},
                 {std::numeric_limits<int64_t>::max(), 1000000000, std::numeric_limits<int64_t>::max()}};
    for (const Case& c : cases)
        EXPECT_EQ(PerfTimer::CounterToNanoseconds(c.counter, c.frequency), c.nanoseconds) << c.counter;
}

}  // namespace
}  // namespace Vornik::internal
