// RcCommandTest.cpp - `glimmerpane rc` on inputs that are no resource script: it exits 2 with
// the reason and writes no library, where it used to build an empty one and exit 0.
#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>

#include "support/CommandRun.h"
#include "support/TempRegistry.h"

namespace {

using CliRun = gptest::CommandRun;

CliRun Rc(const std::string& input, const std::string& output) {
    return gptest::RunCommand(std::string(GP_CLI_PATH) + " rc '" + input + "' -o '" + output + "' 2>&1 </dev/null");
}

TEST(RcCommand, RefusesAFolderAnEmptyFileAndAnIncludeOfADevice) {
    gptest::TempFolder temp;
    const auto path = [&](const char* name) { return (temp.path() / name).string(); };
    std::ofstream(path("empty.rc")).close();
    std::ofstream(path("zero.rc")) << "STRINGTABLE BEGIN 1 \"x\" END\n#include \"/dev/zero\"\n";
    std::filesystem::create_directory(path("folder.rc"));
    const struct {
        std::string input;
        std::string message;
    } cases[] = {
        {path("folder.rc"), path("folder.rc") + ":0: error: is a folder, not a resource script"},
        {path("empty.rc"), path("empty.rc") + ":0: error: the file is empty"},
        {path("zero.rc"), path("zero.rc") + ":2: error: included file /dev/zero is not a regular file"},
    };
    for (const auto& c : cases) {
        const CliRun run = Rc(c.input, path("out.so"));
        EXPECT_EQ(run.exitCode, 2) << run.output;
        EXPECT_NE(run.output.find(c.message), std::string::npos) << run.output;
        EXPECT_FALSE(std::filesystem::exists(path("out.so"))) << c.input;
    }
}

TEST(RcCommand, RefusesATranslationThatLacksAStringUnlessAllowed) {
    gptest::TempFolder temp;
    const auto path = [&](const char* name) { return (temp.path() / name).string(); };
    std::ofstream(path("partial.rc")) << "LANGUAGE LANG_ENGLISH, SUBLANG_ENGLISH_US\n"
                                         "STRINGTABLE\nBEGIN\n 1 \"%NUM_FILES% files\"\n 2 \"Secure\"\nEND\n"
                                         "LANGUAGE LANG_SPANISH, SUBLANG_SPANISH_MODERN\n"
                                         "STRINGTABLE\nBEGIN\n 1 \"%NUM_FILES% archivos\"\nEND\n";
    const CliRun refused = Rc(path("partial.rc"), path("out.so"));
    EXPECT_EQ(refused.exitCode, 2) << refused.output;
    EXPECT_NE(refused.output.find(path("partial.rc") + ":8: error: language es-ES lacks string 2"), std::string::npos)
        << refused.output;
    EXPECT_FALSE(std::filesystem::exists(path("out.so")));

    const CliRun allowed = gptest::RunCommand(std::string(GP_CLI_PATH) + " rc '" + path("partial.rc") + "' -o '" +
                                              path("out.so") + "' --allow-missing 2>&1 </dev/null");
    EXPECT_EQ(allowed.exitCode, 0) << allowed.output;
    EXPECT_TRUE(std::filesystem::exists(path("out.so")));
}

}  // namespace
