// Utf.h - conversions between wide strings, UTF-8 and UTF-16.
//
// Wide strings are UTF-16 on Windows and UTF-32 on POSIX. Invalid input never throws:
// malformed UTF-8 sequences and lone surrogates become U+FFFD.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace glimmerpane::base {

std::wstring WideFromUtf8(std::string_view utf8);
std::string Utf8FromWide(std::wstring_view wide);

// UTF-16 code units of a wide string (a character above U+FFFF becomes a surrogate pair).
std::u16string Utf16FromWide(std::wstring_view wide);
std::wstring WideFromUtf16(std::u16string_view utf16);

// The length of a wide string in UTF-16 units.
size_t Utf16Length(std::wstring_view wide);

}  // namespace glimmerpane::base
