// FileSystem.h - the few file-system questions the path search asks.
//
// kPathSeparator joins a folder and a file name: "\" on Windows, "/" on POSIX. Registry key
// paths do not use it; they always use "\".
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>

namespace glimmerpane::platform {

#ifdef _WIN32
inline constexpr wchar_t kPathSeparator = L'\\';
#else
inline constexpr wchar_t kPathSeparator = L'/';
#endif

// True when path is not empty, its attributes can be read (links followed) and it is not a
// directory. Windows: GetFileAttributesW. POSIX: stat.
bool IsExistingFile(const std::wstring& path);

// Creates path as a new file for writing and opens it; fails when anything (a file, a folder,
// a symbolic link, dangling or not) is already there, so a link planted at the name is
// never followed. nullptr with *error (a Win32 code; kErrorFileExists when taken) otherwise.
// POSIX: open with O_CREAT | O_EXCL | O_NOFOLLOW, mode 0644 before the umask. Windows:
// CreateFileW with CREATE_NEW.
FILE* CreateNewFile(const std::wstring& path, uint32_t* error);

}  // namespace glimmerpane::platform
