// DynamicLibrary.cpp (Windows side) - shared libraries through LoadLibraryExW.
#include "platform/DynamicLibrary.h"

#include <windows.h>

#include "utility/StringConvert.h"

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

std::wstring LibraryFileName(const std::wstring& baseName) { return baseName + L".dll"; }

std::wstring ExecutableFolder() {
    wchar_t buffer[MAX_PATH];
    const DWORD length = GetModuleFileNameW(nullptr, buffer, MAX_PATH);
    std::wstring path(buffer, length);
    path.erase(path.find_last_of(L'\\') + 1);
    return path;
}

}  // namespace glimmerpane::platform
