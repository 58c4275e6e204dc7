// FileSystem.cpp (POSIX side) - file tests through stat.
#include "platform/FileSystem.h"

#include <sys/stat.h>

#include "utility/StringConvert.h"

namespace glimmerpane::platform {

bool IsExistingFile(const std::wstring& path) {
    if (path.empty()) return false;
    struct stat info {};
    if (::stat(Kestrix::Utf8FromWide(path).c_str(), &info) != 0) return false;
    return !S_ISDIR(info.st_mode);
}

}  // namespace glimmerpane::platform
