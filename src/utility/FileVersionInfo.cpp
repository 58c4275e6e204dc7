// FileVersionInfo.cpp - version-resource strings through the FileVersionAPI wrapper.
#include "utility/FileVersionInfo.h"

#include <cwchar>

#include "platform/FileSystem.h"
#include "platform/OSVersion.h"
#include "utility/WinOSVersionAPI.h"
#include "platform/KnownFolders.h"

namespace Kestrix {

namespace platform = glimmerpane::platform;

uint64_t SetConditionMask(uint64_t conditionMask, uint32_t typeBit, uint8_t condition) {
    int index = 0;
    for (uint32_t bit = typeBit; bit > 1; bit >>= 1) ++index;
    const int shift = 3 * index;
    return (conditionMask & ~(uint64_t{7} << shift)) | (uint64_t{condition & 7u} << shift);
}

bool WinOSVersionAPI::VerifyVersion(const OSVersionRecord& record, uint32_t typeMask, uint64_t conditionMask) {
    return platform::VerifyOSVersion(record, typeMask, conditionMask);
}

uint32_t FileVersionAPI::GetFileVersionInfoSize(const std::wstring& path) {
    return platform::FileVersionInfoSize(path);
}

bool FileVersionAPI::GetFileVersionInfo(const std::wstring& path, std::vector<uint8_t>& block) {
    return platform::ReadFileVersionInfo(path, block);
}

bool FileVersionAPI::QueryTranslations(const std::vector<uint8_t>& block, Translations& translations) {
    return platform::QueryVersionTranslations(block, translations);
}

bool FileVersionAPI::QueryString(const std::vector<uint8_t>& block, const std::wstring& subBlock,
                                 std::wstring& value) {
    return platform::QueryVersionString(block, subBlock, value);
}

FileVersionInfo::FileVersionInfo(std::shared_ptr<FileVersionAPI> api)
    : api_(api ? std::move(api) : std::make_shared<FileVersionAPI>()) {}

FileVersionInfo::~FileVersionInfo() = default;

bool FileVersionInfo::Load(const std::wstring& path) {
    if (loaded_) return false;
    if (api_->GetFileVersionInfoSize(path) == 0) return false;
    std::vector<uint8_t> block;
    loaded_ = api_->GetFileVersionInfo(path, block);
    if (loaded_) block_ = std::move(block);
    return loaded_;
}

std::wstring FileVersionInfo::GetString(std::wstring& value, const std::wstring& name) {
    value.clear();
    if (!loaded_) return value;
    FileVersionAPI::Translations translations;
    if (!api_->QueryTranslations(block_, translations)) return value;
    for (const auto& [language, codePage] : translations) {
        wchar_t prefix[32];
        std::swprintf(prefix, sizeof prefix / sizeof prefix[0], L"\\StringFileInfo\\%04X%04X\\",
                      static_cast<unsigned>(language), static_cast<unsigned>(codePage));
        std::wstring found;
        if (api_->QueryString(block_, prefix + name, found)) {
            value = found;
            break;
        }
    }
    return value;
}

namespace {
// The utility layer sits below the shell wrapper, so the default asks the platform directly.
bool PlatformSystemFolder(std::wstring& folder) {
    return platform::KnownFolderPath(platform::KnownFolder::System, folder) == 0;
}
}  // namespace

SystemFileVersionInfo::SystemFileVersionInfo(std::shared_ptr<FileVersionAPI> api, SystemFolderGetter systemFolder)
    : FileVersionInfo(std::move(api)),
      systemFolderGetter_(systemFolder ? std::move(systemFolder) : SystemFolderGetter(&PlatformSystemFolder)) {}

bool SystemFileVersionInfo::Load(const std::wstring& name) {
    if (!folderKnown_) {
        std::wstring folder;
        if (!systemFolderGetter_(folder)) folder.clear();
        systemFolder_ = folder + platform::kPathSeparator;
        folderKnown_ = true;
    }
    return FileVersionInfo::Load(systemFolder_ + name);
}

}  // namespace Kestrix
