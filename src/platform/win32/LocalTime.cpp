// win32/LocalTime.cpp - Windows side: localtime_s, and the user's default locale name.
#include "platform/LocalTime.h"

#include <windows.h>

#include "base/Utf.h"

namespace glimmerpane::platform {

std::tm LocalTimeOf(std::time_t moment) {
    std::tm parts{};
    if (localtime_s(&parts, &moment) != 0) return std::tm{};
    return parts;
}

std::string NumberLocaleKey() {
    wchar_t name[LOCALE_NAME_MAX_LENGTH] = {};
    if (GetUserDefaultLocaleName(name, LOCALE_NAME_MAX_LENGTH) == 0) return std::string();
    return base::Utf8FromWide(name);
}

}  // namespace glimmerpane::platform
