// RcLexer.cpp - identifiers, numbers, string literals and punctuation of one line.
#include "render/RcLexer.h"

#include <cstdio>
#include <utility>

#include "base/Hex.h"

namespace glimmerpane::resources {

namespace {

bool IsIdentStart(char32_t c) { return (c >= U'a' && c <= U'z') || (c >= U'A' && c <= U'Z') || c == U'_'; }
bool IsIdentChar(char32_t c) { return IsIdentStart(c) || (c >= U'0' && c <= U'9'); }
bool IsSpace(char32_t c) { return c == U' ' || c == U'\t' || c == U'\r' || c == U'\f' || c == U'\v'; }
int HexValue(char32_t c) { return base::HexDigitValue(c); }

bool Refuse(std::string& reason, std::string text) {
    reason = std::move(text);
    return false;
}

// Identifiers are ASCII, so their UTF-8 is their characters.
std::string Ascii(std::u32string_view text) {
    std::string out;
    for (char32_t c : text) out += static_cast<char>(c);
    return out;
}

// A C preprocessor number: the characters a pp-number may hold, read strictly.
bool ConditionNumber(std::u32string_view text, size_t& i, int64_t& value, std::string& reason) {
    const size_t begin = i;
    while (i < text.size() && IsIdentChar(text[i])) ++i;
    const std::string word = Ascii(text.substr(begin, i - begin));
    size_t at = 0;
    unsigned radix = 10;
    if (word.size() > 1 && word[0] == '0' && (word[1] == 'x' || word[1] == 'X')) {
        radix = 16;
        at = 2;
    } else if (word.size() > 1 && word[0] == '0') {
        radix = 8;
        at = 1;
    }
    const size_t digitsStart = at;
    uint64_t v = 0;
    for (; at < word.size(); ++at) {
        const int d = HexValue(static_cast<unsigned char>(word[at]));
        if (d < 0 || static_cast<unsigned>(d) >= radix) break;
        if (v > (static_cast<uint64_t>(INT64_MAX) - static_cast<uint64_t>(d)) / radix) {
            return Refuse(reason, "bad number " + word + " in #if");
        }
        v = v * radix + static_cast<uint64_t>(d);
    }
    const bool noDigits = radix == 16 && at == digitsStart;
    const std::string_view suffix = std::string_view(word).substr(at);
    if (noDigits || suffix.size() > 3 || suffix.find_first_not_of("uUlL") != std::string_view::npos) {
        return Refuse(reason, "bad number " + word + " in #if");
    }
    value = static_cast<int64_t>(v);
    return true;
}

bool StatementNumber(std::u32string_view text, size_t& i, int64_t& value, std::string& reason) {
    value = 0;
    if (text[i] == U'0' && i + 1 < text.size() && (text[i + 1] == U'x' || text[i + 1] == U'X')) {
        i += 2;
        const size_t digitsStart = i;
        while (i < text.size() && HexValue(text[i]) >= 0) {
            value = value * 16 + HexValue(text[i++]);
            if (value > 0xffffffffLL) return Refuse(reason, "number too large");
        }
        if (i == digitsStart) return Refuse(reason, "malformed hexadecimal number");
    } else {
        while (i < text.size() && text[i] >= U'0' && text[i] <= U'9') {
            value = value * 10 + (text[i++] - U'0');
            if (value > 0xffffffffLL) return Refuse(reason, "number too large");
        }
    }
    while (i < text.size() && (text[i] == U'L' || text[i] == U'l' || text[i] == U'U' || text[i] == U'u')) ++i;
    if (i < text.size() && IsIdentChar(text[i])) return Refuse(reason, "malformed number");
    return true;
}

// The literal starting at text[i] (at its quote, past any L prefix); i ends past it.
bool StringLiteral(std::u32string_view text, size_t& i, bool utf8CodePage, std::u32string& out, std::string& reason) {
    ++i;
    while (i < text.size()) {
        const char32_t ch = text[i];
        if (ch == U'"') {
            if (i + 1 < text.size() && text[i + 1] == U'"') {
                out += U'"';
                i += 2;
                continue;
            }
            ++i;
            for (char32_t c : out) {
                if (c >= 0xd800 && c <= 0xdfff) return Refuse(reason, "escape yields a lone surrogate");
            }
            return true;
        }
        if (ch == U'\\' && i + 1 < text.size()) {
            const char32_t e = text[i + 1];
            i += 2;
            switch (e) {
                case U'n': out += U'\n'; break;
                case U't': out += U'\t'; break;
                case U'r': out += U'\r'; break;
                case U'a': out += U'\a'; break;
                case U'\\': out += U'\\'; break;
                case U'"': out += U'"'; break;
                case U'x':
                case U'X': {
                    char32_t value = 0;
                    int digits = 0;
                    while (digits < 4 && i < text.size() && HexValue(text[i]) >= 0) {
                        value = value * 16 + static_cast<char32_t>(HexValue(text[i++]));
                        ++digits;
                    }
                    if (digits == 0) return Refuse(reason, "\\x escape without hex digits");
                    if (value >= 0xdc00 && value <= 0xdfff && !out.empty() && out.back() >= 0xd800 &&
                        out.back() <= 0xdbff) {
                        out.back() = 0x10000 + ((out.back() - 0xd800) << 10) + (value - 0xdc00);
                    } else {
                        out += value;
                    }
                    break;
                }
                default:
                    if (e >= U'0' && e <= U'7') {
                        char32_t value = e - U'0';
                        for (int digits = 1; digits < 3 && i < text.size() && text[i] >= U'0' && text[i] <= U'7';
                             ++digits) {
                            value = value * 8 + (text[i++] - U'0');
                        }
                        out += value;
                    } else {
                        // rc keeps an unknown escape as written.
                        out += U'\\';
                        out += e;
                    }
            }
            continue;
        }
        if (ch >= 0x80 && !utf8CodePage) {
            return Refuse(reason, "non-ASCII character " + RcCharacterName(ch) + " before #pragma code_page(65001)");
        }
        out += ch;
        ++i;
    }
    return Refuse(reason, "unterminated string literal");
}

}  // namespace

std::string RcCharacterName(char32_t c) {
    char buffer[16];
    std::snprintf(buffer, sizeof(buffer), "U+%04X", static_cast<unsigned>(c));
    return buffer;
}

bool lexRcLine(std::u32string_view text, uint32_t file, uint32_t line, const RcLexOptions& options,
               std::vector<RcToken>& out, std::string& reason) {
    size_t i = 0;
    while (i < text.size()) {
        const char32_t c = text[i];
        if (IsSpace(c)) {
            ++i;
            continue;
        }
        RcToken token;
        token.file = file;
        token.line = line;
        const bool widePrefix = (c == U'L' || c == U'l') && i + 1 < text.size() && text[i + 1] == U'"';
        if (c == U'"' || widePrefix) {
            if (widePrefix) ++i;
            token.kind = RcToken::String;
            if (!StringLiteral(text, i, options.utf8CodePage, token.string, reason)) return false;
        } else if (c >= U'0' && c <= U'9') {
            token.kind = RcToken::Number;
            const bool ok = options.numbers == RcNumberStyle::Condition ? ConditionNumber(text, i, token.number, reason)
                                                                        : StatementNumber(text, i, token.number, reason);
            if (!ok) return false;
        } else if (IsIdentStart(c)) {
            const size_t begin = i;
            while (i < text.size() && IsIdentChar(text[i])) ++i;
            token.kind = RcToken::Ident;
            token.text = Ascii(text.substr(begin, i - begin));
        } else if (c >= 0x80) {
            return Refuse(reason, "unexpected character " + RcCharacterName(c) + " outside a string");
        } else {
            token.kind = RcToken::Punct;
            token.text = std::string(1, static_cast<char>(c));
            static constexpr std::string_view kPairs[] = {"||", "&&", "==", "!="};
            if (i + 1 < text.size()) {
                const char pair[2] = {static_cast<char>(c), static_cast<char>(text[i + 1] < 0x80 ? text[i + 1] : 0)};
                for (std::string_view p : kPairs) {
                    if (p == std::string_view(pair, 2)) token.text = std::string(p);
                }
            }
            i += token.text.size();
        }
        out.push_back(std::move(token));
    }
    return true;
}

}  // namespace glimmerpane::resources
