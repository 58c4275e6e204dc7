// Tests of the two record formats: the text line byte for byte and the event payload.
#include <gtest/gtest.h>

#include "etwlogging/LogRecordFormat.h"

namespace ETWLogging {
namespace {

LineFields Fields() {
    LineFields f;
    f.time = {2024, 3, 7, 14, 5, 9};
    f.severity = LogSeverity::Error;
    f.imageName = L"glimmerpane";
    f.processId = 42;
    f.threadId = 4242;
    f.file = L"dll\\SharedLibrary";
    f.line = 77;
    f.function = L"Vornik::SharedLibrary::loadLibrary";
    f.message = L"Invalid handle.";
    return f;
}

TEST(LogLine, OptionPiecesInOrderWithWidthsAndMarkers) {
    struct Case {
        uint32_t options;
        std::wstring expected;
    } cases[] = {
        {kDefaultLogOptions, L"03/07/2024 02:05:09 PM$ -- (Error)$ [    glimmerpane]$ Invalid handle.\r\n"},
        {0, L"03/07/2024 02:05:09 PM$ -- (Error)$ Invalid handle.\r\n"},
        {kLogOptionProcessIds, L"03/07/2024 02:05:09 PM$ -- (Error)$ [PID:   42 TID: 4242]$ Invalid handle.\r\n"},
        {kLogOptionSourceLine, L"03/07/2024 02:05:09 PM$ -- (Error)$ [       SharedLibrary:   77]$ Invalid handle.\r\n"},
        {kLogOptionFunction,
         L"03/07/2024 02:05:09 PM$ -- (Error)$ [      Vornik::SharedLibrary::loadLibrary()]$ Invalid handle.\r\n"},
        {kLogOptionFunction | kLogOptionSourceLine | kLogOptionProcessIds | kLogOptionImageName | kLogOptionDebugger,
         L"03/07/2024 02:05:09 PM$ -- (Error)$ [    glimmerpane]$ [PID:   42 TID: 4242]$ [       SharedLibrary:   77]$"
         L" [      Vornik::SharedLibrary::loadLibrary()]$ Invalid handle.\r\n"},
    };
    for (const Case& c : cases) {
        LineFields f = Fields();
        f.options = c.options;
        EXPECT_EQ(FormatLogLine(f), c.expected) << c.options;
    }
}

TEST(LogLine, LongNamesAreCutToTheirWidth) {
    LineFields f = Fields();
    f.options = kLogOptionImageName | kLogOptionSourceLine | kLogOptionFunction;
    f.imageName = L"averyveryverylongprogram.exe";
    f.file = L"src/a/an_extremely_long_source_file_name";
    const std::wstring longFunction(50, L'f');
    f.function = longFunction.c_str();
    EXPECT_EQ(FormatLogLine(f), L"03/07/2024 02:05:09 PM$ -- (Error)$ [averyveryverylo]$ [an_extremely_long_so:   77]$ [" +
                                    std::wstring(40, L'f') + L"()]$ Invalid handle.\r\n");
}

TEST(LogLine, MissingSourceAndFunctionLeaveTheirPiecesOut) {
    LineFields f = Fields();
    f.options = kLogOptionSourceLine | kLogOptionFunction;
    f.file = nullptr;
    f.function = nullptr;
    EXPECT_EQ(FormatLogLine(f), L"03/07/2024 02:05:09 PM$ -- (Error)$ Invalid handle.\r\n");
}

TEST(LogLine, TwelveHourClock) {
    const struct { uint16_t hour; const wchar_t* text; } cases[] = {
        {0, L"12:05:09 AM$"}, {1, L"01:05:09 AM$"}, {11, L"11:05:09 AM$"},
        {12, L"12:05:09 PM$"}, {13, L"01:05:09 PM$"}, {23, L"11:05:09 PM$"},
    };
    for (const auto& c : cases) {
        LocalTime t{2024, 12, 31, c.hour, 5, 9};
        EXPECT_EQ(FormatTimeAndSeverity(t, L"Normal"), std::wstring(L"12/31/2024 ") + c.text + L" -- (Normal)$");
    }
}

TEST(LogLine, LineFeedEndingAndSeverityNames) {
    LineFields f = Fields();
    f.options = 0;
    f.message = L"two\nlines\n";
    EXPECT_EQ(FormatLogLine(f), L"03/07/2024 02:05:09 PM$ -- (Error)$ two\nlines\n");
    f.message = L"x";
    f.severity = LogSeverity::InformationLegacy;
    EXPECT_EQ(FormatLogLine(f), L"03/07/2024 02:05:09 PM$ -- (Information)$ x\r\n");
    for (uint32_t bad : {0u, 7u, 1000u}) {
        f.severity = static_cast<LogSeverity>(bad);
        EXPECT_EQ(FormatLogLine(f), L"") << bad;
    }
}

TEST(LogEventRecordFormat, ItemsInOrderWithTagsTypesLengthsAndUtf16) {
    LogEventRecord r;
    r.processId = 0x01020304;
    r.threadId = 5;
    r.imageName = L"gp";
    r.file = L"";
    r.line = 9;
    r.function = L"f";
    r.moduleName = L"M";
    r.moduleVersion = L"1.6.0.0";
    r.groupName = L"G";
    r.message = L"\U0001F600";
    std::vector<uint8_t> bytes;
    ASSERT_TRUE(SerializeLogEventRecord(r, bytes));
    const std::vector<uint8_t> expectedStart = {
        4, 0, 0, 0, 2, 0, 0, 0, 4, 0, 4, 3, 2, 1,            // process id
        5, 0, 0, 0, 2, 0, 0, 0, 4, 0, 5, 0, 0, 0,            // thread id
        13, 0, 0, 0, 4, 0, 0, 0, 4, 0, 'g', 0, 'p', 0,       // image name
        6, 0, 0, 0, 4, 0, 0, 0, 0, 0,                        // empty file
        7, 0, 0, 0, 5, 0, 0, 0, 4, 0, 9, 0, 0, 0,            // line
        8, 0, 0, 0, 4, 0, 0, 0, 2, 0, 'f', 0,                // function
    };
    ASSERT_GE(bytes.size(), expectedStart.size());
    EXPECT_EQ(std::vector<uint8_t>(bytes.begin(), bytes.begin() + expectedStart.size()), expectedStart);
    const std::vector<uint8_t> expectedEnd = {12, 0, 0, 0, 4, 0, 0, 0, 4, 0, 0x3D, 0xD8, 0x00, 0xDE};
    EXPECT_EQ(std::vector<uint8_t>(bytes.end() - expectedEnd.size(), bytes.end()), expectedEnd);

    auto decoded = DecodeLogEventRecord(bytes.data(), bytes.size());
    ASSERT_TRUE(decoded);
    EXPECT_EQ(decoded->processId, r.processId);
    EXPECT_EQ(decoded->moduleVersion, r.moduleVersion);
    EXPECT_EQ(decoded->groupName, r.groupName);
    EXPECT_EQ(decoded->message, r.message);
    EXPECT_EQ(decoded->line, 9u);
}

TEST(LogEventRecordFormat, DecoderRefusesDamagedPayloads) {
    LogEventRecord r;
    r.message = L"hello";
    std::vector<uint8_t> bytes;
    ASSERT_TRUE(SerializeLogEventRecord(r, bytes));
    for (size_t cut = 1; cut < bytes.size(); cut += 7) {
        // A cut inside an item is refused; a cut between items decodes what is whole.
        auto decoded = DecodeLogEventRecord(bytes.data(), bytes.size() - cut);
        if (decoded) {
            EXPECT_NE(decoded->message, L"hello");
        }
    }
    std::vector<uint8_t> odd = {12, 0, 0, 0, 4, 0, 0, 0, 3, 0, 'a', 0, 'b'};
    EXPECT_FALSE(DecodeLogEventRecord(odd.data(), odd.size()));
    std::vector<uint8_t> shortNumber = {4, 0, 0, 0, 2, 0, 0, 0, 2, 0, 1, 0};
    EXPECT_FALSE(DecodeLogEventRecord(shortNumber.data(), shortNumber.size()));
}

TEST(LogEventRecordFormat, TooLongAStringIsRefused) {
    LogEventRecord r;
    r.message = std::wstring(40000, L'x');
    std::vector<uint8_t> bytes = {1, 2, 3};
    EXPECT_FALSE(SerializeLogEventRecord(r, bytes));
    EXPECT_EQ(bytes.size(), 3u);
}

}  // namespace
}  // namespace ETWLogging
