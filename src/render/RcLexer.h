// RcLexer.h - the tokens of a resource script and the lexer of one line of code.
//
// The preprocessor hands the lexer one logical line at a time, comments already removed;
// the lexer turns it into identifiers, numbers, decoded string literals and punctuation.
// String literals keep rc's rules: "" is a quote, backslash escapes \n \t \r \a \\ \" \x..
// (up to four hex digits; a \x pair of surrogates combines) and \ooo, an unknown escape
// stays as written, an L prefix changes nothing. Text outside ASCII is allowed in strings
// only once #pragma code_page(65001) is in force.
//
// Numbers follow the context: in statements they are rc's (decimal or 0x hex, at most
// 0xFFFFFFFF, L/U suffixes); in #if lines they are the C preprocessor's (also octal with a
// leading 0, up to INT64_MAX). || && == != are single punctuation tokens.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace glimmerpane::resources {

struct RcToken {
    enum Kind { End, Ident, Number, String, Punct } kind = End;
    std::string text;       // identifier or punctuation
    int64_t number = 0;
    std::u32string string;  // decoded string literal
    uint32_t file = 0;      // index into RcScript::files
    uint32_t line = 0;
};

enum class RcNumberStyle { Statement, Condition };

struct RcLexOptions {
    bool utf8CodePage = false;  // #pragma code_page(65001) is in force
    RcNumberStyle numbers = RcNumberStyle::Statement;
};

// Appends the tokens of code to out, each stamped with file and line. False with a reason at
// the first malformed token; out then holds the tokens before it.
bool lexRcLine(std::u32string_view code, uint32_t file, uint32_t line, const RcLexOptions& options,
               std::vector<RcToken>& out, std::string& reason);

// "U+00E9": how errors name a character.
std::string RcCharacterName(char32_t c);

}  // namespace glimmerpane::resources
