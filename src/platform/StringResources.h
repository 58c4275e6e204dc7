// StringResources.h - resource libraries, string resources and loaded-module lookup.
//
// The contract of each call is that of the Windows function named beside it, on both
// platforms, including the thread's last error (LastErrorCode). Windows: the functions
// themselves. POSIX: a resource library is a shared library exporting the string table of
// include/glimmerpane/resource_table.h (built by `glimmerpane rc`); the string of the user's
// UI language is chosen per call (LANGUAGE, LC_ALL, LC_MESSAGES, LANG; see LanguageIds.h),
// and a string missing from that language loads as length 0, as on Windows.
//
// Module handles are opaque: on POSIX a dlopen handle, on Windows an HMODULE.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "base/Win32Error.h"

namespace glimmerpane::platform {

using ModuleHandle = void*;

// Win32 error codes these calls report.
using base::kErrorSuccess;
using base::kErrorFileNotFound;
using base::kErrorPathNotFound;
using base::kErrorInvalidHandle;
using base::kErrorInvalidParameter;
using base::kErrorInsufficientBuffer;
using base::kErrorModNotFound;
using base::kErrorBadExeFormat;
using base::kErrorResourceDataNotFound;
using base::kErrorResourceTypeNotFound;
using base::kErrorResourceNameNotFound;

// GetLastError / SetLastError of the calls below (per thread).
uint32_t LastErrorCode();
void SetLastErrorCode(uint32_t code);

// LoadLibraryW: null on failure.
ModuleHandle LoadResourceLibrary(const std::wstring& path);

// LoadStringW. bufferMax > 0: copies at most bufferMax - 1 characters and a NUL, returns the
// number copied. bufferMax == 0: buffer is really a const wchar_t** and receives a read-only
// pointer into the loaded library (not NUL-terminated by contract); returns the length.
// 0 when the string is missing or empty. A null module means the main program.
int LoadResourceString(ModuleHandle module, uint32_t id, wchar_t* buffer, int bufferMax);

// FreeLibrary: false on failure.
bool FreeResourceLibrary(ModuleHandle module);

// The languages that hold string tables in the library, in its own order; empty when none
// or the module is not a resource library. Windows: EnumResourceLanguagesW over RT_STRING.
std::vector<uint16_t> ResourceLanguages(ModuleHandle module);

// GetModuleHandleW: the already loaded module whose file name matches (letter case ignored,
// as on Windows); the main program matches the name of its executable. No reference is
// added. Null with kErrorModNotFound when none matches.
ModuleHandle FindLoadedModule(const std::wstring& fileName);

// GetModuleHandleExW(FROM_ADDRESS | UNCHANGED_REFCOUNT): the module holding address.
ModuleHandle ModuleContainingAddress(const void* address);

// GetModuleFileNameW: the module's full path (null: the executable). Returns the number of
// characters written without the NUL; when the path does not fit, writes size - 1
// characters and a NUL, returns size and sets kErrorInsufficientBuffer. 0 on failure.
uint32_t LoadedModuleFileName(ModuleHandle module, wchar_t* buffer, uint32_t size);

// PathFileExistsW: true for an existing file or folder.
bool PathExists(const std::wstring& path);

// CloseHandle. POSIX has no kernel handle objects here: a handle is a file descriptor
// stored as its value plus one (so that 0 stays "no handle").
bool CloseOsHandle(void* handle);

}  // namespace glimmerpane::platform
