// FreshName.h - files and folders under names nobody has taken yet.
//
// The command makes its temporary folders (a demo's prefix, the log files of a trace) and
// its temporary files (a preview written beside its target, the C source of `rc`) under
// random names, each created exclusively: an existing file, folder or link of that name is
// never reused, written through or followed.
#pragma once

#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <functional>
#include <string>

namespace glimmerpane::cli {

// Tries "<before><8 hex digits><after>" until create(name) returns 0, or returns something
// else than "taken" (kErrorFileExists, kErrorAlreadyExists); at most 100 names. Returns the
// last code of create; *name is the last name tried.
uint32_t CreateUnderFreshName(const std::string& before, const std::string& after,
                              const std::function<uint32_t(const std::string& name)>& create, std::string* name);

// A new folder "<stem>-<hex>" in the temporary folder. False with *error the reason.
bool CreateFreshTempFolder(const std::string& stem, std::filesystem::path* folder, std::string* error);

// A new file "<before><hex><after>", opened for writing in binary; null with *code the
// Win32 code of the failure (platform::CreateNewFile).
FILE* CreateFreshFile(const std::string& before, const std::string& after, std::string* path, uint32_t* code);

// The system's words for a Win32 code of a file operation ("Permission denied").
std::string FileErrorReason(uint32_t win32);

}  // namespace glimmerpane::cli
