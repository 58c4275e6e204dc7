// Tests of the folder search over a fake file system and over real temporary folders.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <set>
#include <string>
#include <vector>

#include "paths/PathSearch.h"
#include "platform/FileSystem.h"
#include "support/CaseNames.h"
#include "support/RecordingLogger.h"

namespace Vornik {
namespace {

using ETWLogging::LogSeverity;
const std::wstring kSep(1, glimmerpane::platform::kPathSeparator);

class FakePathAPI : public PathAPI {
public:
    std::set<std::wstring> files;
    std::vector<std::wstring> asked;
    bool fileExists(const std::wstring& path) override {
        asked.push_back(path);
        return files.count(path) > 0;
    }
};

struct SearchCase {
    const char* name;
    std::vector<std::wstring> folders;
    std::set<std::wstring> files;
    bool found;
    std::wstring folder;
    std::vector<std::wstring> asked;
};

void PrintTo(const SearchCase& c, std::ostream* os) {
    *os << c.name << ": folders " << gptest::Show(c.folders) << ", files " << gptest::Show(c.files);
    if (c.found) *os << ", found in " << gptest::Show(c.folder);
}

class PathSearchFind : public ::testing::TestWithParam<SearchCase> {};

TEST_P(PathSearchFind, FirstFolderHoldingTheFileWins) {
    const SearchCase& c = GetParam();
    auto fs = std::make_shared<FakePathAPI>();
    fs->files = c.files;
    PathSearch search(fs);
    search.setSearchPaths(c.folders);
    gptest::LogCapture log;
    std::wstring folder = L"untouched";
    EXPECT_EQ(search.findFilePath(L"lib.so", folder), c.found);
    EXPECT_EQ(folder, c.found ? c.folder : L"untouched");
    EXPECT_EQ(fs->asked, c.asked);
    EXPECT_TRUE(log.has(LogSeverity::Normal, L"Entering findFilePath for file lib.so"));
    if (c.found) {
        EXPECT_TRUE(log.has(LogSeverity::Normal, L"File found at path " + c.folder + L". Returning success."));
        EXPECT_TRUE(log.has(LogSeverity::Normal, L"File exists"));
    } else {
        EXPECT_TRUE(log.has(LogSeverity::Warning, L"File not found."));
    }
    EXPECT_EQ(log.withMessage(L"File does not exist.").size(), c.asked.size() - (c.found ? 1 : 0));
}

INSTANTIATE_TEST_SUITE_P(
    Table, PathSearchFind,
    ::testing::Values(
        SearchCase{"BothHoldFirstWins", {L"A", L"B"}, {L"A" + kSep + L"lib.so", L"B" + kSep + L"lib.so"}, true, L"A",
                   {L"A" + kSep + L"lib.so"}},
        SearchCase{"SecondHolds", {L"A", L"B"}, {L"B" + kSep + L"lib.so"}, true, L"B",
                   {L"A" + kSep + L"lib.so", L"B" + kSep + L"lib.so"}},
        SearchCase{"EmptyList", {}, {}, false, L"", {}},
        SearchCase{"EmptyFolderIsTheRoot", {L""}, {kSep + L"lib.so"}, true, L"", {kSep + L"lib.so"}},
        SearchCase{"TrailingSeparatorDoubles", {L"A" + kSep}, {L"A" + kSep + kSep + L"lib.so"}, true, L"A" + kSep,
                   {L"A" + kSep + kSep + L"lib.so"}},
        SearchCase{"UnexpandedMacroHoldsNothing", {L"$(App.Folder)"}, {}, false, L"",
                   {L"$(App.Folder)" + kSep + L"lib.so"}}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(PathSearch, ListOperationsKeepOrderAndCopies) {
    PathSearch search(std::make_shared<FakePathAPI>());
    search.addSearchPath(L"one");
    search.addSearchPath(std::wstring(L"two"));
    search.addSearchPath(static_cast<const wchar_t*>(nullptr));
    EXPECT_EQ(search.getSearchPaths(), (std::vector<std::wstring>{L"one", L"two"}));
    std::vector<std::wstring> list{L"x"};
    search.setSearchPaths(list);
    list.push_back(L"y");
    EXPECT_EQ(search.getSearchPaths(), (std::vector<std::wstring>{L"x"}));
}

// A subclass changes the test; findFilePath must go through the virtual table.
class AcceptAll : public PathSearch {
public:
    using PathSearch::PathSearch;
    bool checkIfExists(const std::wstring&) override { return true; }
};

TEST(PathSearch, FindUsesTheOverriddenCheck) {
    auto fs = std::make_shared<FakePathAPI>();
    AcceptAll search(fs);
    search.addSearchPath(L"Z");
    std::wstring folder;
    EXPECT_TRUE(search.findFilePath(L"lib.so", folder));
    EXPECT_EQ(folder, L"Z");
    EXPECT_TRUE(fs->asked.empty());
}

TEST(PathSearch, RealFileSystemSkipsADirectoryNamedLikeTheFile) {
    namespace fs = std::filesystem;
    const fs::path root = fs::path(::testing::TempDir()) / "gp_path_search";
    fs::remove_all(root);
    fs::create_directories(root / "first" / "lib.so");  // a directory, not the file
    fs::create_directories(root / "second");
    std::ofstream(root / "second" / "lib.so") << "x";
    PathSearch search;
    search.setSearchPaths({(root / "first").wstring(), (root / "missing").wstring(), (root / "second").wstring()});
    std::wstring folder;
    EXPECT_TRUE(search.findFilePath(L"lib.so", folder));
    EXPECT_EQ(folder, (root / "second").wstring());
    EXPECT_FALSE(search.checkIfExists(L""));
    fs::remove_all(root);
}

}  // namespace
}  // namespace Vornik
