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

}  // namespace
