// PathHelpers.h - expands path macros such as "$(App.Folder)" in search folders.
//
// A macro is "$(", one or more characters none of which is "$", "(" or ")", then ")". Each
// macro found in the table below is replaced by its current value; one the table does not
// hold (lookup is exact and case-sensitive), or whose value is empty, stays as written. A
// replacement is never scanned again, so expansion always ends. Text that is not a macro
// ("$(" without ")", "$()", the outer part of a nested macro) is copied unchanged.
//
//   $(OS.Platform)            "win32", "x64" or "PlatformUnknown" (Linux: "PlatformUnknown")
//   $(App.Binary)             host image file name with extension
//   $(App.Name)               host image file name without extension
//   $(App.Folder)             host image folder, ending with the platform separator
//   $(App.Path)               host image full path
//   $(Plinthos.InstallDir)    HKLM "SOFTWARE\CORVANE\PLINTHOS" "Install Dir" ("Install Dir32"
//                             for a 32-bit process on a 64-bit system)
//   $(FOLDERID_<name>)        the known folder (ShlObjAPI) for Profile, Desktop, Documents,
//                             LocalAppDataLow, LocalAppData, RoamingAppData, ProgramData,
//                             ProgramFiles, ProgramFilesX64, ProgramFilesX86, ProgramFilesCommon,
//                             ProgramFilesCommonX64, ProgramFilesCommonX86
//
// The host image path parts are computed once per process; every other value is computed
// at each expansion. Expansions may run on any thread.
#pragma once

#include <memory>
#include <string>

#include "tiles/RegistryAPI.h"
#include "utility/OSInfoProxy.h"
#include "wrappers/ShlObjAPI.h"

namespace Vornik {

// The parts of an image path: drive (1), folder with leading and trailing separator (2),
// file name without extension (4) and extension with its dot (8).
struct ImagePathParts {
    std::wstring drive;
    std::wstring folder;
    std::wstring name;
    std::wstring extension;
};

enum ImagePathPart : unsigned { PART_DRIVE = 1, PART_FOLDER = 2, PART_NAME = 4, PART_EXTENSION = 8 };

// Splits a path as _wsplitpath does. windowsRules: "\" and "/" separate and "X:" is a
// drive; otherwise only "/" separates and there is no drive.
ImagePathParts SplitImagePath(const std::wstring& path, bool windowsRules);

// The chosen parts (bit set of ImagePathPart) concatenated in the order 1, 2, 4, 8.
std::wstring JoinImagePathParts(const ImagePathParts& parts, unsigned which);

class PathHelpers {
public:
    using OSInfo = Kestrix::internal::OSInfoProxy<Kestrix::WinOSVersionAPI>;

    // Each collaborator may be null: then the default one is made.
    explicit PathHelpers(std::shared_ptr<ShlObjAPI> shell = nullptr, std::shared_ptr<OSInfo> osInfo = nullptr,
                         std::shared_ptr<RegistryAPI> registry = nullptr);
    virtual ~PathHelpers();

    // Replaces the macros in path in place. Returns true; false is reserved for
    // implementations that can fail (the loader treats it as an unresolvable folder).
    // Allocation failures propagate.
    virtual bool expand(std::wstring& path);

    class _Impl;

private:
    std::shared_ptr<_Impl> impl_;
};

}  // namespace Vornik
