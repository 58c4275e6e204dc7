// DynamicLibrary.cpp (POSIX side) - shared libraries through dlopen.
#include "platform/DynamicLibrary.h"

#include <dlfcn.h>
#include <unistd.h>

#include <climits>

#include "base/Utf.h"
#include "platform/TrustCheck.h"

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

LibraryHandle LoadTrustedLibrary(const std::wstring& path, uint32_t* error) {
    std::wstring verified;
    std::wstring reason;
    if (const uint32_t code = VerifyTrustedFile(path, &verified, &reason); code != kTrustOk) {
        t_lastError = L"not trusted: " + reason;
        if (error) *error = code;
        return nullptr;
    }
    return LoadSharedLibrary(verified, error);
}

LibraryHandle FindLoadedLibrary(const std::wstring& fileName, uint32_t* error) {
    void* library = dlopen(glimmerpane::base::Utf8FromWide(fileName).c_str(), RTLD_NOW | RTLD_LOCAL | RTLD_NOLOAD);
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
    std::wstring path = ExecutablePath();
    if (path.empty()) return L"./";
    path.erase(path.find_last_of(L'/') + 1);
    return path;
}

std::wstring ExecutablePath(size_t maxChars) {
    // readlink does not say how long the target is: a full buffer may be a cut one.
    std::string buffer(256, '\0');
    for (;;) {
        const ssize_t length = readlink("/proc/self/exe", buffer.data(), buffer.size());
        if (length <= 0) return std::wstring();
        if (static_cast<size_t>(length) < buffer.size()) {
            buffer.resize(static_cast<size_t>(length));
            break;
        }
        // UTF-8 takes at most 4 bytes a character.
        if (buffer.size() > 4 * (kLongPathLimit + 1)) return std::wstring();
        buffer.assign(buffer.size() * 4, '\0');
    }
    std::wstring path = glimmerpane::base::WideFromUtf8(buffer);
    if (path.size() > maxChars) return std::wstring();
    return path;
}

uint32_t ThreadLastError() { return t_lastErrorCode; }

void SetThreadLastError(uint32_t error) { t_lastErrorCode = error; }

}  // namespace glimmerpane::platform
