// Prefix.cpp (POSIX side) - the prefix folder from the environment and the user.
#include "platform/Prefix.h"

#include <pwd.h>
#include <unistd.h>

#include <cstdlib>
#include <string>

#include "base/Utf.h"

namespace glimmerpane::platform {

namespace {

std::string NonEmptyEnv(const char* name) {
    const char* value = std::getenv(name);
    return value != nullptr ? std::string(value) : std::string();
}

std::string HomeFolder() {
    std::string home = NonEmptyEnv("HOME");
    if (!home.empty()) return home;
    // No HOME (daemons, cron): the password database still knows.
    if (const passwd* entry = getpwuid(geteuid()); entry != nullptr && entry->pw_dir != nullptr) return entry->pw_dir;
    return "/tmp";
}

std::string PrefixUtf8() {
    std::string prefix = NonEmptyEnv("GLIMMERPANE_PREFIX");
    if (prefix.empty()) {
        if (geteuid() == 0) {
            prefix = "/var/lib/glimmerpane";
        } else {
            std::string data = NonEmptyEnv("XDG_DATA_HOME");
            // The XDG rules ignore a relative XDG_DATA_HOME.
            if (data.empty() || data[0] != '/') data = HomeFolder() + "/.local/share";
            prefix = data + "/glimmerpane";
        }
    }
    if (prefix[0] != '/') {
        char cwd[4096];
        if (getcwd(cwd, sizeof cwd) != nullptr) prefix = std::string(cwd) + "/" + prefix;
    }
    if (prefix.back() != '/') prefix += '/';
    return prefix;
}

}  // namespace

std::wstring PrefixFolder() { return glimmerpane::base::WideFromUtf8(PrefixUtf8()); }

std::wstring PrefixPath(const std::wstring& relative) {
    std::wstring path = PrefixFolder();
    size_t start = 0;
    while (start < relative.size() && (relative[start] == L'/' || relative[start] == L'\\')) ++start;
    for (size_t i = start; i < relative.size(); ++i) path += relative[i] == L'\\' ? L'/' : relative[i];
    return path;
}

wchar_t PathSeparator() { return L'/'; }

}  // namespace glimmerpane::platform
