// RcStatementParserTest.cpp - statements to string tables, fed with tokens straight from
// the lexer: STRINGTABLE and LANGUAGE forms, skipped resources, and the refusals with the
// file and line of the token at fault.
#include "render/RcStatementParser.h"

#include <gtest/gtest.h>

#include <sstream>
#include <string>
#include <vector>

namespace glimmerpane::resources {
namespace {

// Lexes each line of code as line 1, 2, ... of file 0 ("st.rc"); no preprocessing.
bool Parse(const std::string& code, RcScript& script, RcError& error) {
    std::vector<RcToken> tokens;
    std::istringstream lines(code);
    std::string line;
    for (uint32_t number = 1; std::getline(lines, line); ++number) {
        std::string reason;
        EXPECT_TRUE(lexRcLine(std::u32string(line.begin(), line.end()), 0, number, {true, RcNumberStyle::Statement},
                              tokens, reason))
            << reason;
    }
    script = RcScript();
    script.files = {"st.rc"};
    return parseRcStatements(tokens, script, error);
}

std::wstring StringOf(const RcScript& script, uint16_t language, uint32_t id) {
    const RcStringTable* table = script.language(language);
    if (table == nullptr) return L"<no language>";
    const auto found = table->strings.find(id);
    return found == table->strings.end() ? L"<missing>" : found->second;
}

TEST(RcStatementParser, ReadsStringTablesInTheLanguageInForce) {
    RcScript script;
    RcError error;
    ASSERT_TRUE(Parse("STRINGTABLE DISCARDABLE MOVEABLE\n"
                      "BEGIN\n"
                      "  1, \"one\"\n"
                      "  (1 + 1) \"two\" \" joined\"\n"
                      "  0x10 | 1 \"seventeen\"\n"
                      "END\n"
                      "LANGUAGE LANG_GERMAN, SUBLANG_GERMAN\n"
                      "STRINGTABLE { 1 \"eins\" }\n"
                      "STRINGTABLE LANGUAGE 0x0c, 1 CHARACTERISTICS 3 VERSION 2 BEGIN 1 \"un\" END\n"
                      "STRINGTABLE BEGIN 2 \"zwei\" END\n",
                      script, error))
        << error.toString();
    ASSERT_EQ(script.languages.size(), 3u);
    EXPECT_EQ(script.languages[0].languageId, 0x0409);  // rc's default language
    EXPECT_EQ(script.languages[1].languageId, 0x0407);
    EXPECT_EQ(script.languages[2].languageId, 0x040c);
    EXPECT_EQ(StringOf(script, 0x0409, 1), L"one");
    EXPECT_EQ(StringOf(script, 0x0409, 2), L"two joined");
    EXPECT_EQ(StringOf(script, 0x0409, 17), L"seventeen");
    EXPECT_EQ(StringOf(script, 0x0407, 1), L"eins");
    EXPECT_EQ(StringOf(script, 0x0407, 2), L"zwei") << "a block's own LANGUAGE holds for that block only";
    EXPECT_EQ(StringOf(script, 0x040c, 1), L"un");
}

TEST(RcStatementParser, PassesOverOtherResourcesAndCountsThem) {
    RcScript script;
    RcError error;
    ASSERT_TRUE(Parse("1 ICON \"app.ico\"\n"
                      "IDD_ABOUT DIALOGEX 0, 0, 100, 50\n"
                      "STYLE WS_POPUP | WS_CAPTION\n"
                      "BEGIN\n"
                      "  CONTROL \"x\", 1, \"Button\", 0, 1, 1, 1, 1\n"
                      "  BEGIN END\n"
                      "END\n"
                      "VS_VERSION_INFO VERSIONINFO\n"
                      " FILEVERSION 1,6,0,0\n"
                      "BEGIN BLOCK \"x\" BEGIN END END\n"
                      "2 RCDATA { 1, 2 }\n"
                      "STRINGTABLE BEGIN 3 \"after\" END\n",
                      script, error))
        << error.toString();
    EXPECT_EQ(script.skippedResources, 4u);
    EXPECT_EQ(StringOf(script, 0x0409, 3), L"after");
}

TEST(RcStatementParser, TakesIdsNestedFarDeeperThanAStackWouldHold) {
    constexpr size_t kDepth = 200000;
    RcScript script;
    RcError error;
    ASSERT_TRUE(Parse("STRINGTABLE BEGIN\n" + std::string(kDepth, '-') + "5 \"minus\"\n" + std::string(kDepth, '(') +
                          "6" + std::string(kDepth, ')') + " \"paren\"\nEND\n",
                      script, error))
        << error.toString();
    EXPECT_EQ(StringOf(script, 0x0409, 5), L"minus");
    EXPECT_EQ(StringOf(script, 0x0409, 6), L"paren");
    EXPECT_FALSE(Parse("STRINGTABLE BEGIN\n" + std::string(kDepth + 1, '-') + "5 \"x\"\nEND\n", script, error));
    EXPECT_EQ(error.reason, "string id -5 outside 0..65535");
}

TEST(RcStatementParser, RefusesBadStatementsAtTheTokenAtFault) {
    const struct {
        const char* code;
        uint32_t line;
        const char* reason;
    } cases[] = {
        {"STRINGTABLE\nBEGIN\n 1 \"a\"\n", 1, "STRINGTABLE block not closed with END"},
        {"STRINGTABLE\n", 1, "STRINGTABLE without BEGIN"},
        {"STRINGTABLE FOO BEGIN END\n", 1, "expected BEGIN after STRINGTABLE, found 'FOO'"},
        {"STRINGTABLE BEGIN\n 1 \"a\"\n 1 \"b\"\nEND\n", 3,
         "string id 1 defined twice for language en-US (first at st.rc:2)"},
        {"STRINGTABLE BEGIN\n 65536 \"a\"\nEND\n", 2, "string id 65536 outside 0..65535"},
        {"STRINGTABLE BEGIN\n -1 \"a\"\nEND\n", 2, "string id -1 outside 0..65535"},
        {"STRINGTABLE BEGIN\n IDS_NOPE \"a\"\nEND\n", 2, "unknown name IDS_NOPE"},
        {"STRINGTABLE BEGIN\n 1\n 2 \"b\"\nEND\n", 2, "expected a string after id 1"},
        {"STRINGTABLE BEGIN\n \"a\"\nEND\n", 2, "expected a number, found a string"},
        {"STRINGTABLE BEGIN\n , \"a\"\nEND\n", 2, "expected a number, found ','"},
        {"STRINGTABLE BEGIN\n (1\n \"a\"\nEND\n", 2, "missing )"},
        {"STRINGTABLE BEGIN\n 1 +\n", 2, "unexpected end of file, expected a number"},
        {"LANGUAGE 9\nSTRINGTABLE BEGIN END\n", 1, "LANGUAGE needs two values: primary, sublanguage"},
        {"LANGUAGE 0x400, 1\n", 1, "LANGUAGE value out of range"},
        {"END\n", 1, "unexpected 'END'"},
        {"X\n", 1, "incomplete resource statement starting with X"},
        {"X\nICON \"a.ico\"\n", 1, "incomplete resource statement starting with X"},
        {"X DIALOG 0, 0\n", 1, "DIALOG without BEGIN"},
        {"X DIALOG 0, 0 BEGIN\n", 1, "BEGIN without END"},
    };
    for (const auto& c : cases) {
        RcScript script;
        RcError error;
        EXPECT_FALSE(Parse(c.code, script, error)) << c.code;
        EXPECT_EQ(error.file, "st.rc") << c.code;
        EXPECT_EQ(error.line, c.line) << c.code;
        EXPECT_EQ(error.reason, c.reason) << c.code;
    }
}

TEST(RcStatementParser, RefusesAStringLongerThan65535Utf16Units) {
    RcScript script;
    RcError error;
    ASSERT_TRUE(Parse("STRINGTABLE BEGIN 1 \"" + std::string(65535, 'a') + "\" END\n", script, error)) << error.toString();
    EXPECT_EQ(script.languages[0].strings.at(1).size(), 65535u);
    EXPECT_FALSE(Parse("STRINGTABLE BEGIN 1 \"" + std::string(65534, 'a') + "\\xD83D\\xDE00\" END\n", script, error));
    EXPECT_EQ(error.reason, "string 1 is longer than 65535 characters") << "a character above U+FFFF counts two";
}

}  // namespace
}  // namespace glimmerpane::resources
