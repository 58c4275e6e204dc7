// win32/LocalTime.cpp - Windows side: localtime_s, and the user's default locale name.
#include "platform/LocalTime.h"

#include <windows.h>

#include <climits>

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

NumberGrouping UserNumberGrouping() {
    NumberGrouping result;
    wchar_t separator[8] = {};
    if (GetLocaleInfoEx(LOCALE_NAME_USER_DEFAULT, LOCALE_STHOUSAND, separator, 8) > 1) result.separator = separator[0];
    // "3;0" groups by three throughout, "3;2;0" three then twos, "3" only the first three.
    wchar_t sizes[16] = {};
    if (GetLocaleInfoEx(LOCALE_NAME_USER_DEFAULT, LOCALE_SGROUPING, sizes, 16) <= 1) return result;
    std::string grouping;
    bool repeatLast = false;
    for (const wchar_t* at = sizes; *at != L'\0'; ++at) {
        if (*at < L'0' || *at > L'9') continue;
        const int size = *at - L'0';
        if (size == 0) {
            repeatLast = true;
            break;
        }
        grouping += static_cast<char>(size);
    }
    if (!grouping.empty() && !repeatLast) grouping += static_cast<char>(CHAR_MAX);
    result.grouping = grouping;
    return result;
}

}  // namespace glimmerpane::platform
