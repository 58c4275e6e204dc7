// TrustCheck.cpp (Windows side) - Authenticode verification through WinVerifyTrust, its
// answers mapped to the Win32 codes of TrustCheck.h.
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
    const DWORD attributes = GetFileAttributesW(path.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES) {
        const DWORD error = GetLastError();
        if (error == ERROR_FILENAME_EXCED_RANGE) {
            if (reason) *reason = L"path too long";
            return kTrustNameTooLong;
        }
        if (error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND || error == ERROR_INVALID_NAME) {
            if (reason) *reason = L"cannot find " + path;
            return kTrustFileNotFound;
        }
        if (reason) *reason = L"cannot examine " + path;
        return kTrustAccessDenied;
    }
    if (attributes & FILE_ATTRIBUTE_DIRECTORY) {
        if (reason) *reason = L"not a file";
        return kTrustAccessDenied;
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
        // Every refusal (no signature, an untrusted root, a bad digest, ...) is "not trusted";
        // the verifier's own HRESULT goes into the reason.
        if (reason) {
            wchar_t hex[16];
            wsprintfW(hex, L"0x%08lX", static_cast<unsigned long>(status));
            *reason = std::wstring(status == TRUST_E_NOSIGNATURE ? L"not signed" : L"signature does not verify") +
                      L" (WinVerifyTrust " + hex + L")";
        }
        return kTrustAccessDenied;
    }
    if (verifiedPath) *verifiedPath = path;
    return kTrustOk;
}

bool FileNamesIgnoreCase() { return true; }

}  // namespace glimmerpane::platform
