// posix/LocalTime.cpp - POSIX side: localtime_r, and the locale variables.
#include "platform/LocalTime.h"

#include <cstdlib>

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

}  // namespace glimmerpane::platform
