// StringResources.cpp (Windows side) - the Windows functions themselves.
#include "platform/StringResources.h"

#include <windows.h>
#include <shlwapi.h>

#include <algorithm>
#include <vector>

#include "platform/TrustCheck.h"

namespace glimmerpane::platform {

uint32_t LastErrorCode() { return GetLastError(); }
void SetLastErrorCode(uint32_t code) { SetLastError(code); }

ModuleHandle LoadResourceLibrary(const std::wstring& path) {
    std::wstring verified;
    if (uint32_t code = VerifyTrustedFile(path, &verified); code != kTrustOk) {
        // A missing file is what LoadLibraryW reports as 126; a refusal keeps the verifier's code.
        if (code == kErrorFileNotFound || code == kErrorPathNotFound) code = kErrorModNotFound;
        SetLastError(code);
        return nullptr;
    }
    return LoadLibraryW(verified.c_str());
}

int LoadResourceString(ModuleHandle module, uint32_t id, wchar_t* buffer, int bufferMax) {
    return LoadStringW(static_cast<HMODULE>(module), id, buffer, bufferMax);
}

bool FreeResourceLibrary(ModuleHandle module) { return FreeLibrary(static_cast<HMODULE>(module)) != 0; }

namespace {
BOOL CALLBACK AddLanguage(HMODULE, LPCWSTR, LPCWSTR, WORD language, LONG_PTR param) {
    auto* languages = reinterpret_cast<std::vector<uint16_t>*>(param);
    if (std::find(languages->begin(), languages->end(), language) == languages->end()) languages->push_back(language);
    return TRUE;
}
BOOL CALLBACK AddLanguagesOfBundle(HMODULE module, LPCWSTR type, LPWSTR name, LONG_PTR param) {
    EnumResourceLanguagesW(module, type, name, AddLanguage, param);
    return TRUE;
}
}  // namespace

std::vector<uint16_t> ResourceLanguages(ModuleHandle module) {
    std::vector<uint16_t> languages;
    EnumResourceNamesW(static_cast<HMODULE>(module), RT_STRING, AddLanguagesOfBundle,
                       reinterpret_cast<LONG_PTR>(&languages));
    return languages;
}

ModuleHandle FindLoadedModule(const std::wstring& fileName) { return GetModuleHandleW(fileName.c_str()); }

ModuleHandle ModuleContainingAddress(const void* address) {
    HMODULE module = nullptr;
    GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                       static_cast<LPCWSTR>(address), &module);
    return module;
}

uint32_t LoadedModuleFileName(ModuleHandle module, wchar_t* buffer, uint32_t size) {
    return GetModuleFileNameW(static_cast<HMODULE>(module), buffer, size);
}

bool PathExists(const std::wstring& path) { return PathFileExistsW(path.c_str()) != FALSE; }

bool CloseOsHandle(void* handle) { return CloseHandle(handle) != FALSE; }

}  // namespace glimmerpane::platform
