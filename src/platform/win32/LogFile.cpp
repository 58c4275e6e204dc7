// LogFile.cpp (Windows side) - log file sizes and appends through CreateFileW, folder trees
// and the paths of loaded images.
#include "platform/LogFile.h"

#include <windows.h>

#include <algorithm>

#include "platform/StringResources.h"

namespace glimmerpane::platform {

uint32_t LogFileSize(const std::wstring& path, uint64_t* size) {
    WIN32_FILE_ATTRIBUTE_DATA data{};
    if (!GetFileAttributesExW(path.c_str(), GetFileExInfoStandard, &data)) return GetLastError();
    if (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) return ERROR_ACCESS_DENIED;
    if (size) *size = (static_cast<uint64_t>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
    return 0;
}

uint32_t AppendLogFile(const std::wstring& path, bool truncate, const std::string& prefixWhenEmpty,
                       const std::string& data) {
    // FILE_APPEND_DATA without FILE_WRITE_DATA: every write goes to the end of the file.
    const HANDLE file = CreateFileW(path.c_str(), FILE_APPEND_DATA | (truncate ? GENERIC_WRITE : 0),
                                    FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                    truncate ? CREATE_ALWAYS : OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return GetLastError();
    std::string bytes;
    LARGE_INTEGER size{};
    if (GetFileSizeEx(file, &size) && size.QuadPart == 0) bytes = prefixWhenEmpty;
    bytes += data;
    uint32_t status = 0;
    size_t done = 0;
    while (done < bytes.size()) {
        const DWORD chunk = static_cast<DWORD>(std::min<size_t>(bytes.size() - done, 1u << 30));
        DWORD written = 0;
        if (!WriteFile(file, bytes.data() + done, chunk, &written, nullptr)) {
            status = GetLastError();
            break;
        }
        done += written;
    }
    CloseHandle(file);
    return status;
}

uint32_t CreateFolderTree(const std::wstring& path) {
    if (path.empty()) return ERROR_INVALID_PARAMETER;
    const DWORD attributes = GetFileAttributesW(path.c_str());
    if (attributes != INVALID_FILE_ATTRIBUTES)
        return (attributes & FILE_ATTRIBUTE_DIRECTORY) ? 0 : static_cast<uint32_t>(ERROR_ALREADY_EXISTS);
    const size_t cut = path.find_last_of(L"\\/");
    // Stop at the root ("C:\", "\\server\share"), which CreateDirectoryW cannot make.
    if (cut != std::wstring::npos && cut > 0 && path[cut - 1] != L':' && path[cut - 1] != L'\\') {
        if (const uint32_t status = CreateFolderTree(path.substr(0, cut)); status != 0) return status;
    }
    if (CreateDirectoryW(path.c_str(), nullptr) || GetLastError() == ERROR_ALREADY_EXISTS) return 0;
    return GetLastError();
}

std::wstring ProcessImagePath() { return LoadedModulePath(nullptr); }

std::wstring LoadedModulePath(void* module) {
    std::wstring buffer(MAX_PATH, L'\0');
    for (;;) {
        const DWORD n = GetModuleFileNameW(static_cast<HMODULE>(module), buffer.data(), static_cast<DWORD>(buffer.size()));
        if (n == 0) return std::wstring();
        if (n < buffer.size()) {
            buffer.resize(n);
            return buffer;
        }
        if (buffer.size() >= 32768) return std::wstring();
        buffer.resize(buffer.size() * 2);
    }
}

void* ModuleOfAddress(const void* address) { return ModuleContainingAddress(address); }

}  // namespace glimmerpane::platform
