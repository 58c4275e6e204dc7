// RcParserTest.cpp - the resource-script reader: what it accepts, what it refuses (with the
// line and reason), and the shipped GPNResources.rc, which must define every id the module
// reads in every language.
#include "render/RcParser.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <random>

#include "platform/LanguageIds.h"
#include "support/TestEnvironment.h"
#include "render/TileCatalogue.h"

namespace glimmerpane::resources {
namespace {

std::wstring StringOf(const RcScript& script, uint16_t language, uint32_t id) {
    const RcStringTable* table = script.language(language);
    if (table == nullptr) return L"<no language>";
    const auto found = table->strings.find(id);
    return found == table->strings.end() ? L"<missing>" : found->second;
}

TEST(RcParserTest, ReadsStringTablesWithEscapesDefinesAndLanguages) {
    const char* text =
        "#pragma code_page(65001)\n"
        "#define IDS_BASE 100\n"
        "#define IDS_NEXT (IDS_BASE + 1)\n"
        "/* a block comment\n   over two lines */\n"
        "STRINGTABLE DISCARDABLE\n"
        "BEGIN\n"
        "  IDS_BASE, \"say \"\"hi\"\"\\n\" // trailing comment\n"
        "  IDS_NEXT L\"tab\\there\" \" joined\"\n"
        "  0x10 \"\\x41\\101\\\\ \\q\"\n"
        "END\n"
        "LANGUAGE LANG_GERMAN, SUBLANG_GERMAN\n"
        "STRINGTABLE { 100 \"Grüße\" }\n"
        "STRINGTABLE LANGUAGE 0x0c, 1 BEGIN 100 \"\" END\n";
    RcScript script;
    RcError error;
    ASSERT_TRUE(parseRcText(text, "inline.rc", script, error)) << error.toString();
    ASSERT_EQ(script.languages.size(), 3u);
    EXPECT_EQ(script.languages[0].languageId, 0x0409);  // rc's default language
    EXPECT_EQ(StringOf(script, 0x0409, 100), L"say \"hi\"\n");
    EXPECT_EQ(StringOf(script, 0x0409, 101), L"tab\there joined");
    EXPECT_EQ(StringOf(script, 0x0409, 16), L"AA\\ \\q");  // unknown escapes stay as written
    EXPECT_EQ(StringOf(script, 0x0407, 100), L"Grüße");
    EXPECT_EQ(StringOf(script, 0x040c, 100), L"");
}

TEST(RcParserTest, FollowsConditionalsAndSkipsOtherResources) {
    const char* text =
        "#include <windows.h>\n"
        "#define FEATURE\n"
        "#ifdef FEATURE\n"
        "STRINGTABLE BEGIN 1 \"on\" END\n"
        "#else\n"
        "STRINGTABLE BEGIN 1 \"off\" END\n"
        "#endif\n"
        "#if defined(FEATURE) && !defined(OTHER) || 0\n"
        "STRINGTABLE BEGIN 2 \"expr\" END\n"
        "#elif 1\n"
        "STRINGTABLE BEGIN 2 \"elif\" END\n"
        "#endif\n"
        "1 ICON \"app.ico\"\n"
        "IDD_ABOUT DIALOGEX 0, 0, 100, 50\n"
        "STYLE WS_POPUP\n"
        "CAPTION \"About\"\n"
        "BEGIN\n  CONTROL \"x\", 1, \"Button\", 0, 1, 1, 1, 1\nEND\n"
        "VS_VERSION_INFO VERSIONINFO\n FILEVERSION 1,6,0,0\nBEGIN\n BLOCK \"StringFileInfo\"\n BEGIN\n END\nEND\n"
        "STRINGTABLE BEGIN 3 \"after\" END\n";
    RcScript script;
    RcError error;
    ASSERT_TRUE(parseRcText(text, "cond.rc", script, error)) << error.toString();
    EXPECT_EQ(StringOf(script, 0x0409, 1), L"on");
    EXPECT_EQ(StringOf(script, 0x0409, 2), L"expr");
    EXPECT_EQ(StringOf(script, 0x0409, 3), L"after");
    EXPECT_EQ(script.skippedResources, 3u);
}

struct Malformed {
    const char* name;
    const char* text;
    uint32_t line;
    const char* reason;  // a fragment of the reason
};

TEST(RcParserTest, RefusesMalformedScriptsWithLineAndReason) {
    const Malformed cases[] = {
        {"unterminated string", "STRINGTABLE\nBEGIN\n 1 \"abc\nEND\n", 3, "unterminated string"},
        {"unterminated comment", "\n/* open\nSTRINGTABLE BEGIN END\n", 2, "unterminated /*"},
        {"missing END", "STRINGTABLE\nBEGIN\n 1 \"a\"\n", 1, "not closed"},
        {"duplicate id", "STRINGTABLE BEGIN\n 1 \"a\"\n 1 \"b\"\nEND\n", 3, "defined twice for language en-US"},
        {"id too large", "STRINGTABLE BEGIN\n 70000 \"a\"\nEND\n", 2, "outside 0..65535"},
        {"unknown name", "STRINGTABLE BEGIN\n IDS_NOPE \"a\"\nEND\n", 2, "unknown name IDS_NOPE"},
        {"id without string", "STRINGTABLE BEGIN\n 1\n 2 \"b\"\nEND\n", 2, "expected a string after id 1"},
        {"other code page", "#pragma code_page(1252)\n", 1, "code page 1252 is not supported"},
        {"non-ASCII without code page", "STRINGTABLE BEGIN\n 1 \"é\"\nEND\n", 2, "before #pragma code_page(65001)"},
        {"invalid UTF-8", "\n\nSTRINGTABLE BEGIN 1 \"\xff\" END\n", 3, "invalid UTF-8"},
        {"else without if", "#else\n", 1, "#else without #if"},
        {"if without endif", "\n#ifdef X\n", 2, "#if without #endif"},
        {"error directive", "#error stop here\n", 1, "#error stop here"},
        {"unknown directive", "\n#frobnicate\n", 2, "unknown preprocessor directive #frobnicate"},
        {"bad language", "LANGUAGE 9\nSTRINGTABLE BEGIN END\n", 1, "LANGUAGE needs two values"},
        {"self-referencing define", "#define A A + 1\nSTRINGTABLE BEGIN A \"x\" END\n", 2, "expands without end"},
        {"stray END", "END\n", 1, "unexpected 'END'"},
        {"missing include", "#include \"nowhere.h\"\n", 1, "cannot read included file"},
        {"malformed number", "STRINGTABLE BEGIN\n 12ab \"x\"\nEND\n", 2, "malformed number"},
    };
    for (const Malformed& c : cases) {
        SCOPED_TRACE(c.name);
        RcScript script;
        RcError error;
        EXPECT_FALSE(parseRcText(c.text, "bad.rc", script, error));
        EXPECT_EQ(error.file, "bad.rc");
        EXPECT_EQ(error.line, c.line) << error.toString();
        EXPECT_NE(error.reason.find(c.reason), std::string::npos) << error.toString();
    }
}

TEST(RcParserTest, IncludesResolveBesideTheIncludingFileAndCyclesAreRefused) {
    namespace fs = std::filesystem;
    const fs::path folder = fs::temp_directory_path() / ("gp-rc-" + std::to_string(std::random_device()()));
    fs::create_directories(folder / "sub");
    std::ofstream(folder / "sub" / "ids.h") << "#define IDS_X 42\n";
    std::ofstream(folder / "main.rc") << "#include \"sub/ids.h\"\nSTRINGTABLE BEGIN IDS_X \"x\" END\n";
    std::ofstream(folder / "loop.rc") << "#include \"loop.rc\"\n";
    RcScript script;
    RcError error;
    EXPECT_TRUE(parseRcFile((folder / "main.rc").string(), script, error)) << error.toString();
    EXPECT_EQ(StringOf(script, 0x0409, 42), L"x");
    EXPECT_EQ(script.files.size(), 2u);
    EXPECT_FALSE(parseRcFile((folder / "loop.rc").string(), script, error));
    EXPECT_NE(error.reason.find("cycle"), std::string::npos) << error.toString();
    fs::remove_all(folder);
}

TEST(RcParserTest, ShippedScriptDefinesEveryIdInEveryLanguage) {
    RcScript script;
    RcError error;
    ASSERT_TRUE(parseRcFile(gptest::SourceFolder() + "resources/GPNResources.rc", script, error)) << error.toString();
    const std::vector<uint32_t> ids = Vornik::allTileStringIds();
    std::vector<std::string> languages;
    for (const RcStringTable& table : script.languages) {
        languages.push_back(platform::LanguageTag(table.languageId));
        SCOPED_TRACE(languages.back());
        EXPECT_EQ(table.strings.size(), ids.size());
        for (uint32_t id : ids) {
            const auto found = table.strings.find(id);
            ASSERT_NE(found, table.strings.end()) << "missing id " << id;
            EXPECT_FALSE(found->second.empty()) << "empty id " << id;
        }
    }
    EXPECT_EQ(languages, (std::vector<std::string>{"en-US", "de-DE", "fr-FR"}));
}

TEST(RcParserTest, GeneratedSourceCarriesEveryString) {
    RcScript script;
    RcError error;
    ASSERT_TRUE(parseRcText("STRINGTABLE BEGIN 5 \"A\" 6 \"\" END\nLANGUAGE 7,1\nSTRINGTABLE BEGIN END\n", "g.rc",
                            script, error));
    const std::string source = generateStringTableSource(script);
    EXPECT_NE(source.find("{5u, 1u, s0_5}"), std::string::npos);
    EXPECT_NE(source.find("{6u, 0u, s0_6}"), std::string::npos);
    EXPECT_NE(source.find("{0x0407u, 0u, 0u, NULL}"), std::string::npos);
    EXPECT_NE(source.find("GlimmerpaneStringTable"), std::string::npos);
}

}  // namespace
}  // namespace glimmerpane::resources
