// FileSystem.cpp (POSIX side) - file tests through stat.
#include "platform/FileSystem.h"

#include <sys/stat.h>

#include "base/Utf.h"

namespace glimmerpane::platform {

bool IsExistingFile(const std::wstring& path) {
    if (path.empty()) return false;
    struct stat info {};
    if (::stat(glimmerpane::base::Utf8FromWide(path).c_str(), &info) != 0) return false;
    return !S_ISDIR(info.st_mode);
}

}  // namespace glimmerpane::platform
