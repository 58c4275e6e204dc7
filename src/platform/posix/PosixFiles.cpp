// posix/PosixFiles.cpp - POSIX side: errno as Win32 codes, folder trees.
#include "platform/posix/PosixFiles.h"

#include <sys/stat.h>

#include <cerrno>

#include "base/Win32Error.h"

namespace glimmerpane::platform::posix {

uint32_t Win32FromErrno(int error) {
    switch (error) {
        case 0: return base::kErrorSuccess;
        case ENOENT: return base::kErrorFileNotFound;
        case ENOTDIR: return base::kErrorPathNotFound;
        case EACCES:
        case EPERM:
        case EROFS: return base::kErrorAccessDenied;
        case EBADF: return base::kErrorInvalidHandle;
        case ENOMEM: return base::kErrorNotEnoughMemory;
        case EINVAL: return base::kErrorInvalidParameter;
        case ENOSPC: return base::kErrorDiskFull;
        case EEXIST: return base::kErrorAlreadyExists;
        case ENAMETOOLONG: return base::kErrorNameTooLong;
        default: return base::kErrorFunctionFailed;
    }
}

uint32_t MakeFolderTree(const std::string& path) {
    if (path.empty()) return base::kErrorInvalidParameter;
    for (size_t i = 1; i <= path.size(); ++i) {
        if (i < path.size() && path[i] != '/') continue;
        const std::string partial = path.substr(0, i);
        if (::mkdir(partial.c_str(), 0755) != 0 && errno != EEXIST) return Win32FromErrno(errno);
    }
    struct stat info {};
    if (::stat(path.c_str(), &info) != 0) return Win32FromErrno(errno);
    return S_ISDIR(info.st_mode) ? base::kErrorSuccess : base::kErrorPathNotFound;
}

}  // namespace glimmerpane::platform::posix
