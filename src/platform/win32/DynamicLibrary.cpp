// DynamicLibrary.cpp (Windows side) - shared libraries through LoadLibraryExW.
#include "platform/DynamicLibrary.h"

#include <windows.h>

#include "base/Utf.h"
#include "platform/TrustCheck.h"

namespace glimmerpane::platform {

LibraryHandle LoadSharedLibrary(const std::wstring& path, uint32_t* error) {
    HMODULE library = LoadLibraryExW(path.c_str(), nullptr, LOAD_WITH_ALTERED_SEARCH_PATH);
    if (library == nullptr && error) *error = GetLastError();
    return library;
}

LibraryHandle LoadTrustedLibrary(const std::wstring& path, uint32_t* error) {
    std::wstring verified;
    if (const uint32_t code = VerifyTrustedFile(path, &verified); code != kTrustOk) {
        if (error) *error = code;
        return nullptr;
    }
    return LoadSharedLibrary(verified, error);
}

LibraryHandle FindLoadedLibrary(const std::wstring& fileName, uint32_t* error) {
    HMODULE library = nullptr;
    // Flags 0: the handle carries a reference of its own, released by FreeLibrary.
    if (!GetModuleHandleExW(0, fileName.c_str(), &library)) {
        if (error) *error = GetLastError();
        return nullptr;
    }
    return library;
}

void* FindSymbol(LibraryHandle library, const char* name, uint32_t* error) {
    FARPROC symbol = GetProcAddress(static_cast<HMODULE>(library), name);
    if (symbol == nullptr && error) *error = GetLastError();
    return reinterpret_cast<void*>(symbol);
}

bool UnloadSharedLibrary(LibraryHandle library) { return FreeLibrary(static_cast<HMODULE>(library)) != 0; }

std::wstring LastLoaderError() { return std::wstring(); }

std::wstring LibraryFileName(const std::wstring& baseName) { return baseName + kLibrarySuffix; }

std::wstring ExecutableFolder() {
    std::wstring path = ExecutablePath();
    path.erase(path.find_last_of(L'\\') + 1);
    return path;
}

std::wstring ExecutablePath(size_t maxChars) {
    // A cut path fills the buffer exactly; grow it up to the long-path limit.
    std::wstring buffer(MAX_PATH + 1, L'\0');
    for (;;) {
        const DWORD length = GetModuleFileNameW(nullptr, buffer.data(), static_cast<DWORD>(buffer.size()));
        if (length == 0) return std::wstring();
        if (length < buffer.size()) {
            buffer.resize(length);
            break;
        }
        if (buffer.size() > kLongPathLimit) return std::wstring();
        buffer.assign(buffer.size() * 4, L'\0');
    }
    if (buffer.size() > maxChars) return std::wstring();
    return buffer;
}

uint32_t ThreadLastError() { return GetLastError(); }

void SetThreadLastError(uint32_t error) { SetLastError(error); }

}  // namespace glimmerpane::platform
