// posix/LocalTime.cpp - POSIX side: localtime_r, and the locale variables.
#include "platform/LocalTime.h"

#include <cstdlib>
#include <locale>

namespace glimmerpane::platform {

std::tm LocalTimeOf(std::time_t moment) {
    std::tm parts{};
    if (localtime_r(&moment, &parts) == nullptr) return std::tm{};
    return parts;
}

std::string NumberLocaleKey() {
    std::string key;
    for (const char* variable : {"LC_ALL", "LC_NUMERIC", "LANG"}) {
        const char* value = std::getenv(variable);
        key += value ? value : "";
        key += '\n';
    }
    return key;
}

NumberGrouping UserNumberGrouping() {
    NumberGrouping result;
    try {
        const std::locale locale("");
        const auto& punctuation = std::use_facet<std::numpunct<wchar_t>>(locale);
        result.grouping = punctuation.grouping();
        result.separator = punctuation.thousands_sep();
    } catch (const std::exception&) {
        // LANG or LC_* names a locale that is not installed: the classic one, no grouping.
        result.grouping.clear();
    }
    return result;
}

}  // namespace glimmerpane::platform
