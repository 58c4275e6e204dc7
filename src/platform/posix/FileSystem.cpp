// FileSystem.cpp (POSIX side) - file tests through stat.
#include "platform/FileSystem.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include "platform/posix/PosixFiles.h"

#include "base/Utf.h"
#include "base/Win32Error.h"

namespace glimmerpane::platform {

bool IsExistingFile(const std::wstring& path) {
    if (path.empty()) return false;
    struct stat info {};
    if (::stat(glimmerpane::base::Utf8FromWide(path).c_str(), &info) != 0) return false;
    return !S_ISDIR(info.st_mode);
}

FILE* CreateNewFile(const std::wstring& path, uint32_t* error) {
    const int fd = ::open(glimmerpane::base::Utf8FromWide(path).c_str(),
                          O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0644);
    if (fd < 0) {
        *error = errno == EEXIST ? base::kErrorFileExists : posix::Win32FromErrno(errno);
        return nullptr;
    }
    FILE* file = ::fdopen(fd, "wb");
    if (file == nullptr) {
        *error = posix::Win32FromErrno(errno);
        ::close(fd);
    }
    return file;
}

}  // namespace glimmerpane::platform
