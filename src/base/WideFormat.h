// WideFormat.h - printf-style formatting into wide strings.
#pragma once

#include <cstdarg>
#include <cstddef>
#include <string>

namespace glimmerpane::base {

// Formats like vswprintf into a string of any length. glibc's vswprintf cannot tell
// "buffer too small" from "bad conversion", so the buffer grows up to a limit; past it
// (or on a conversion error) the result is the format text itself, never an exception.
std::wstring FormatWideV(const wchar_t* format, va_list args);
std::wstring FormatWide(const wchar_t* format, ...);

// Formats into a fixed capacity of `capacity` characters including the terminator:
// at most capacity - 1 characters are kept and the rest is cut.
std::wstring FormatWideCappedV(size_t capacity, const wchar_t* format, va_list args);

}  // namespace glimmerpane::base
