// RcPreprocessorTest.cpp - the token stream the statement parser gets: macro expansion,
// conditions with expanded macros and defined, includes, strict UTF-8, and the bounds on
// what a script may make the preprocessor read and produce.
#include "render/RcPreprocessor.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>

#include "base/Utf.h"
#include "support/TempRegistry.h"

namespace glimmerpane::resources {
namespace {

namespace fs = std::filesystem;

// UTF-8 of code points; a wchar_t of Windows holds only 16 bits, so no wide string in between.
std::string Utf8Of(const std::u32string& text) {
    std::string out;
    for (const char32_t c : text) {
        if (c < 0x80) {
            out += static_cast<char>(c);
        } else if (c < 0x800) {
            out += static_cast<char>(0xC0 | (c >> 6));
            out += static_cast<char>(0x80 | (c & 0x3F));
        } else if (c < 0x10000) {
            out += static_cast<char>(0xE0 | (c >> 12));
            out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
            out += static_cast<char>(0x80 | (c & 0x3F));
        } else {
            out += static_cast<char>(0xF0 | (c >> 18));
            out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
            out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
            out += static_cast<char>(0x80 | (c & 0x3F));
        }
    }
    return out;
}

// "text@line" per token; strings as "\"text\"".
std::string Stream(const RcPreprocessed& out) {
    std::string s;
    for (const RcToken& t : out.tokens) {
        if (!s.empty()) s += ' ';
        if (t.kind == RcToken::Number) {
            s += std::to_string(t.number);
        } else if (t.kind == RcToken::String) {
            s += '"' + Utf8Of(t.string) + '"';
        } else {
            s += t.text;
        }
        s += '@' + std::to_string(t.line);
    }
    return s;
}

std::string Preprocess(const std::string& text, RcError* errorOut = nullptr) {
    RcPreprocessed out;
    RcError error;
    if (!preprocessRc(text, "pp.rc", out, error)) {
        if (errorOut) *errorOut = error;
        return "error " + error.toString();
    }
    return Stream(out);
}

void Write(const fs::path& path, const std::string& bytes) { std::ofstream(path, std::ios::binary) << bytes; }

TEST(RcPreprocessor, ReplacesMacrosWithTheirValuesAtTheLineOfUse) {
    EXPECT_EQ(Preprocess("#define BASE 100\n"
                  "#define NEXT (BASE + 1)\n"
                  "\n"
                  "NEXT BASE\n"
                  "#undef BASE\n"
                  "BASE RC_INVOKED\n"),
              "(@4 100@4 +@4 1@4 )@4 100@4 BASE@6 1@6");
    EXPECT_EQ(Preprocess("#define EMPTY\n#define TEXT \"a\" L\"b\"\nEMPTY TEXT 1\n"), "\"a\"@3 \"b\"@3 1@3");
    EXPECT_EQ(Preprocess("#define F(x) x\nF\n"), "error pp.rc:2: function-like macro F is not supported here");
    EXPECT_EQ(Preprocess("#define A B\n#define B A\nA\n"), "error pp.rc:3: #define A expands without end");
    // A value is lexed where it is used, so an unused odd one does no harm.
    EXPECT_EQ(Preprocess("#define PI 3.14f\n1\n"), "1@2");
    EXPECT_EQ(Preprocess("#define PI 3.14f\nPI\n"), "error pp.rc:2: malformed number");
}

TEST(RcPreprocessor, ConditionsExpandMacrosAndTestDefinedNames) {
    const struct {
        const char* defines;
        const char* condition;
        bool taken;
    } cases[] = {
        {"", "1", true},
        {"", "0", false},
        {"", "UNDEFINED", false},
        {"#define ONE 1\n", "ONE", true},
        {"#define ONE 1\n", "defined(ONE) && !defined TWO", true},
        {"#define ONE 1\n", "defined ( ONE ) == 1", true},
        {"#define SUM (1 + 2)\n", "SUM == 3", true},  // expanded, no longer read as text
        {"#define OCT 010\n", "OCT == 8", true},
        {"#define NEG -1\n", "NEG + 1", false},
        {"#define A B\n#define B 5\n", "A == 5", true},
        {"#define F(x) x\n", "F", false},  // a function-like name is 0 in #if, as in C
        {"#define F(x) x\n", "defined(F)", true},
        {"", "RC_INVOKED && !defined(APSTUDIO_INVOKED)", true},
        {"", "LANG_GERMAN", false},  // names that are no macros are 0
        {"", "0x10 == 16 && 7L == 7", true},
    };
    for (const auto& c : cases) {
        const std::string text = std::string(c.defines) + "#if " + c.condition + "\nyes\n#else\nno\n#endif\n";
        RcPreprocessed out;
        RcError error;
        ASSERT_TRUE(preprocessRc(text, "if.rc", out, error)) << c.condition << ": " << error.toString();
        ASSERT_EQ(out.tokens.size(), 1u) << c.condition;
        EXPECT_EQ(out.tokens[0].text, c.taken ? "yes" : "no") << c.condition;
    }
}

TEST(RcPreprocessor, RefusesBadConditionsWithFileAndLine) {
    const struct {
        const char* text;
        uint32_t line;
        const char* reason;
    } cases[] = {
        {"#if (\n#endif\n", 1, "incomplete #if expression"},
        {"\n#if !(\n#endif\n", 2, "incomplete #if expression"},
        {"#if defined(\n#endif\n", 1, "defined without a name"},
        {"#if defined(X\n#endif\n", 1, "missing ) after defined("},
        {"#if defined\n#endif\n", 1, "defined without a name"},
        {"#if (1\n#endif\n", 1, "missing ) in #if expression"},
        {"#if\n#endif\n", 1, "incomplete #if expression"},
        {"#if 1 2\n#endif\n", 1, "cannot evaluate #if 1 2"},
        {"#if \"s\"\n#endif\n", 1, "unexpected string in #if expression"},
        {"#if 1 ||\n#endif\n", 1, "incomplete #if expression"},
        {"#if 08\n#endif\n", 1, "bad number 08 in #if"},
        {"#if 0\n#elif (\n#endif\n", 2, "incomplete #if expression"},
        {"#define F(x) x\n#if F(1)\n#endif\n", 2, "cannot evaluate #if F(1)"},
    };
    for (const auto& c : cases) {
        RcError error;
        EXPECT_EQ(Preprocess(c.text, &error).rfind("error ", 0), 0u) << c.text;
        EXPECT_EQ(error.file, "pp.rc") << c.text;
        EXPECT_EQ(error.line, c.line) << c.text;
        EXPECT_EQ(error.reason, c.reason) << c.text;
    }
}

TEST(RcPreprocessor, RefusesInvalidUtf8AtTheLineOfTheBadSequence) {
    const struct {
        const char* name;
        std::string text;
        uint32_t line;
    } cases[] = {
        {"lone continuation byte", "a\nb\n\x80\n", 3},
        {"invalid lead byte", "\xff", 1},
        {"truncated at the end", "ok\n\"\xe2\x82", 2},
        {"truncated before a newline", "\xe2\x82\nx\n", 1},
        {"overlong", "\n\xc0\xaf\n", 2},
        {"surrogate", "\n\n\xed\xa0\x80\n", 3},
        {"beyond U+10FFFF", "\xf4\x90\x80\x80", 1},
        {"after a byte-order mark", "\xEF\xBB\xBF\n\xfe", 2},
    };
    for (const auto& c : cases) {
        RcError error;
        Preprocess(c.text, &error);
        EXPECT_EQ(error.line, c.line) << c.name;
        EXPECT_EQ(error.reason, "invalid UTF-8 (save the file as UTF-8)") << c.name;
    }
    EXPECT_EQ(Preprocess("\xEF\xBB\xBF#pragma code_page(65001)\n\"\xc3\xa9\xef\xbf\xbd\xf0\x9f\x98\x80\"\n"),
              "\"\xc3\xa9\xef\xbf\xbd\xf0\x9f\x98\x80\"@2")
        << "valid text, a literal U+FFFD included, passes unchanged";
}

TEST(RcPreprocessor, BoundsWhatOneMacroAndTheWholeStreamMayExpandTo) {
    // Each define doubles the last: 2^21 tokens, or 2^31, from one use.
    for (int doublings : {21, 31}) {
        std::string text = "#define A0 1\n";
        for (int i = 1; i <= doublings; ++i) {
            text += "#define A" + std::to_string(i) + " A" + std::to_string(i - 1) + " A" + std::to_string(i - 1) + "\n";
        }
        text += "A" + std::to_string(doublings) + "\n";
        RcError error;
        Preprocess(text, &error);
        EXPECT_EQ(error.line, static_cast<uint32_t>(doublings + 2));
        EXPECT_EQ(error.reason, "#define A" + std::to_string(doublings) + " expands to more than 65536 tokens");
    }
    // Uses within the bound each, too many together.
    std::string text = "#define A0 1\n";
    for (int i = 1; i <= 15; ++i) {
        text += "#define A" + std::to_string(i) + " A" + std::to_string(i - 1) + " A" + std::to_string(i - 1) + "\n";
    }
    for (int i = 0; i < 40; ++i) text += "A15\n";
    RcError error;
    Preprocess(text, &error);
    EXPECT_EQ(error.reason, "the script expands to more than 1048576 tokens");
}

TEST(RcPreprocessor, IncludesResolveBesideTheIncludingFileAndKeepTheirOwnCodePage) {
    gptest::TempFolder folder;
    fs::create_directories(folder.path() / "sub");
    Write(folder.path() / "sub" / "ids.h", "#pragma code_page(65001)\n#define IDS_X 42\n\"\xc3\xa9\"\n#include \"more.h\"\n");
    Write(folder.path() / "sub" / "more.h", "#define IDS_Y 43\n");
    const std::string main = (folder.path() / "main.rc").string();
    RcPreprocessed out;
    RcError error;
    ASSERT_TRUE(preprocessRc("#include \"sub/ids.h\" // ids\n#include <windows.h>\nIDS_X IDS_Y\n", main, out, error))
        << error.toString();
    ASSERT_EQ(out.files.size(), 3u);
    EXPECT_EQ(out.files[0], main);
    EXPECT_EQ(out.files[2], (folder.path() / "sub" / "more.h").string());
    ASSERT_EQ(out.tokens.size(), 3u);
    EXPECT_EQ(out.tokens[0].file, 1u);
    EXPECT_EQ(out.tokens[1].number, 42);
    EXPECT_EQ(out.tokens[1].file, 0u) << "an expansion belongs to the line that uses it";
    EXPECT_EQ(out.tokens[2].number, 43);
    // The included file's code page does not carry over into the including file.
    EXPECT_FALSE(preprocessRc("#include \"sub/ids.h\"\n\"\xc3\xa9\"\n", main, out, error));
    EXPECT_EQ(error.line, 2u);
    EXPECT_NE(error.reason.find("before #pragma code_page(65001)"), std::string::npos);
}

TEST(RcPreprocessor, RefusesIncludesThatAreNoRegularFilesOrTooLarge) {
    gptest::TempFolder folder;
    fs::create_directories(folder.path() / "dir");
    Write(folder.path() / "loop.rc", "#include \"loop.rc\"\n");
    {
        std::ofstream big(folder.path() / "big.h", std::ios::binary);
        big.seekp(static_cast<std::streamoff>(kMaxRcFileBytes));
        big.put('\n');  // one byte over the bound, stored sparsely
    }
    Write(folder.path() / "ten.h", "//" + std::string(10 << 20, 'x') + "\n");
    const std::string main = (folder.path() / "main.rc").string();
    const std::string dir = (folder.path() / "").make_preferred().string();
    std::string tenTimes;
    for (int i = 0; i < 7; ++i) tenTimes += "#include \"ten.h\"\n";
    const struct {
        std::string text;
        std::string reason;
        uint32_t line;
    } cases[] = {
#ifndef _WIN32  // a POSIX device file
        {"\n#include \"/dev/zero\"\n", "included file /dev/zero is not a regular file", 2},
#endif
        {"#include \"dir\"\n", "included file " + dir + "dir is not a regular file", 1},
        {"#include \"big.h\"\n", "included file " + dir + "big.h is larger than 16 MiB", 1},
        {"#include \"missing.h\"\n", "cannot read included file " + dir + "missing.h", 1},
        {"#include \"loop.rc\"\n", "#include cycle: the file includes itself", 1},
        {"#include nothing\n", "#include needs a \"file\" or <file> name", 1},
        {tenTimes, "the script and its included files are larger than 64 MiB", 7},
    };
    for (const auto& c : cases) {
        RcPreprocessed out;
        RcError error;
        EXPECT_FALSE(preprocessRc(c.text, main, out, error)) << c.reason;
        EXPECT_EQ(error.reason, c.reason);
        EXPECT_EQ(error.line, c.line) << c.reason;
    }
}

TEST(RcPreprocessor, ReadsOnlyRegularFilesWithinTheBound) {
    gptest::TempFolder folder;
    Write(folder.path() / "a.rc", "abc");
    Write(folder.path() / "empty.rc", "");
    {
        std::ofstream big(folder.path() / "big.rc", std::ios::binary);
        big.seekp(static_cast<std::streamoff>(kMaxRcFileBytes));
        big.put('x');
    }
#ifndef _WIN32  // symbolic links need a privilege on Windows
    fs::create_symlink(folder.path() / "a.rc", folder.path() / "link.rc");
#endif
    const struct {
        std::string path;
        RcReadResult result;
        std::string bytes;
    } cases[] = {
        {(folder.path() / "a.rc").string(), RcReadResult::Read, "abc"},
#ifndef _WIN32
        {(folder.path() / "link.rc").string(), RcReadResult::Read, "abc"},
#endif
        {(folder.path() / "empty.rc").string(), RcReadResult::Read, ""},
        {(folder.path() / "none.rc").string(), RcReadResult::CannotOpen, ""},
        {folder.path().string(), RcReadResult::Folder, ""},
#ifndef _WIN32  // a POSIX device file
        {"/dev/null", RcReadResult::NotRegularFile, ""},
#endif
        {(folder.path() / "big.rc").string(), RcReadResult::TooLarge, ""},
    };
    for (const auto& c : cases) {
        std::string bytes = "untouched";
        EXPECT_EQ(readRcSource(c.path, bytes), c.result) << c.path;
        if (c.result == RcReadResult::Read) {
            EXPECT_EQ(bytes, c.bytes) << c.path;
        }
    }
}

}  // namespace
}  // namespace glimmerpane::resources
