// FileSystem.h - the few file-system questions the path search asks.
//
// kPathSeparator joins a folder and a file name: "\" on Windows, "/" on POSIX. Registry key
// paths do not use it; they always use "\".
#pragma once

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

}  // namespace glimmerpane::platform
