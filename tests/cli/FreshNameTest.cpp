// Fresh names: taken names are passed over, any other failure ends the search at once.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "base/Win32Error.h"
#include "cli/FreshName.h"
#include "support/TempRegistry.h"

namespace {

using namespace glimmerpane;

TEST(FreshName, PassesOverTakenNamesAndStopsAtOtherFailures) {
    const struct {
        const char* label;
        std::vector<uint32_t> answers;  // what create says to each name in turn
        uint32_t result;
        size_t tries;
    } cases[] = {
        {"free at once", {base::kErrorSuccess}, base::kErrorSuccess, 1},
        {"two taken", {base::kErrorFileExists, base::kErrorAlreadyExists, base::kErrorSuccess}, base::kErrorSuccess, 3},
        {"denied", {base::kErrorFileExists, base::kErrorAccessDenied, base::kErrorSuccess}, base::kErrorAccessDenied, 2},
        {"always taken", std::vector<uint32_t>(150, base::kErrorFileExists), base::kErrorFileExists, 100},
    };
    for (const auto& c : cases) {
        size_t tries = 0;
        std::string last;
        const uint32_t result = cli::CreateUnderFreshName("pre-", ".x", [&](const std::string& name) {
            EXPECT_EQ(name.rfind("pre-", 0), 0u);
            return c.answers[tries++];
        }, &last);
        EXPECT_EQ(result, c.result) << c.label;
        EXPECT_EQ(tries, c.tries) << c.label;
        EXPECT_EQ(last.size(), 14u) << c.label << ": " << last;  // pre- + 8 hex digits + .x
        EXPECT_EQ(last.rfind("pre-", 0), 0u) << c.label;
    }
}

TEST(FreshName, CreatesANewFileEachTimeAndANewTemporaryFolder) {
    gptest::TempFolder temp;
    const std::string before = (temp.path() / "f-").string();
    std::string path;
    uint32_t code = 0;
    FILE* file = cli::CreateFreshFile(before, ".tmp", &path, &code);
    ASSERT_NE(file, nullptr) << code;
    std::fclose(file);
    EXPECT_TRUE(std::filesystem::is_regular_file(path));
    std::string second;
    file = cli::CreateFreshFile(before, ".tmp", &second, &code);
    ASSERT_NE(file, nullptr) << code;
    std::fclose(file);
    EXPECT_NE(second, path);

    std::filesystem::path folder;
    std::string error;
    ASSERT_TRUE(cli::CreateFreshTempFolder("gp-fresh-test", &folder, &error)) << error;
    EXPECT_TRUE(std::filesystem::is_directory(folder));
    EXPECT_EQ(folder.filename().string().rfind("gp-fresh-test-", 0), 0u) << folder;
    std::filesystem::remove(folder);
}

}  // namespace
