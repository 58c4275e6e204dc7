// OSVersion.h - the running system's version, file version resources and 32-bit emulation.
//
// Windows: VerifyVersionInfoW, GetFileVersionInfoSizeW/GetFileVersionInfoW/VerQueryValueW,
// IsWow64Process and the system folder. POSIX stand-ins:
// - VerifyOSVersion compares against what Linux is: major.minor of the kernel release
//   (uname), service pack 0, and the platform id kPlatformIdPosix, which is neither of
//   Windows' ids (1 the old family, 2 NT), so Windows classification reports "unknown".
// - The version resource of a file is the ELF package-metadata note (".note.package",
//   owner "FDO", type 0xcafe1a7e, JSON) that `ld --package-metadata` writes. Its "version"
//   answers "FileVersion" and "ProductVersion" under the one translation 0409/04B0.
// - IsWow64 is true for a 32-bit process on a 64-bit kernel.
// - SystemFolder is empty: POSIX has no folder of system libraries with version resources.
#pragma once

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

namespace glimmerpane::platform {

// The fields of OSVERSIONINFOEXW that version tests use.
struct OSVersionRecord {
    uint32_t majorVersion = 0;
    uint32_t minorVersion = 0;
    uint32_t buildNumber = 0;
    uint32_t platformId = 0;
    uint16_t servicePackMajor = 0;
    uint16_t servicePackMinor = 0;
};

inline constexpr uint32_t kPlatformIdPosix = 0x10000;

// VerifyVersionInfoW over the running system: true when every field named in typeMask
// compares as conditionMask says. Masks use the Windows bit values (see WinOSVersionAPI.h).
bool VerifyOSVersion(const OSVersionRecord& record, uint32_t typeMask, uint64_t conditionMask);

bool IsWow64();

// Size of the file's version resource; 0 when it has none or cannot be read.
uint32_t FileVersionInfoSize(const std::wstring& path);
// Reads the version resource; false when it has none.
bool ReadFileVersionInfo(const std::wstring& path, std::vector<uint8_t>& block);
// "\VarFileInfo\Translation": pairs of language and code page.
bool QueryVersionTranslations(const std::vector<uint8_t>& block, std::vector<std::pair<uint16_t, uint16_t>>& out);
// A string such as "\StringFileInfo\040904B0\FileVersion".
bool QueryVersionString(const std::vector<uint8_t>& block, const std::wstring& subBlock, std::wstring& value);

// The system folder (FOLDERID_System) without trailing separator; false when unknown.
bool SystemFolder(std::wstring& folder);

}  // namespace glimmerpane::platform
