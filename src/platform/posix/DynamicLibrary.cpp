// DynamicLibrary.cpp (POSIX side) - shared libraries through dlopen.
#include "platform/DynamicLibrary.h"

#include <dlfcn.h>
#include <unistd.h>

#include <climits>

#include "base/Utf.h"

namespace glimmerpane::platform {

namespace {
thread_local std::wstring t_lastError;
thread_local uint32_t t_lastErrorCode = 0;
constexpr uint32_t kModNotFound = 126;
constexpr uint32_t kProcNotFound = 127;
}  // namespace

LibraryHandle LoadSharedLibrary(const std::wstring& path, uint32_t* error) {
    void* library = dlopen(glimmerpane::base::Utf8FromWide(path).c_str(), RTLD_NOW | RTLD_LOCAL);
    if (library == nullptr) {
        const char* text = dlerror();
        t_lastError = text ? glimmerpane::base::WideFromUtf8(text) : L"";
        if (error) *error = kModNotFound;
    }
    return library;
}

void* FindSymbol(LibraryHandle library, const char* name, uint32_t* error) {
    dlerror();
    void* symbol = library ? dlsym(library, name) : nullptr;
    if (symbol == nullptr) {
        const char* text = dlerror();
        t_lastError = text ? glimmerpane::base::WideFromUtf8(text) : L"";
        if (error) *error = kProcNotFound;
    }
    return symbol;
}

bool UnloadSharedLibrary(LibraryHandle library) { return library != nullptr && dlclose(library) == 0; }

std::wstring LastLoaderError() { return t_lastError; }

std::wstring LibraryFileName(const std::wstring& baseName) { return baseName + kLibrarySuffix; }

std::wstring ExecutableFolder() {
    char buffer[PATH_MAX];
    const ssize_t length = readlink("/proc/self/exe", buffer, sizeof(buffer) - 1);
    if (length <= 0) return L"./";
    std::string path(buffer, static_cast<size_t>(length));
    path.erase(path.find_last_of('/') + 1);
    return glimmerpane::base::WideFromUtf8(path);
}

std::wstring ExecutablePath(size_t maxChars) {
    char buffer[PATH_MAX];
    const ssize_t length = readlink("/proc/self/exe", buffer, sizeof(buffer) - 1);
    if (length <= 0) return std::wstring();
    std::wstring path = glimmerpane::base::WideFromUtf8(std::string(buffer, static_cast<size_t>(length)));
    if (path.size() > maxChars) return std::wstring();
    return path;
}

uint32_t ThreadLastError() { return t_lastErrorCode; }

void SetThreadLastError(uint32_t error) { t_lastErrorCode = error; }

}  // namespace glimmerpane::platform
