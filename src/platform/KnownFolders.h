// KnownFolders.h - the ProgramData known folder (FOLDERID_ProgramData, CSIDL_COMMON_APPDATA).
//
// Windows: SHGetKnownFolderPath. POSIX: <prefix>/ProgramData (see Prefix.h). The folder is
// returned without a trailing separator; with create set it is made when missing.
// Returns 0, or a Win32 code (the folder could not be made or named).
#pragma once

#include <cstdint>
#include <string>

namespace glimmerpane::platform {

uint32_t ProgramDataFolder(std::wstring* folder, bool create);

}  // namespace glimmerpane::platform
