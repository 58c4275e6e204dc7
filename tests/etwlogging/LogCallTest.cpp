// Tests of the log call: truncation, the no-argument variant, the holder without a
// logger and the identity the logger keeps.
#include <gtest/gtest.h>

#include "etwlogging/LogCall.h"
#include "support/RecordingLogger.h"

namespace ETWLogging {
namespace {

using gptest::LogCapture;

TEST(LogCall, MessageLengthsAroundTheLimit) {
    const struct { size_t length; size_t logged; } cases[] = {
        {0, 0}, {2080, 2080}, {4160, 4160}, {4161, 2080}, {5000, 2080},
    };
    for (const auto& c : cases) {
        LogCapture capture;
        const std::wstring text(c.length, L'x');
        GP_LOG_ERROR(L"LogCallTest", L"Case", L"%ls", text.c_str());
        auto records = capture.records();
        ASSERT_EQ(records.size(), 1u) << c.length;
        EXPECT_EQ(records[0].message.size(), c.logged) << c.length;
    }
}

TEST(LogCall, RecordCarriesSeveritySourceFunctionLineAndFormattedText) {
    LogCapture capture;
    const unsigned line = __LINE__ + 1;
    GP_LOG_WARNING(L"dll\\SharedLibrary", L"Vornik::SharedLibrary::loadLibrary", L"Code %ls(%lu).", L"X", 5ul);
    auto records = capture.records();
    ASSERT_EQ(records.size(), 1u);
    EXPECT_EQ(records[0].severity, LogSeverity::Warning);
    EXPECT_EQ(records[0].source, L"dll\\SharedLibrary");
    EXPECT_EQ(records[0].function, L"Vornik::SharedLibrary::loadLibrary");
    EXPECT_EQ(records[0].line, line);
    EXPECT_EQ(records[0].message, L"Code X(5).");
}

TEST(LogCall, TextVariantFormatsAndKeepsAtMost2079Characters) {
    LogCapture capture;
    GP_LOG_TEXT(LogSeverity::Normal, L"LogCallTest", L"Text", L"100%% done");
    const std::wstring longText(3000, L'y');
    GP_LOG_TEXT(LogSeverity::Normal, L"LogCallTest", L"Text", longText.c_str());
    auto records = capture.records();
    ASSERT_EQ(records.size(), 2u);
    EXPECT_EQ(records[0].message, L"100% done");
    EXPECT_EQ(records[1].message.size(), 2079u);
}

TEST(LogCall, CharactersOutsideTheBasicPlaneSurviveFormatting) {
    LogCapture capture;
    GP_LOG_NORMAL(L"LogCallTest", L"Wide", L"[%ls]", L"\U0001F600 \u00e9");
    ASSERT_EQ(capture.records().size(), 1u);
    EXPECT_EQ(capture.records()[0].message, L"[\U0001F600 \u00e9]");
}

TEST(LogCall, HolderWithoutLoggerSkipsEverything) {
    LoggerHolder empty;
    for (uint32_t s = 0; s <= 7; ++s) EXPECT_FALSE(ShouldLog(&empty, static_cast<LogSeverity>(s)));
    EXPECT_FALSE(ShouldLog(nullptr, LogSeverity::Error));
    EXPECT_EQ(WriteLog(&empty, LogSeverity::Error, L"f", L"g", 1, L"text"), 1627u);
    EXPECT_EQ(WriteLogText(&empty, LogSeverity::Error, L"f", L"g", 1, L"text"), 1627u);
    EXPECT_EQ(WriteLog(nullptr, LogSeverity::Error, L"f", L"g", 1, L"text"), 1627u);
}

TEST(LogCall, GetLoggerReturnsOneHolderAndIgnoresLaterIdentity) {
    LoggerHolder* first = CurrentLoggerHolder();
    LoggerParameters& parameters = CurrentLoggerParameters();
    const LoggerParameters saved = parameters;
    parameters.groupName = L"changed_after_first_record";
    EXPECT_EQ(GetLogger(nullptr, L"other", nullptr, nullptr, 1), first);
    EXPECT_EQ(CurrentLoggerHolder(), first);
    parameters = saved;
    EXPECT_EQ(std::wstring(gptest::BuiltLoggerIdentity().groupName), L"glimmerpane_tests");
}

class CountingLogger : public CLoggingIf {
public:
    uint32_t RegisterProvider() override { return registerStatus; }
    uint32_t Log(const wchar_t*, const wchar_t*, uint32_t, LogSeverity, const wchar_t* message) override {
        last = message;
        return 7;
    }
    bool IsSeverityEnabled(LogSeverity s) override { return s == LogSeverity::Error; }
    uint32_t registerStatus = 0;
    std::wstring last;
};

TEST(LogCall, WriteLogUsesPlainLogForNonExtendedLoggersAndReportsProviderFailure) {
    LoggerHolder holder;
    auto logger = std::make_unique<CountingLogger>();
    CountingLogger* raw = logger.get();
    holder.setLogger(std::move(logger));

    EXPECT_TRUE(ShouldLog(&holder, LogSeverity::Error));
    EXPECT_FALSE(ShouldLog(&holder, LogSeverity::Normal));
    EXPECT_EQ(WriteLog(&holder, LogSeverity::Error, L"f", L"g", 1, L"n=%d", 3), 7u);
    EXPECT_EQ(raw->last, L"n=3");

    raw->registerStatus = 1168;
    EXPECT_EQ(WriteLog(&holder, LogSeverity::Error, L"f", L"g", 1, L"again"), 1168u);
    EXPECT_EQ(raw->last, L"n=3");
    // The text variant re-checks the severity and writes nothing below the threshold.
    raw->registerStatus = 0;
    EXPECT_EQ(WriteLogText(&holder, LogSeverity::Normal, L"f", L"g", 1, L"quiet"), 0u);
    EXPECT_EQ(raw->last, L"n=3");
}

TEST(LogCall, TeardownHookRunsBeforeTheLoggerIsDestroyed) {
    bool loggerAlive = false;
    {
        LoggerHolder holder;
        holder.setLogger(std::make_unique<CountingLogger>());
        holder.setTeardownHook([&] { loggerAlive = holder.logger() != nullptr; });
    }
    EXPECT_TRUE(loggerAlive);
}

TEST(LogSeverity, NamesAndLevels) {
    EXPECT_STREQ(SeverityName(LogSeverity::Normal), L"Normal");
    EXPECT_STREQ(SeverityName(LogSeverity::InformationLegacy), L"Information");
    EXPECT_EQ(SeverityName(static_cast<LogSeverity>(0)), nullptr);
    EXPECT_EQ(SeverityName(static_cast<LogSeverity>(7)), nullptr);
    EXPECT_EQ(SeverityToEtwLevel(LogSeverity::Error), 4);
    EXPECT_EQ(SeverityToEtwLevel(LogSeverity::InformationLegacy), 3);
}

}  // namespace
}  // namespace ETWLogging
