// DynamicLibrary.cpp (Windows side) - shared libraries through LoadLibraryExW.
#include "platform/DynamicLibrary.h"

#include <windows.h>

#include "base/Utf.h"

namespace glimmerpane::platform {

LibraryHandle LoadSharedLibrary(const std::wstring& path, uint32_t* error) {
    HMODULE library = LoadLibraryExW(path.c_str(), nullptr, LOAD_WITH_ALTERED_SEARCH_PATH);
    if (library == nullptr && error) *error = GetLastError();
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
    wchar_t buffer[MAX_PATH];
    const DWORD length = GetModuleFileNameW(nullptr, buffer, MAX_PATH);
    std::wstring path(buffer, length);
    path.erase(path.find_last_of(L'\\') + 1);
    return path;
}

std::wstring ExecutablePath(size_t maxChars) {
    wchar_t buffer[MAX_PATH + 1];
    const DWORD length = GetModuleFileNameW(nullptr, buffer, MAX_PATH + 1);
    if (length == 0 || length > MAX_PATH || length > maxChars) return std::wstring();
    return std::wstring(buffer, length);
}

uint32_t ThreadLastError() { return GetLastError(); }

void SetThreadLastError(uint32_t error) { SetLastError(error); }

}  // namespace glimmerpane::platform
