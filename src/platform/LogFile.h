// LogFile.h - the file operations of the rolling log files.
//
// Each write is one append of the whole buffer: POSIX opens with O_APPEND and writes in one
// call (looping only on a short write), so lines of writers that do not hold the named
// mutex still do not interleave inside a line. Windows: CreateFileW shared for reading and
// writing with FILE_APPEND_DATA. Statuses are Win32 codes (errno mapped).
#pragma once

#include <cstdint>
#include <string>

namespace glimmerpane::platform {

// 0 and *size, or 2 when the file does not exist (another code on other failures).
uint32_t LogFileSize(const std::wstring& path, uint64_t* size);

// Creates (truncate = true: anew, emptying an old file) or opens the file and appends the
// bytes. created tells whether the file was empty before the write (so the caller can put
// a byte order mark first); pass prefix bytes to write before data when it was.
uint32_t AppendLogFile(const std::wstring& path, bool truncate, const std::string& prefixWhenEmpty,
                       const std::string& data);

// Creates the folder and all its missing parents. 0 when it exists afterwards.
uint32_t CreateFolderTree(const std::wstring& path);

// The running program's full path (GetModuleFileNameW(NULL)).
std::wstring ProcessImagePath();

// A loaded module's full path (null: the program); empty when unknown.
std::wstring LoadedModulePath(void* module);

// The module that holds an address (GetModuleHandleExW FROM_ADDRESS), or null.
void* ModuleOfAddress(const void* address);

}  // namespace glimmerpane::platform
