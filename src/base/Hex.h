// Hex.h - hexadecimal digits.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>

namespace glimmerpane::base {

// The value of one hex digit (either case), or -1.
constexpr int HexDigitValue(char32_t c) {
    if (c >= U'0' && c <= U'9') return static_cast<int>(c - U'0');
    if (c >= U'a' && c <= U'f') return static_cast<int>(c - U'a' + 10);
    if (c >= U'A' && c <= U'F') return static_cast<int>(c - U'A' + 10);
    return -1;
}

// The digit of a value 0..15.
constexpr char HexDigit(unsigned value, bool upperCase = false) {
    return (upperCase ? "0123456789ABCDEF" : "0123456789abcdef")[value & 0xF];
}

// Reads exactly `digits` hex digits (at most 16) from the start of text. False, with
// *value untouched, when text is shorter or holds another character there.
template <class Char>
bool ParseHexDigits(std::basic_string_view<Char> text, size_t digits, uint64_t* value) {
    if (digits > 16 || text.size() < digits) return false;
    uint64_t v = 0;
    for (size_t i = 0; i < digits; ++i) {
        const int d = HexDigitValue(static_cast<char32_t>(text[i]));
        if (d < 0) return false;
        v = (v << 4) | static_cast<uint64_t>(d);
    }
    *value = v;
    return true;
}

}  // namespace glimmerpane::base
