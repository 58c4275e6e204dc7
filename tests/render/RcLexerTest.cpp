// RcLexerTest.cpp - one line of resource-script code into tokens: each kind, numbers in
// both contexts, rc's string escapes, and the refusals with their reasons.
#include "render/RcLexer.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace glimmerpane::resources {
namespace {

// "Ident:BEGIN Number:16 String:ab Punct:||" - what a test compares.
std::string Describe(const std::vector<RcToken>& tokens) {
    std::string out;
    for (const RcToken& t : tokens) {
        if (!out.empty()) out += ' ';
        switch (t.kind) {
            case RcToken::Ident: out += "Ident:" + t.text; break;
            case RcToken::Number: out += "Number:" + std::to_string(t.number); break;
            case RcToken::Punct: out += "Punct:" + t.text; break;
            case RcToken::String: {
                out += "String:";
                for (char32_t c : t.string) out += c < 0x80 ? std::string(1, static_cast<char>(c)) : RcCharacterName(c);
                break;
            }
            case RcToken::End: out += "End"; break;
        }
    }
    return out;
}

std::string Lex(const std::u32string& code, RcLexOptions options = {}) {
    std::vector<RcToken> tokens;
    std::string reason;
    if (!lexRcLine(code, 3, 7, options, tokens, reason)) return "error: " + reason;
    return Describe(tokens);
}

TEST(RcLexer, SplitsALineIntoTokensOfEachKind) {
    const struct {
        const char32_t* code;
        const char* tokens;
    } cases[] = {
        {U"IDS_X, \"a\" L\"b\"", "Ident:IDS_X Punct:, String:a String:b"},
        {U"  STRINGTABLE\tBEGIN 1 \"x\" END  ", "Ident:STRINGTABLE Ident:BEGIN Number:1 String:x Ident:END"},
        {U"(A+1)|~B&-2", "Punct:( Ident:A Punct:+ Number:1 Punct:) Punct:| Punct:~ Ident:B Punct:& Punct:- Number:2"},
        {U"a||b && c==d != e | f", "Ident:a Punct:|| Ident:b Punct:&& Ident:c Punct:== Ident:d Punct:!= Ident:e Punct:| Ident:f"},
        {U"!!x = y", "Punct:! Punct:! Ident:x Punct:= Ident:y"},
        {U"l\"wide\" L", "String:wide Ident:L"},
        {U"", ""},
    };
    for (const auto& c : cases) EXPECT_EQ(Lex(c.code), c.tokens) << c.tokens;
}

TEST(RcLexer, StampsEveryTokenWithItsFileAndLine) {
    std::vector<RcToken> tokens;
    std::string reason;
    ASSERT_TRUE(lexRcLine(U"1 \"a\" b", 4, 12, {}, tokens, reason));
    ASSERT_EQ(tokens.size(), 3u);
    for (const RcToken& t : tokens) {
        EXPECT_EQ(t.file, 4u);
        EXPECT_EQ(t.line, 12u);
    }
}

TEST(RcLexer, ReadsNumbersTheWayTheirContextDoes) {
    constexpr auto S = RcNumberStyle::Statement;
    constexpr auto C = RcNumberStyle::Condition;
    const struct {
        const char32_t* code;
        RcNumberStyle style;
        const char* tokens;
    } cases[] = {
        {U"42", S, "Number:42"},
        {U"0x1F 0X10", S, "Number:31 Number:16"},
        {U"010", S, "Number:10"},  // rc reads a leading zero as decimal
        {U"7L 7u 7UL", S, "Number:7 Number:7 Number:7"},
        {U"4294967295", S, "Number:4294967295"},
        {U"4294967296", S, "error: number too large"},
        {U"0x100000000", S, "error: number too large"},
        {U"0x", S, "error: malformed hexadecimal number"},
        {U"12ab", S, "error: malformed number"},
        {U"010", C, "Number:8"},  // the C preprocessor reads it as octal
        {U"0x1f 0 7L 7ull", C, "Number:31 Number:0 Number:7 Number:7"},
        {U"9223372036854775807", C, "Number:9223372036854775807"},
        {U"9223372036854775808", C, "error: bad number 9223372036854775808 in #if"},
        {U"08", C, "error: bad number 08 in #if"},
        {U"1abc", C, "error: bad number 1abc in #if"},
        {U"0x", C, "error: bad number 0x in #if"},
        {U"7uuuu", C, "error: bad number 7uuuu in #if"},
    };
    for (const auto& c : cases) {
        RcLexOptions options;
        options.numbers = c.style;
        EXPECT_EQ(Lex(c.code, options), c.tokens) << c.tokens;
    }
}

TEST(RcLexer, DecodesStringLiteralsAsRcDoes) {
    const struct {
        const char32_t* code;
        std::u32string text;
    } cases[] = {
        {U"\"say \"\"hi\"\"\"", U"say \"hi\""},
        {U"\"\\n\\t\\r\\a\\\\\\\"\"", U"\n\t\r\a\\\""},
        {U"\"\\x41\\x0042\\X7a\"", U"ABz"},
        {U"\"\\x41BCDE\"", U"\x41BC" U"DE"},  // at most four hex digits
        {U"\"\\101\\0\\1012\"", std::u32string(U"A") + U'\0' + U"A2"},
        {U"\"\\q\\%\"", U"\\q\\%"},  // an unknown escape stays as written
        {U"\"\\xD83D\\xDE00\"", U"\U0001F600"},
        {U"\"caf\u00e9 \U0001F600\"", U"caf\u00e9 \U0001F600"},
        {U"\"\"", U""},
    };
    for (const auto& c : cases) {
        std::vector<RcToken> tokens;
        std::string reason;
        RcLexOptions options;
        options.utf8CodePage = true;
        ASSERT_TRUE(lexRcLine(c.code, 0, 1, options, tokens, reason)) << reason;
        ASSERT_EQ(tokens.size(), 1u);
        EXPECT_EQ(tokens[0].kind, RcToken::String);
        EXPECT_EQ(tokens[0].string, c.text) << Describe(tokens);
    }
}

TEST(RcLexer, RefusesMalformedTokensWithAReason) {
    const struct {
        const char32_t* code;
        bool utf8CodePage;
        const char* reason;
    } cases[] = {
        {U"1 \"open", true, "unterminated string literal"},
        {U"\"ends in backslash\\\"", true, "unterminated string literal"},
        {U"\"\\xg\"", true, "\\x escape without hex digits"},
        {U"\"\\xD83D\"", true, "escape yields a lone surrogate"},
        {U"\"\\xDE00\\xD83D\"", true, "escape yields a lone surrogate"},
        {U"\"caf\u00e9\"", false, "non-ASCII character U+00E9 before #pragma code_page(65001)"},
        {U"x \u00e9", true, "unexpected character U+00E9 outside a string"},
    };
    for (const auto& c : cases) {
        RcLexOptions options;
        options.utf8CodePage = c.utf8CodePage;
        EXPECT_EQ(Lex(c.code, options), std::string("error: ") + c.reason) << c.reason;
    }
}

}  // namespace
}  // namespace glimmerpane::resources
