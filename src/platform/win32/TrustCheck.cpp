// TrustCheck.cpp (Windows side) - Authenticode verification through WinVerifyTrust.
#include "platform/TrustCheck.h"

#include <windows.h>
#include <softpub.h>
#include <wintrust.h>

namespace glimmerpane::platform {

uint32_t VerifyTrustedFile(const std::wstring& path, std::wstring* verifiedPath, std::wstring* reason) {
    if (path.empty()) {
        if (reason) *reason = L"empty path";
        return kTrustInvalidParameter;
    }
    if (GetFileAttributesW(path.c_str()) == INVALID_FILE_ATTRIBUTES) {
        if (reason) *reason = L"cannot find " + path;
        return GetLastError();
    }
    WINTRUST_FILE_INFO file = {};
    file.cbStruct = sizeof(file);
    file.pcwszFilePath = path.c_str();
    GUID action = WINTRUST_ACTION_GENERIC_VERIFY_V2;
    WINTRUST_DATA data = {};
    data.cbStruct = sizeof(data);
    data.dwUIChoice = WTD_UI_NONE;
    data.fdwRevocationChecks = WTD_REVOKE_NONE;
    data.dwUnionChoice = WTD_CHOICE_FILE;
    data.pFile = &file;
    data.dwStateAction = WTD_STATEACTION_VERIFY;
    const LONG status = WinVerifyTrust(static_cast<HWND>(INVALID_HANDLE_VALUE), &action, &data);
    data.dwStateAction = WTD_STATEACTION_CLOSE;
    WinVerifyTrust(static_cast<HWND>(INVALID_HANDLE_VALUE), &action, &data);
    if (status != ERROR_SUCCESS) {
        if (reason) *reason = L"signature does not verify";
        return static_cast<uint32_t>(status);
    }
    if (verifiedPath) *verifiedPath = path;
    return kTrustOk;
}

bool FileNamesIgnoreCase() { return true; }

}  // namespace glimmerpane::platform
