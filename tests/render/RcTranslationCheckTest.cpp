// Every language against the reference table: missing ids and other placeholders are
// refused where they are to be fixed; what is allowed passes.
#include "render/RcTranslationCheck.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "render/RcParser.h"

namespace glimmerpane::resources {
namespace {

std::vector<RcError> Check(const std::string& text, bool allowMissing = false) {
    RcScript script;
    RcError error;
    EXPECT_TRUE(parseRcText(text, "t.rc", script, error)) << error.toString();
    std::vector<RcError> problems;
    const bool ok = checkRcTranslations(script, {allowMissing}, problems);
    EXPECT_EQ(ok, problems.empty());
    return problems;
}

const std::string kEnglish =
    "LANGUAGE LANG_ENGLISH, SUBLANG_ENGLISH_US\n"  // line 1
    "STRINGTABLE\nBEGIN\n"
    "  1 \"%NUM_FILES% files scanned\"\n"        // line 4
    "  2 \"Your PC is secure.\"\n"               // line 5
    "END\n";

TEST(RcTranslationCheck, RefusesMissingStringsAndOtherPlaceholdersAtTheirLines) {
    const struct {
        const char* what;
        std::string german;  // its STRINGTABLE is line 8, its strings from line 10
        bool allowMissing;
        std::vector<std::pair<uint32_t, std::string>> expected;  // line, part of the reason
    } cases[] = {
        {"complete", "  1 \"%NUM_FILES% Dateien geprueft\"\n  2 \"Ihr PC ist sicher.\"\n", false, {}},
        {"placeholders in another order and count",
         "  1 \"%NUM_FILES% / %NUM_FILES% Dateien\"\n  2 \"Sicher.\"\n", false, {}},
        {"a missing string", "  1 \"%NUM_FILES% Dateien\"\n", false,
         {{8, "language de-DE lacks string 2 (en-US has it at t.rc:5)"}}},
        {"a missing string allowed", "  1 \"%NUM_FILES% Dateien\"\n", true, {}},
        {"a misspelt placeholder", "  1 \"%NUM_FILE% Dateien\"\n  2 \"Sicher.\"\n", true,
         {{10, "string 1 of de-DE uses the placeholders %NUM_FILE% where en-US uses %NUM_FILES% (t.rc:4)"}}},
        {"a placeholder left out", "  1 \"Dateien\"\n  2 \"Sicher.\"\n", false,
         {{10, "uses the placeholders none where en-US uses %NUM_FILES%"}}},
        {"a placeholder added; percent signs that are none",
         "  1 \"%NUM_FILES% Dateien, 100% %\"\n  2 \"%NAME% sicher\"\n", false,
         {{11, "string 2 of de-DE uses the placeholders %NAME% where en-US uses none"}}},
    };
    for (const auto& c : cases) {
        const std::string script =
            kEnglish + "LANGUAGE LANG_GERMAN, SUBLANG_GERMAN\nSTRINGTABLE\nBEGIN\n" + c.german + "END\n";
        const std::vector<RcError> problems = Check(script, c.allowMissing);
        ASSERT_EQ(problems.size(), c.expected.size()) << c.what;
        for (size_t i = 0; i < problems.size(); ++i) {
            EXPECT_EQ(problems[i].file, "t.rc") << c.what;
            EXPECT_EQ(problems[i].line, c.expected[i].first) << c.what << ": " << problems[i].reason;
            EXPECT_NE(problems[i].reason.find(c.expected[i].second), std::string::npos) << c.what << ": "
                                                                                         << problems[i].reason;
        }
    }
}

TEST(RcTranslationCheck, TheNeutralTableIsTheReferenceAndALoneLanguagePasses) {
    // With a neutral table, en-US is checked against it like any other language.
    const std::vector<RcError> problems = Check(
        kEnglish + "LANGUAGE LANG_NEUTRAL, SUBLANG_NEUTRAL\nSTRINGTABLE\nBEGIN\n 1 \"%NUM_FILES%\"\n 3 \"x\"\nEND\n");
    ASSERT_EQ(problems.size(), 1u);
    EXPECT_EQ(problems[0].line, 2u);  // en-US's STRINGTABLE
    EXPECT_NE(problems[0].reason.find("language en-US lacks string 3 (neutral has it at t.rc:11)"), std::string::npos)
        << problems[0].reason;
    EXPECT_TRUE(Check(kEnglish).empty());
    EXPECT_TRUE(Check("LANGUAGE LANG_GERMAN, SUBLANG_GERMAN\nSTRINGTABLE\nBEGIN\n 1 \"a\"\nEND\n"
                      "LANGUAGE LANG_FRENCH, SUBLANG_FRENCH\nSTRINGTABLE\nBEGIN\n 2 \"b\"\nEND\n")
                    .empty())
        << "without neutral or en-US there is nothing to compare with";
}

}  // namespace
}  // namespace glimmerpane::resources
