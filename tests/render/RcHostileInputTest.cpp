// RcHostileInputTest.cpp - scripts written to hurt the resource compiler: each ends in a
// result or in an error naming file and line, promptly and within bounded memory, where it
// used to throw, overflow the stack, grow without bound or read for ever.
#include "render/RcParser.h"

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <string>

#include "support/TempRegistry.h"

namespace glimmerpane::resources {
namespace {

std::string Doublings(int count, const std::string& use) {
    std::string text = "#define A0 1\n";
    for (int i = 1; i <= count; ++i) {
        text += "#define A" + std::to_string(i) + " A" + std::to_string(i - 1) + " A" + std::to_string(i - 1) + "\n";
    }
    return text + use;
}

TEST(RcHostileInput, EndsInAResultOrAnErrorWithFileAndLine) {
    const struct {
        const char* name;
        std::string text;
        uint32_t line;        // 0: the script is valid
        const char* reason;   // a fragment
    } cases[] = {
        {"unclosed ( in #if", "#if (\n#endif\n", 1, "#if expression"},
        {"unclosed !( in #if", "\n#if !(\n#endif\n", 2, "#if expression"},
        {"unclosed defined(", "#if defined(\n#endif\n", 1, "defined without a name"},
        {"20,000 nested parentheses in #if",
         "#if " + std::string(20000, '(') + "1" + std::string(20000, ')') + "\nSTRINGTABLE BEGIN 1 \"x\" END\n#endif\n", 0,
         ""},
        {"200,000 ! in #if",
         "#if " + std::string(200000, '!') + "1\nSTRINGTABLE BEGIN 1 \"x\" END\n#else\n#error wrong\n#endif\n", 0, ""},
        {"200,000 minus signs in an id", "STRINGTABLE BEGIN\n" + std::string(200000, '-') + "1 \"x\"\nEND\n", 0, ""},
        {"200,000 parentheses around an id",
         "STRINGTABLE BEGIN\n" + std::string(200000, '(') + "1" + std::string(200000, ')') + " \"x\"\nEND\n", 0, ""},
        {"21 doubling defines", Doublings(21, "STRINGTABLE BEGIN A21 \"x\" END\n"), 23, "expands to more than"},
        {"32 doubling defines", Doublings(31, "STRINGTABLE BEGIN A31 \"x\" END\n"), 33, "expands to more than"},
#ifndef _WIN32  // a POSIX device file
        {"#include of /dev/zero", "\n#include \"/dev/zero\"\n", 2, "not a regular file"},
#endif
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const auto start = std::chrono::steady_clock::now();
        RcScript script;
        RcError error;
        const bool ok = parseRcText(c.text, "hostile.rc", script, error);
        EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(5));
        if (c.line == 0) {
            ASSERT_TRUE(ok) << error.toString();
            ASSERT_EQ(script.languages.size(), 1u);
            EXPECT_EQ(script.languages[0].strings.at(1), L"x");
            continue;
        }
        ASSERT_FALSE(ok);
        EXPECT_EQ(error.file, "hostile.rc");
        EXPECT_EQ(error.line, c.line) << error.toString();
        EXPECT_NE(error.reason.find(c.reason), std::string::npos) << error.toString();
    }
}

TEST(RcHostileInput, AFolderOrAnEmptyFileIsNoScript) {
    gptest::TempFolder folder;
    const std::string empty = (folder.path() / "empty.rc").string();
    std::ofstream(empty).close();
    const std::string bom = (folder.path() / "bom.rc").string();
    std::ofstream(bom, std::ios::binary) << "\xEF\xBB\xBF";
    const struct {
        std::string path;
        const char* reason;
    } cases[] = {
        {folder.path().string(), "is a folder, not a resource script"},
        {empty, "the file is empty"},
#ifndef _WIN32  // a POSIX device file
        {"/dev/null", "is not a regular file"},
#endif
        {(folder.path() / "missing.rc").string(), "cannot read the file"},
    };
    for (const auto& c : cases) {
        RcScript script;
        RcError error;
        EXPECT_FALSE(parseRcFile(c.path, script, error)) << c.path;
        EXPECT_EQ(error.file, c.path);
        EXPECT_EQ(error.reason, c.reason) << c.path;
    }
    RcScript script;
    RcError error;
    EXPECT_TRUE(parseRcFile(bom, script, error)) << "a file with a byte-order mark and no statements is a script";
    EXPECT_TRUE(script.languages.empty());
}

}  // namespace
}  // namespace glimmerpane::resources
