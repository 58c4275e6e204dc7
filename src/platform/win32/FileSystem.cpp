// FileSystem.cpp (Windows side) - file tests through GetFileAttributesW.
#include "platform/FileSystem.h"

#include <windows.h>
#include <fcntl.h>
#include <io.h>

namespace glimmerpane::platform {

bool IsExistingFile(const std::wstring& path) {
    if (path.empty()) return false;
    const DWORD attributes = GetFileAttributesW(path.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) == 0;
}

FILE* CreateNewFile(const std::wstring& path, uint32_t* error) {
    const HANDLE handle = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                                      FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
    if (handle == INVALID_HANDLE_VALUE) {
        *error = GetLastError();
        return nullptr;
    }
    const int fd = _open_osfhandle(reinterpret_cast<intptr_t>(handle), _O_WRONLY | _O_BINARY);
    if (fd < 0) {
        *error = ERROR_INVALID_HANDLE;
        CloseHandle(handle);
        return nullptr;
    }
    FILE* file = _fdopen(fd, "wb");
    if (file == nullptr) {
        *error = ERROR_NOT_ENOUGH_MEMORY;
        _close(fd);
    }
    return file;
}

}  // namespace glimmerpane::platform
