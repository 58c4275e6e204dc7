// KnownFolders.cpp (Windows side) - SHGetKnownFolderPath; the ProgramData folder.
#include "platform/KnownFolders.h"
#include "platform/LogFile.h"

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
    const bool found = SUCCEEDED(result) && text != nullptr && text[0] != L'\0';
    if (found) path = text;
    CoTaskMemFree(text);
    if (found) return 0;
    // An HRESULT that wraps a Win32 code gives that code; any other failure (E_FAIL for a
    // folder the system does not have, E_INVALIDARG for an unknown id) means "not found".
    if (FAILED(result) && HRESULT_FACILITY(result) == FACILITY_WIN32 && HRESULT_CODE(result) != 0)
        return static_cast<uint32_t>(HRESULT_CODE(result));
    return ERROR_FILE_NOT_FOUND;
}

uint32_t ProgramDataFolder(std::wstring* folder, bool create) {
    if (folder == nullptr) return ERROR_INVALID_PARAMETER;
    std::wstring path;
    if (const uint32_t status = KnownFolderPath(KnownFolder::ProgramData, path); status != 0) return status;
    if (create) {
        if (const uint32_t status = CreateFolderTree(path); status != 0) return status;
    }
    *folder = std::move(path);
    return 0;
}

}  // namespace glimmerpane::platform
