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

}  // namespace glimmerpane::platform
