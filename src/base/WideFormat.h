// WideFormat.h - printf-style formatting into wide strings.
#pragma once

#include <cstdarg>
#include <cstddef>
#include <string>

namespace glimmerpane::base {

// Log messages are cut at 4160 characters; this leaves room for any record worth keeping.
inline constexpr size_t kWideFormatInitialCapacity = 512;
inline constexpr size_t kWideFormatCapacityLimit = size_t{1} << 16;  // characters, terminator included

// Formats like vswprintf into a string of up to kWideFormatCapacityLimit - 1 characters.
// A longer result or a conversion error gives the format text itself, never an exception.
std::wstring FormatWideV(const wchar_t* format, va_list args);
std::wstring FormatWide(const wchar_t* format, ...);

// Formats into a fixed capacity of `capacity` characters including the terminator:
// at most capacity - 1 characters are kept and the rest is cut.
std::wstring FormatWideCappedV(size_t capacity, const wchar_t* format, va_list args);

}  // namespace glimmerpane::base
