// ShlObjAPI.cpp - known folders through the platform layer.
#include "wrappers/ShlObjAPI.h"

namespace Vornik {

namespace platform = glimmerpane::platform;

std::optional<platform::KnownFolder> KnownFolderOf(const KNOWNFOLDERID& id) {
    static constexpr struct {
        const KNOWNFOLDERID* id;
        platform::KnownFolder folder;
    } kFolders[] = {
        {&FOLDERID_Profile, platform::KnownFolder::Profile},
        {&FOLDERID_Desktop, platform::KnownFolder::Desktop},
        {&FOLDERID_Documents, platform::KnownFolder::Documents},
        {&FOLDERID_LocalAppDataLow, platform::KnownFolder::LocalAppDataLow},
        {&FOLDERID_LocalAppData, platform::KnownFolder::LocalAppData},
        {&FOLDERID_RoamingAppData, platform::KnownFolder::RoamingAppData},
        {&FOLDERID_ProgramData, platform::KnownFolder::ProgramData},
        {&FOLDERID_ProgramFiles, platform::KnownFolder::ProgramFiles},
        {&FOLDERID_ProgramFilesX64, platform::KnownFolder::ProgramFilesX64},
        {&FOLDERID_ProgramFilesX86, platform::KnownFolder::ProgramFilesX86},
        {&FOLDERID_ProgramFilesCommon, platform::KnownFolder::ProgramFilesCommon},
        {&FOLDERID_ProgramFilesCommonX64, platform::KnownFolder::ProgramFilesCommonX64},
        {&FOLDERID_ProgramFilesCommonX86, platform::KnownFolder::ProgramFilesCommonX86},
        {&FOLDERID_System, platform::KnownFolder::System},
    };
    for (const auto& entry : kFolders) {
        if (*entry.id == id) return entry.folder;
    }
    return std::nullopt;
}

ShlObjAPI::~ShlObjAPI() = default;

uint32_t ShlObjAPI::SHGetKnownFolderPath(const KNOWNFOLDERID& id, uint32_t /*flags*/, void* /*token*/,
                                         std::wstring& path) {
    const auto folder = KnownFolderOf(id);
    if (!folder) return 2;
    return platform::KnownFolderPath(*folder, path);
}

}  // namespace Vornik
