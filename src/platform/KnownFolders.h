// KnownFolders.h - the shell's known folders (SHGetKnownFolderPath).
//
// Windows: SHGetKnownFolderPath with the standard FOLDERID of each entry. POSIX has no
// folders of that shape, so the system-wide ones lie under the prefix (Prefix.h), and the
// per-user ones are the user's own folders:
//
//   ProgramData                   <prefix>/ProgramData
//   ProgramFiles, ProgramFilesX64 <prefix>/ProgramFiles
//   ProgramFilesX86               <prefix>/ProgramFilesX86
//   ProgramFilesCommon(X64)       <prefix>/ProgramFiles/Common
//   ProgramFilesCommonX86         <prefix>/ProgramFilesX86/Common
//   Profile                       $HOME (else the password database)
//   Desktop, Documents            <Profile>/Desktop, <Profile>/Documents
//   LocalAppData                  ${XDG_DATA_HOME:-<Profile>/.local/share}
//   LocalAppDataLow               ${XDG_STATE_HOME:-<Profile>/.local/state}
//   RoamingAppData                ${XDG_CONFIG_HOME:-<Profile>/.config}
//   System                        none (POSIX has no folder of system DLLs): 2
//
// Paths come without a trailing separator, as SHGetKnownFolderPath gives them; nothing is
// created and the folder need not exist. Relative XDG values are ignored, as the XDG rules
// say. Results are Win32 codes (0, 2 unknown folder). The environment is read at each call.
#pragma once

#include <cstdint>
#include <string>

namespace glimmerpane::platform {

enum class KnownFolder {
    Profile,
    Desktop,
    Documents,
    LocalAppDataLow,
    LocalAppData,
    RoamingAppData,
    ProgramData,
    ProgramFiles,
    ProgramFilesX64,
    ProgramFilesX86,
    ProgramFilesCommon,
    ProgramFilesCommonX64,
    ProgramFilesCommonX86,
    System,
};

uint32_t KnownFolderPath(KnownFolder folder, std::wstring& path);

// The ProgramData folder for the logging back end; with create set it is made when
// missing. 0, or the Win32 code of the failure.
uint32_t ProgramDataFolder(std::wstring* folder, bool create);

}  // namespace glimmerpane::platform
