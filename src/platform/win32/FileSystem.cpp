// FileSystem.cpp (Windows side) - file tests through GetFileAttributesW.
#include "platform/FileSystem.h"

#include <windows.h>

namespace glimmerpane::platform {

bool IsExistingFile(const std::wstring& path) {
    if (path.empty()) return false;
    const DWORD attributes = GetFileAttributesW(path.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) == 0;
}

}  // namespace glimmerpane::platform
