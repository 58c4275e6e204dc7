// KnownFolders.cpp (Windows side) - SHGetKnownFolderPath.
#include "platform/KnownFolders.h"

#include <windows.h>
#include <knownfolders.h>
#include <shlobj.h>

namespace glimmerpane::platform {

namespace {
const KNOWNFOLDERID& IdOf(KnownFolder folder) {
    switch (folder) {
        case KnownFolder::Profile: return FOLDERID_Profile;
        case KnownFolder::Desktop: return FOLDERID_Desktop;
        case KnownFolder::Documents: return FOLDERID_Documents;
        case KnownFolder::LocalAppDataLow: return FOLDERID_LocalAppDataLow;
        case KnownFolder::LocalAppData: return FOLDERID_LocalAppData;
        case KnownFolder::RoamingAppData: return FOLDERID_RoamingAppData;
        case KnownFolder::ProgramData: return FOLDERID_ProgramData;
        case KnownFolder::ProgramFiles: return FOLDERID_ProgramFiles;
        case KnownFolder::ProgramFilesX64: return FOLDERID_ProgramFilesX64;
        case KnownFolder::ProgramFilesX86: return FOLDERID_ProgramFilesX86;
        case KnownFolder::ProgramFilesCommon: return FOLDERID_ProgramFilesCommon;
        case KnownFolder::ProgramFilesCommonX64: return FOLDERID_ProgramFilesCommonX64;
        case KnownFolder::ProgramFilesCommonX86: return FOLDERID_ProgramFilesCommonX86;
        case KnownFolder::System: break;
    }
    return FOLDERID_System;
}
}  // namespace

uint32_t KnownFolderPath(KnownFolder folder, std::wstring& path) {
    PWSTR text = nullptr;
    const HRESULT result = SHGetKnownFolderPath(IdOf(folder), 0, nullptr, &text);
    if (SUCCEEDED(result) && text != nullptr) path = text;
    CoTaskMemFree(text);
    return SUCCEEDED(result) ? 0 : static_cast<uint32_t>(HRESULT_CODE(result));
}

}  // namespace glimmerpane::platform
