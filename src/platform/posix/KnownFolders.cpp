// KnownFolders.cpp (POSIX side) - known folders under the prefix and in the user's home.
#include "platform/KnownFolders.h"

#include <pwd.h>
#include <unistd.h>

#include <cstdlib>

#include "platform/Prefix.h"
#include "platform/posix/PosixFiles.h"
#include "base/Utf.h"

namespace glimmerpane::platform {

namespace {

std::wstring AbsoluteEnv(const char* name) {
    const char* value = std::getenv(name);
    if (value == nullptr || value[0] != '/') return std::wstring();
    std::wstring text = glimmerpane::base::WideFromUtf8(value);
    while (text.size() > 1 && text.back() == L'/') text.pop_back();
    return text;
}

std::wstring ProfileFolder() {
    std::wstring home = AbsoluteEnv("HOME");
    if (!home.empty()) return home;
    if (const passwd* entry = getpwuid(geteuid()); entry != nullptr && entry->pw_dir != nullptr) {
        return glimmerpane::base::WideFromUtf8(entry->pw_dir);
    }
    return std::wstring();
}

std::wstring UnderPrefix(const wchar_t* relative) { return PrefixPath(relative); }

std::wstring InProfile(const wchar_t* relative) {
    const std::wstring profile = ProfileFolder();
    return profile.empty() ? std::wstring() : profile + L"/" + relative;
}

std::wstring XdgOr(const char* variable, const wchar_t* fallback) {
    std::wstring value = AbsoluteEnv(variable);
    return value.empty() ? InProfile(fallback) : value;
}

}  // namespace

uint32_t KnownFolderPath(KnownFolder folder, std::wstring& path) {
    std::wstring result;
    switch (folder) {
        case KnownFolder::Profile: result = ProfileFolder(); break;
        case KnownFolder::Desktop: result = InProfile(L"Desktop"); break;
        case KnownFolder::Documents: result = InProfile(L"Documents"); break;
        case KnownFolder::LocalAppDataLow: result = XdgOr("XDG_STATE_HOME", L".local/state"); break;
        case KnownFolder::LocalAppData: result = XdgOr("XDG_DATA_HOME", L".local/share"); break;
        case KnownFolder::RoamingAppData: result = XdgOr("XDG_CONFIG_HOME", L".config"); break;
        case KnownFolder::ProgramData: result = UnderPrefix(L"ProgramData"); break;
        case KnownFolder::ProgramFiles:
        case KnownFolder::ProgramFilesX64: result = UnderPrefix(L"ProgramFiles"); break;
        case KnownFolder::ProgramFilesX86: result = UnderPrefix(L"ProgramFilesX86"); break;
        case KnownFolder::ProgramFilesCommon:
        case KnownFolder::ProgramFilesCommonX64: result = UnderPrefix(L"ProgramFiles/Common"); break;
        case KnownFolder::ProgramFilesCommonX86: result = UnderPrefix(L"ProgramFilesX86/Common"); break;
        case KnownFolder::System: break;
    }
    if (result.empty()) return 2;
    path = result;
    return 0;
}

uint32_t ProgramDataFolder(std::wstring* folder, bool create) {
    if (folder == nullptr) return 87;
    std::wstring path;
    if (const uint32_t status = KnownFolderPath(KnownFolder::ProgramData, path); status != 0) return status;
    if (create) {
        if (const uint32_t status = posix::MakeFolderTree(base::Utf8FromWide(path)); status != 0) return status;
    }
    *folder = std::move(path);
    return 0;
}

}  // namespace glimmerpane::platform
