// DynamicLibrary.h - loading shared libraries and resolving their symbols.
//
// POSIX: dlopen/dlsym/dlclose. Windows: LoadLibraryExW/GetProcAddress/FreeLibrary.
// Errors are Win32 codes on both sides (126 ERROR_MOD_NOT_FOUND, 127 ERROR_PROC_NOT_FOUND);
// LastLoaderError() gives the loader's own text for messages.
#pragma once

#include <cstdint>
#include <string>

namespace glimmerpane::platform {

using LibraryHandle = void*;

// Loads the library at path (a full path or a bare name to search). Null on failure,
// with *error set to a Win32 code.
LibraryHandle LoadSharedLibrary(const std::wstring& path, uint32_t* error);
void* FindSymbol(LibraryHandle library, const char* name, uint32_t* error);
bool UnloadSharedLibrary(LibraryHandle library);

// LoadSharedLibrary of a file that passes VerifyTrustedFile (TrustCheck.h), loading the path
// that was examined. Null on failure with *error the verifier's code or the loader's.
LibraryHandle LoadTrustedLibrary(const std::wstring& path, uint32_t* error);

// A library already loaded under the bare file name, with a reference of its own for
// UnloadSharedLibrary; nothing is mapped anew. Null with 126 when none is loaded.
LibraryHandle FindLoadedLibrary(const std::wstring& fileName, uint32_t* error);

// The loader's description of the last failure on this thread (may be empty).
std::wstring LastLoaderError();

// The one suffix of library files (".so" on POSIX, ".dll" on Windows), from the build.
#ifdef GP_LIBRARY_SUFFIX
inline constexpr const wchar_t* kLibrarySuffix = L"" GP_LIBRARY_SUFFIX;
#elif defined(_WIN32)
inline constexpr const wchar_t* kLibrarySuffix = L".dll";
#else
inline constexpr const wchar_t* kLibrarySuffix = L".so";
#endif

// The platform's file name of a library given its base name ("Glimmerpane" ->
// "Glimmerpane.so" or "Glimmerpane.dll").
std::wstring LibraryFileName(const std::wstring& baseName);

// The folder of the running executable, with a trailing separator.
std::wstring ExecutableFolder();

// Windows' long-path limit in characters; POSIX paths too may well exceed 260.
inline constexpr size_t kLongPathLimit = 32767;

// The full path of the running executable (GetModuleFileNameW(nullptr) on Windows,
// /proc/self/exe on POSIX), read into a growing buffer; empty when it cannot be had or is
// longer than maxChars.
std::wstring ExecutablePath(size_t maxChars = kLongPathLimit);

// The thread's last-error value (GetLastError/SetLastError on Windows; a per-thread value
// on POSIX that only this program sets).
uint32_t ThreadLastError();
void SetThreadLastError(uint32_t error);

}  // namespace glimmerpane::platform
