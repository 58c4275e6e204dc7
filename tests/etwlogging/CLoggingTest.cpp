// Tests of the file back end: rotation, INI configuration, the write gate, damaged files
// and two processes writing one log set.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <thread>

#include "etwlogging/CLogging.h"
#include "platform/LogFile.h"
#include "support/TempRegistry.h"
#include "utility/IniFile.h"
#include "base/Utf.h"

namespace ETWLogging {
namespace {

namespace fs = std::filesystem;

class TempPlatform : public FileLoggingPlatform {
public:
    explicit TempPlatform(std::wstring root) : root_(std::move(root)) {}
    uint32_t ProgramDataFolder(std::wstring* folder, bool create) override {
        *folder = root_ + L"/ProgramData";
        if (create) fs::create_directories(glimmerpane::base::Utf8FromWide(*folder));
        return 0;
    }
    std::wstring ProcessImagePath() override { return imageFolder + L"/gplogtest.bin"; }
    std::wstring imageFolder = L"/opt/app";
    std::unique_ptr<glimmerpane::platform::NamedMutex> CreateMutex(const std::wstring& name,
                                                                   uint32_t* error) override {
        return glimmerpane::platform::CreateNamedMutex(name, error, root_ + L"/locks");
    }
    LocalTime Now() override { return {2024, 1, 2, 0, 0, 0}; }

private:
    std::wstring root_;
};

std::string ReadBytes(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

std::wstring DecodeUtf16(const std::string& bytes) {
    std::u16string units;
    for (size_t i = 0; i + 1 < bytes.size(); i += 2)
        units.push_back(static_cast<char16_t>(uint8_t(bytes[i]) | uint8_t(bytes[i + 1]) << 8));
    return glimmerpane::base::WideFromUtf16(units);
}

class FileLogging : public ::testing::Test {
protected:
    gptest::TempFolder temp;
    std::shared_ptr<TempPlatform> platform = std::make_shared<TempPlatform>(temp.wide());
    fs::path base = temp.path() / "ProgramData" / "Corvane" / "CVLOGS";
    fs::path folder = base / "grp" / "gplogtest";

    fs::path File(int index) const {
        char name[32];
        std::snprintf(name, sizeof name, "gplogtest%03d.log", index);
        return folder / name;
    }
    void WriteIni(const fs::path& path, const std::string& text) {
        fs::create_directories(path.parent_path());
        std::ofstream(path, std::ios::binary) << text;
    }
    std::unique_ptr<CLogging> Make(const wchar_t* group = L"grp", const wchar_t* host = nullptr) {
        auto logger = std::make_unique<CLogging>(platform);
        EXPECT_EQ(logger->Initialize(group, nullptr, host, nullptr), 0u);
        return logger;
    }
    std::wstring LastIdx() const {
        return Kestrix::IniFile::GetString(glimmerpane::base::WideFromUtf8((folder / "log.ini").string()), L"Config",
                                           L"LastLogIdx")
            .value_or(L"(none)");
    }
};

TEST_F(FileLogging, FirstLineCreatesFolderAndFileWithBomAndDefaultLine) {
    auto logger = Make();
    EXPECT_EQ(logger->Log(L"dll\\SharedLibrary", L"f", 3, LogSeverity::Warning, L"hello"), 0u);
    const std::string bytes = ReadBytes(File(0));
    ASSERT_GE(bytes.size(), 2u);
    EXPECT_EQ(bytes.substr(0, 2), std::string("\xFF\xFE", 2));
    EXPECT_EQ(DecodeUtf16(bytes.substr(2)), L"01/02/2024 12:00:00 AM$ -- (Warning)$ [  gplogtest.bin]$ hello\r\n");
    EXPECT_EQ(logger->GetMaxSize(), 262144u);
    EXPECT_EQ(logger->GetMaxEntries(), 3u);
    EXPECT_EQ(logger->GetSeverity(), 3u);
}

TEST_F(FileLogging, HostNameJoinsTheFileNameAndNoGroupDropsTheGroupFolder) {
    auto logger = Make(nullptr, L"hostA");
    ASSERT_EQ(logger->Log(nullptr, nullptr, 0, LogSeverity::Normal, L"x"), 0u);
    EXPECT_TRUE(fs::exists(base / "gplogtest" / "gplogtest_hostA000.log"));
}

TEST_F(FileLogging, FileOfExactlyMaxSizeRollsOverOnNextWrite) {
    for (size_t size : {size_t{262143}, size_t{262144}}) {
        fs::remove_all(folder);
        fs::create_directories(folder);
        std::ofstream(File(0), std::ios::binary) << std::string(size, 'a');
        auto logger = Make();
        ASSERT_EQ(logger->Log(nullptr, nullptr, 0, LogSeverity::Error, L"next"), 0u);
        if (size == 262144) {
            EXPECT_EQ(fs::file_size(File(0)), 262144u);
            EXPECT_TRUE(fs::exists(File(1)));
            EXPECT_EQ(LastIdx(), L"1");
        } else {
            EXPECT_GT(fs::file_size(File(0)), 262143u);
            EXPECT_FALSE(fs::exists(File(1)));
        }
    }
}

TEST_F(FileLogging, MaxEntriesTwoAlternatesBetween000And001) {
    WriteIni(folder / "log.ini", "[Config]\nMaxEntries=2\n");
    auto logger = Make();
    ASSERT_EQ(logger->GetMaxEntries(), 2u);
    const std::wstring big(131072, L'z');  // one line fills a file (2 bytes per character)
    std::vector<std::wstring> seen;
    for (int i = 0; i < 5; ++i) {
        ASSERT_EQ(logger->Log(nullptr, nullptr, 0, LogSeverity::Error, big.c_str()), 0u);
        seen.push_back(LastIdx());
    }
    EXPECT_EQ(seen, (std::vector<std::wstring>{L"(none)", L"1", L"0", L"1", L"0"}));
    EXPECT_FALSE(fs::exists(File(2)));
    // A rolled-over file is created anew: one BOM and one line.
    EXPECT_LT(fs::file_size(File(0)), 2u * 131072 + 200);
}

TEST_F(FileLogging, StoredIndexBeyondTheSetRestartsAt000) {
    WriteIni(folder / "log.ini", "[Config]\nLastLogIdx=7\n");
    std::ofstream(File(0), std::ios::binary) << "old content";
    auto logger = Make();
    ASSERT_EQ(logger->Log(nullptr, nullptr, 0, LogSeverity::Error, L"fresh"), 0u);
    EXPECT_EQ(LastIdx(), L"0");
    const std::string bytes = ReadBytes(File(0));
    EXPECT_EQ(bytes.substr(0, 2), std::string("\xFF\xFE", 2));
    EXPECT_EQ(bytes.find("old"), std::string::npos);
}

TEST_F(FileLogging, InvalidPerProcessValueIsRewrittenAndGlobalDecides) {
    WriteIni(folder / "log.ini", "[Config]\nMaxSize=100\nSeverity=abc\n");
    WriteIni(base / "log.ini", "[Config]\nMaxSize=524288\nSeverity=99\nMaxEntries=5\n");
    auto logger = Make();
    EXPECT_EQ(logger->GetMaxSize(), 524288u);
    EXPECT_EQ(logger->GetMaxEntries(), 5u);
    EXPECT_EQ(logger->GetSeverity(), 3u);
    const std::wstring local = glimmerpane::base::WideFromUtf8((folder / "log.ini").string());
    const std::wstring global = glimmerpane::base::WideFromUtf8((base / "log.ini").string());
    EXPECT_EQ(Kestrix::IniFile::GetString(local, L"Config", L"MaxSize"), L"262144");
    EXPECT_EQ(Kestrix::IniFile::GetString(local, L"Config", L"Severity"), L"3");
    EXPECT_EQ(Kestrix::IniFile::GetString(global, L"Config", L"Severity"), L"3");
    EXPECT_EQ(Kestrix::IniFile::GetString(global, L"Config", L"MaxSize"), L"524288");
}

TEST_F(FileLogging, HostileIniValuesAndHugeLinesEndInDefaults) {
    const std::string huge(300000, '9');
    WriteIni(folder / "log.ini", "[Config]\nMaxEntries=" + huge + "\nOptions=-\nEnable=\n[Other]\nSeverity=0\n");
    auto logger = Make();
    EXPECT_EQ(logger->GetMaxEntries(), 3u);
    EXPECT_EQ(logger->GetOptions(), 16u);
    EXPECT_TRUE(logger->IsEnabled());
    EXPECT_EQ(logger->GetSeverity(), 3u);
    // An oversized file is neither read nor rewritten.
    WriteIni(base / "log.ini", "[Config]\nSeverity=1\n" + std::string(2u << 20, ';'));
    auto second = std::make_unique<CLogging>(platform);
    ASSERT_EQ(second->Initialize(L"grp2", nullptr, nullptr, nullptr), 0u);
    EXPECT_EQ(second->GetSeverity(), 3u);
    EXPECT_GT(fs::file_size(base / "log.ini"), 2u << 20);
}

TEST_F(FileLogging, EnableZeroWritesNothing) {
    struct Case {
        const char* name;
        const char* local;   // per-process log.ini, or null
        const char* global;  // CVLOGS/log.ini, or null
        bool written;
    };
    const Case cases[] = {
        {"per-process off", "[Config]\nEnable=0\n", nullptr, false},
        {"global off", nullptr, "[Config]\nEnable=0\n", false},
        {"per-process on wins", "[Config]\nEnable=1\n", "[Config]\nEnable=0\n", true},
        {"per-process off wins", "[Config]\nEnable=0\n", "[Config]\nEnable=1\n", false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        fs::remove_all(base);
        if (c.local != nullptr) WriteIni(folder / "log.ini", c.local);
        if (c.global != nullptr) WriteIni(base / "log.ini", c.global);
        auto logger = Make();
        EXPECT_EQ(logger->IsEnabled(), c.written);
        EXPECT_EQ(logger->Log(nullptr, nullptr, 0, LogSeverity::Critical, L"record"), 0u);
        EXPECT_EQ(fs::exists(File(0)), c.written);
    }
}

TEST_F(FileLogging, AHostInAFolderOver260CharactersLogs) {
    platform->imageFolder = L"/" + std::wstring(300, L'h');
    auto logger = Make();
    EXPECT_EQ(logger->Log(nullptr, nullptr, 0, LogSeverity::Error, L"long"), 0u);
    EXPECT_TRUE(fs::exists(File(0)));
}

TEST_F(FileLogging, SeverityZeroLetsEverythingPassAndSettersClamp) {
    WriteIni(base / "log.ini", "[Config]\nSeverity=0\n");
    auto logger = Make();
    EXPECT_TRUE(logger->IsSeverityEnabled(LogSeverity::Normal));
    logger->SetSeverity(0);
    EXPECT_EQ(logger->GetSeverity(), 1u);
    logger->SetSeverity(9);
    EXPECT_EQ(logger->GetSeverity(), 6u);
    logger->SetMaxEntries(1);
    EXPECT_EQ(logger->GetMaxEntries(), 2u);
    logger->SetMaxEntries(1000);
    EXPECT_EQ(logger->GetMaxEntries(), 100u);
    logger->SetMaxSize(100);
    EXPECT_EQ(logger->GetMaxSize(), 262144u);
    logger->SetMaxSize(UINT32_MAX);
    EXPECT_EQ(logger->GetMaxSize(), 10485760u);
}

TEST_F(FileLogging, BadArgumentsAndStates) {
    CLogging logger(platform);
    EXPECT_EQ(logger.Uninitialize(), 20002u);
    EXPECT_EQ(logger.Log(nullptr, nullptr, 0, LogSeverity::Error, L"x"), 20002u);
    EXPECT_EQ(logger.Initialize(L"", nullptr, nullptr, nullptr), 87u);
    EXPECT_EQ(logger.Initialize(L"g", nullptr, L"", nullptr), 87u);
    ASSERT_EQ(logger.Initialize(L"grp", nullptr, nullptr, nullptr), 0u);
    EXPECT_EQ(logger.Initialize(L"grp", nullptr, nullptr, nullptr), 20001u);
    for (uint32_t bad : {0u, 7u, 4000000000u})
        EXPECT_EQ(logger.Log(nullptr, nullptr, 0, static_cast<LogSeverity>(bad), L"x"), 87u) << bad;
    EXPECT_EQ(logger.Log(nullptr, nullptr, 0, LogSeverity::Error, L""), 87u);
    EXPECT_FALSE(fs::exists(File(0)));
    const std::wstring long5000(5000, L'q');
    EXPECT_EQ(logger.Log(nullptr, nullptr, 0, LogSeverity::Error, long5000.c_str()), 0u);
    EXPECT_NE(DecodeUtf16(ReadBytes(File(0))).find(long5000 + L"\r\n"), std::wstring::npos);
    EXPECT_EQ(logger.Uninitialize(), 0u);
    EXPECT_EQ(logger.Uninitialize(), 20002u);
}

TEST_F(FileLogging, FolderThatCannotBeMadeTurnsTheBackEndOffForGood) {
    // A file where the log folder's parent should be makes the folder impossible.
    fs::create_directories(base);
    std::ofstream(base / "grp") << "in the way";
    auto logger = Make();
    EXPECT_NE(logger->Log(nullptr, nullptr, 0, LogSeverity::Error, L"lost"), 0u);
    EXPECT_FALSE(logger->IsEnabled());
    EXPECT_FALSE(logger->IsSeverityEnabled(LogSeverity::Critical));
    fs::remove(base / "grp");
    EXPECT_NE(logger->Log(nullptr, nullptr, 0, LogSeverity::Error, L"still off"), 0u);
    EXPECT_FALSE(fs::exists(folder));
}

TEST_F(FileLogging, FileDeletedOrTruncatedUnderTheWriterIsStartedAgain) {
    auto logger = Make();
    ASSERT_EQ(logger->Log(nullptr, nullptr, 0, LogSeverity::Error, L"one"), 0u);
    fs::remove(File(0));
    ASSERT_EQ(logger->Log(nullptr, nullptr, 0, LogSeverity::Error, L"two"), 0u);
    std::string bytes = ReadBytes(File(0));
    EXPECT_EQ(bytes.substr(0, 2), std::string("\xFF\xFE", 2));
    EXPECT_NE(DecodeUtf16(bytes.substr(2)).find(L"two"), std::wstring::npos);
    fs::resize_file(File(0), 0);
    ASSERT_EQ(logger->Log(nullptr, nullptr, 0, LogSeverity::Error, L"three"), 0u);
    bytes = ReadBytes(File(0));
    EXPECT_EQ(bytes.substr(0, 2), std::string("\xFF\xFE", 2));
    fs::remove_all(folder);
    EXPECT_EQ(logger->Log(nullptr, nullptr, 0, LogSeverity::Error, L"four"), 0u);
    EXPECT_TRUE(fs::exists(File(0)));
}

// ---- several writers ----
constexpr int kLinesPerWriter = 10000;

std::map<std::wstring, int> CountLines(const fs::path& folder, int* malformed) {
    std::map<std::wstring, int> counts;
    *malformed = 0;
    for (const auto& entry : fs::directory_iterator(folder)) {
        if (entry.path().extension() != ".log") continue;
        const std::string bytes = ReadBytes(entry.path());
        EXPECT_EQ(bytes.substr(0, 2), std::string("\xFF\xFE", 2));
        const std::wstring text = DecodeUtf16(bytes.substr(2));
        size_t start = 0;
        while (start < text.size()) {
            const size_t end = text.find(L"\r\n", start);
            if (end == std::wstring::npos) {
                ++*malformed;
                break;
            }
            const std::wstring line = text.substr(start, end - start);
            const size_t marker = line.find(L"]$ ");
            if (marker == std::wstring::npos || line.find(L"$ -- (Error)$") == std::wstring::npos) ++*malformed;
            else ++counts[line.substr(marker + 3)];
            start = end + 2;
        }
    }
    return counts;
}

void WriteLines(CLogging& logger, const std::wstring& who, int count) {
    for (int i = 0; i < count; ++i) {
        const std::wstring text = who + L" line " + std::to_wstring(i);
        ASSERT_EQ(logger.Log(nullptr, nullptr, 0, LogSeverity::Error, text.c_str()), 0u);
    }
}

TEST_F(FileLogging, ThreadsOfOneProcessShareTheSetWithoutLoss) {
    WriteIni(base / "log.ini", "[Config]\nMaxSize=10485760\n");
    auto logger = Make();
    std::thread a([&] { WriteLines(*logger, L"A", 2000); });
    std::thread b([&] { WriteLines(*logger, L"B", 2000); });
    a.join();
    b.join();
    int malformed = 0;
    auto counts = CountLines(folder, &malformed);
    EXPECT_EQ(malformed, 0);
    EXPECT_EQ(counts.size(), 4000u);
    for (auto& [line, n] : counts) EXPECT_EQ(n, 1) << glimmerpane::base::Utf8FromWide(line);
}

// Runs inside a child process started by the test below.
TEST(FileLoggingHelper, WriteLinesForParent) {
    const char* root = std::getenv("GP_FILE_LOG_HELPER_ROOT");
    const char* who = std::getenv("GP_FILE_LOG_HELPER_NAME");
    if (root == nullptr || who == nullptr) GTEST_SKIP() << "runs only as the helper of a two-process test";
    CLogging logger(std::make_shared<TempPlatform>(glimmerpane::base::WideFromUtf8(root)));
    ASSERT_EQ(logger.Initialize(L"grp", nullptr, nullptr, nullptr), 0u);
    WriteLines(logger, glimmerpane::base::WideFromUtf8(who), kLinesPerWriter);
}

#ifndef _WIN32  // two writers started by a sh command line
TEST_F(FileLogging, TwoProcessesWriteOneSetWithoutLossOrInterleaving) {
    WriteIni(base / "log.ini", "[Config]\nMaxSize=10485760\n");
    const std::string self = glimmerpane::base::Utf8FromWide(glimmerpane::platform::ProcessImagePath());
    ASSERT_FALSE(self.empty());
    const std::string common = "GP_FILE_LOG_HELPER_ROOT='" + temp.path().string() + "' '" + self +
                               "' --gtest_filter=FileLoggingHelper.WriteLinesForParent >/dev/null";
    const std::string command = "GP_FILE_LOG_HELPER_NAME=P1 " + common + " & p1=$!; GP_FILE_LOG_HELPER_NAME=P2 " +
                                common + " & p2=$!; wait $p1; s1=$?; wait $p2; s2=$?; test $s1 -eq 0 -a $s2 -eq 0";
    ASSERT_EQ(std::system(command.c_str()), 0);
    int malformed = 0;
    auto counts = CountLines(folder, &malformed);
    EXPECT_EQ(malformed, 0);
    EXPECT_EQ(counts.size(), 2u * kLinesPerWriter);
    int duplicates = 0;
    for (auto& [line, n] : counts) duplicates += n != 1;
    EXPECT_EQ(duplicates, 0);
    for (const char* who : {"P1", "P2"})
        for (int i : {0, kLinesPerWriter / 2, kLinesPerWriter - 1})
            EXPECT_EQ(counts.count(glimmerpane::base::WideFromUtf8(who) + L" line " + std::to_wstring(i)), 1u) << who << i;
}
#endif

}  // namespace
}  // namespace ETWLogging
