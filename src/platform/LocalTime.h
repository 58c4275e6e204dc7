// LocalTime.h - calendar time in the user's time zone, and what decides the user's locale.
//
// Windows: localtime_s and the user's default locale name. POSIX: localtime_r and the
// environment (LC_ALL, LC_NUMERIC, LANG), as std::locale("") reads it.
#pragma once

#include <ctime>
#include <string>

namespace glimmerpane::platform {

// The broken-down local time of a moment; all fields zero if the moment cannot be converted.
std::tm LocalTimeOf(std::time_t moment);

// A text that changes whenever the locale std::locale("") builds for numbers would change,
// so that a caller can keep a built locale until then.
std::string NumberLocaleKey();

// How the user's locale groups the digits of a number: group sizes in std::numpunct's form
// (each char one size, from the right, the last repeating; CHAR_MAX ends grouping) and the
// separator. Empty grouping: no grouping. POSIX: the numpunct of std::locale("") (the
// classic locale when the one named is not installed). Windows: GetLocaleInfoEx for the
// user's default locale (LOCALE_SGROUPING, LOCALE_STHOUSAND): MinGW's C++ library knows only
// the "C" locale.
struct NumberGrouping {
    std::string grouping;
    wchar_t separator = L',';
};
NumberGrouping UserNumberGrouping();

}  // namespace glimmerpane::platform
