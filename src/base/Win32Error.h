// Win32Error.h - the Win32 error codes the project returns, on every platform.
//
// The utility, platform and logging code answer Win32 codes (ERROR_*), as the Windows
// services they stand in for do; POSIX code translates errno into these once, in the
// platform layer. The last two are the utility library's own codes, not Win32's.
#pragma once

#include <cstdint>

namespace glimmerpane::base {

inline constexpr uint32_t kErrorSuccess = 0;
inline constexpr uint32_t kErrorFileNotFound = 2;          // ERROR_FILE_NOT_FOUND: no such file, key or value
inline constexpr uint32_t kErrorPathNotFound = 3;          // ERROR_PATH_NOT_FOUND
inline constexpr uint32_t kErrorAccessDenied = 5;          // ERROR_ACCESS_DENIED
inline constexpr uint32_t kErrorInvalidHandle = 6;         // ERROR_INVALID_HANDLE
inline constexpr uint32_t kErrorNotEnoughMemory = 8;       // ERROR_NOT_ENOUGH_MEMORY
inline constexpr uint32_t kErrorInvalidData = 13;          // ERROR_INVALID_DATA
inline constexpr uint32_t kErrorOutOfMemory = 14;          // ERROR_OUTOFMEMORY
inline constexpr uint32_t kErrorNotSupported = 50;         // ERROR_NOT_SUPPORTED
inline constexpr uint32_t kErrorFileExists = 80;           // ERROR_FILE_EXISTS
inline constexpr uint32_t kErrorInvalidParameter = 87;     // ERROR_INVALID_PARAMETER
inline constexpr uint32_t kErrorDiskFull = 112;            // ERROR_DISK_FULL
inline constexpr uint32_t kErrorInsufficientBuffer = 122;  // ERROR_INSUFFICIENT_BUFFER
inline constexpr uint32_t kErrorModNotFound = 126;         // ERROR_MOD_NOT_FOUND
inline constexpr uint32_t kErrorBadPathname = 161;         // ERROR_BAD_PATHNAME
inline constexpr uint32_t kErrorAlreadyExists = 183;       // ERROR_ALREADY_EXISTS
inline constexpr uint32_t kErrorBadExeFormat = 193;        // ERROR_BAD_EXE_FORMAT
inline constexpr uint32_t kErrorNameTooLong = 206;         // ERROR_FILENAME_EXCED_RANGE
inline constexpr uint32_t kErrorMoreData = 234;            // ERROR_MORE_DATA
inline constexpr uint32_t kErrorNoMoreItems = 259;         // ERROR_NO_MORE_ITEMS
inline constexpr uint32_t kErrorBadDb = 1009;              // ERROR_BADDB: the store is not a registry store
inline constexpr uint32_t kErrorCantOpen = 1011;           // ERROR_CANTOPEN: the store cannot be opened
inline constexpr uint32_t kErrorCantRead = 1012;           // ERROR_CANTREAD
inline constexpr uint32_t kErrorCantWrite = 1013;          // ERROR_CANTWRITE
inline constexpr uint32_t kErrorRegistryCorrupt = 1015;    // ERROR_REGISTRY_CORRUPT
inline constexpr uint32_t kErrorRegistryIoFailed = 1016;   // ERROR_REGISTRY_IO_FAILED
inline constexpr uint32_t kErrorKeyDeleted = 1018;         // ERROR_KEY_DELETED: the open key was deleted
inline constexpr uint32_t kErrorFunctionFailed = 1627;     // ERROR_FUNCTION_FAILED
inline constexpr uint32_t kErrorResourceDataNotFound = 1812;  // ERROR_RESOURCE_DATA_NOT_FOUND
inline constexpr uint32_t kErrorResourceTypeNotFound = 1813;  // ERROR_RESOURCE_TYPE_NOT_FOUND
inline constexpr uint32_t kErrorResourceNameNotFound = 1814;  // ERROR_RESOURCE_NAME_NOT_FOUND

// The utility library's own codes.
inline constexpr uint32_t kErrorAlreadyInitialized = 20001;
inline constexpr uint32_t kErrorNotInitialized = 20002;

}  // namespace glimmerpane::base
