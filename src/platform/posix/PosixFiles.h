// posix/PosixFiles.h - POSIX side: the one translation of errno into Win32 codes, and the
// folder-tree creation that the file-based stand-ins share.
//
// Private to src/platform/posix: portable code sees only the Win32 codes.
#pragma once

#include <cstdint>
#include <string>

namespace glimmerpane::platform::posix {

// ENOENT 2, ENOTDIR 3, EACCES/EPERM/EROFS 5, EBADF 6, ENOMEM 8, ENOSPC 112, EEXIST 183,
// ENAMETOOLONG 206, EINVAL 87; anything else 1627 (ERROR_FUNCTION_FAILED).
uint32_t Win32FromErrno(int error);

// mkdir -p with mode 0755: 0 when path is a folder afterwards, 87 for an empty path, 3 when
// an existing component is not a folder, else the translated errno.
uint32_t MakeFolderTree(const std::string& path);

}  // namespace glimmerpane::platform::posix
