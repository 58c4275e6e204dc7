// PathHelpers.cpp - the path macro table and its getters.
#include "paths/PathHelpers.h"

#include <functional>
#include <mutex>
#include <unordered_map>

#include "platform/DynamicLibrary.h"
#include "platform/FileSystem.h"

namespace Vornik {

namespace platform = glimmerpane::platform;

class PathHelpers::_Impl {
public:
    _Impl(std::shared_ptr<ShlObjAPI> shell, std::shared_ptr<OSInfo> osInfo, std::shared_ptr<RegistryAPI> registry)
        : shell_(shell ? std::move(shell) : std::make_shared<ShlObjAPI>()),
          osInfo_(osInfo ? std::move(osInfo) : std::make_shared<OSInfo>()),
          registry_(registry ? std::move(registry) : std::make_shared<RegistryAPI>()) {}

    std::wstring platformName() const {
        switch (osInfo_->GetPlatform()) {
            case Kestrix::internal::kPlatform32: return L"win32";
            case Kestrix::internal::kPlatform64: return L"x64";
            case Kestrix::internal::kPlatformUnknown: return L"PlatformUnknown";
            default: return std::wstring();
        }
    }

    std::wstring applicationPath(unsigned parts) const { return JoinImagePathParts(ApplicationParts(), parts); }

    std::wstring installFolder() const {
        const wchar_t* valueName = osInfo_->IsWow64() ? L"Install Dir32" : L"Install Dir";
        std::wstring folder;
        if (registry_->readString(L"SOFTWARE\\CORVANE\\PLINTHOS", valueName, folder) != MODULE_STATUS_SUCCESS) {
            return std::wstring();
        }
        return folder;
    }

    std::wstring knownFolder(const KNOWNFOLDERID& id) const {
        std::wstring path;
        if (shell_->SHGetKnownFolderPath(id, 0, nullptr, path) != 0) return std::wstring();
        return path;
    }

private:
    // The host image of this process: computed once, shared by every PathHelpers.
    static const ImagePathParts& ApplicationParts() {
        static std::once_flag once;
        static ImagePathParts parts;
        std::call_once(once, [] {
            const std::wstring image = platform::ExecutablePath();
            if (!image.empty()) parts = SplitImagePath(image, platform::kPathSeparator == L'\\');
        });
        return parts;
    }

    std::shared_ptr<ShlObjAPI> shell_;
    std::shared_ptr<OSInfo> osInfo_;
    std::shared_ptr<RegistryAPI> registry_;
};

namespace {

using Getter = std::function<std::wstring(const PathHelpers::_Impl&)>;

Getter KnownFolderGetter(const KNOWNFOLDERID& id) {
    return [&id](const PathHelpers::_Impl& impl) { return impl.knownFolder(id); };
}

Getter AppGetter(unsigned parts) {
    return [parts](const PathHelpers::_Impl& impl) { return impl.applicationPath(parts); };
}

const std::unordered_map<std::wstring, Getter>& MacroTable() {
    static const std::unordered_map<std::wstring, Getter> table = {
        {L"$(OS.Platform)", [](const PathHelpers::_Impl& impl) { return impl.platformName(); }},
        {L"$(App.Binary)", AppGetter(PART_NAME | PART_EXTENSION)},
        {L"$(App.Name)", AppGetter(PART_NAME)},
        {L"$(App.Folder)", AppGetter(PART_DRIVE | PART_FOLDER)},
        {L"$(App.Path)", AppGetter(PART_DRIVE | PART_FOLDER | PART_NAME | PART_EXTENSION)},
        {L"$(Plinthos.InstallDir)", [](const PathHelpers::_Impl& impl) { return impl.installFolder(); }},
        {L"$(FOLDERID_Profile)", KnownFolderGetter(FOLDERID_Profile)},
        {L"$(FOLDERID_Desktop)", KnownFolderGetter(FOLDERID_Desktop)},
        {L"$(FOLDERID_Documents)", KnownFolderGetter(FOLDERID_Documents)},
        {L"$(FOLDERID_LocalAppDataLow)", KnownFolderGetter(FOLDERID_LocalAppDataLow)},
        {L"$(FOLDERID_LocalAppData)", KnownFolderGetter(FOLDERID_LocalAppData)},
        {L"$(FOLDERID_RoamingAppData)", KnownFolderGetter(FOLDERID_RoamingAppData)},
        {L"$(FOLDERID_ProgramData)", KnownFolderGetter(FOLDERID_ProgramData)},
        {L"$(FOLDERID_ProgramFiles)", KnownFolderGetter(FOLDERID_ProgramFiles)},
        {L"$(FOLDERID_ProgramFilesX64)", KnownFolderGetter(FOLDERID_ProgramFilesX64)},
        {L"$(FOLDERID_ProgramFilesX86)", KnownFolderGetter(FOLDERID_ProgramFilesX86)},
        {L"$(FOLDERID_ProgramFilesCommon)", KnownFolderGetter(FOLDERID_ProgramFilesCommon)},
        {L"$(FOLDERID_ProgramFilesCommonX64)", KnownFolderGetter(FOLDERID_ProgramFilesCommonX64)},
        {L"$(FOLDERID_ProgramFilesCommonX86)", KnownFolderGetter(FOLDERID_ProgramFilesCommonX86)},
    };
    return table;
}

// The first "$(" + one or more of [^$()] + ")" at or after from, as the ECMAScript search
// for "\$\([^$()]+\)" finds it; npos when none. A scanner instead of std::wregex: the
// library's matcher recurses per character and overflows the stack on long input.
size_t FindMacro(const std::wstring& text, size_t from, size_t& length) {
    for (size_t start = text.find(L"$(", from); start != std::wstring::npos; start = text.find(L"$(", start + 1)) {
        size_t end = start + 2;
        while (end < text.size() && text[end] != L'$' && text[end] != L'(' && text[end] != L')') ++end;
        if (end < text.size() && text[end] == L')' && end > start + 2) {
            length = end + 1 - start;
            return start;
        }
    }
    return std::wstring::npos;
}

}  // namespace

ImagePathParts SplitImagePath(const std::wstring& path, bool windowsRules) {
    ImagePathParts parts;
    std::wstring rest = path;
    if (windowsRules && rest.size() >= 2 && rest[1] == L':') {
        parts.drive = rest.substr(0, 2);
        rest.erase(0, 2);
    }
    const size_t slash = windowsRules ? rest.find_last_of(L"\\/") : rest.find_last_of(L'/');
    if (slash != std::wstring::npos) {
        parts.folder = rest.substr(0, slash + 1);
        rest.erase(0, slash + 1);
    }
    const size_t dot = rest.find_last_of(L'.');
    if (dot != std::wstring::npos) {
        parts.extension = rest.substr(dot);
        rest.erase(dot);
    }
    parts.name = rest;
    return parts;
}

std::wstring JoinImagePathParts(const ImagePathParts& parts, unsigned which) {
    std::wstring joined;
    if (which & PART_DRIVE) joined += parts.drive;
    if (which & PART_FOLDER) joined += parts.folder;
    if (which & PART_NAME) joined += parts.name;
    if (which & PART_EXTENSION) joined += parts.extension;
    return joined;
}

PathHelpers::PathHelpers(std::shared_ptr<ShlObjAPI> shell, std::shared_ptr<OSInfo> osInfo,
                         std::shared_ptr<RegistryAPI> registry)
    : impl_(std::make_shared<_Impl>(std::move(shell), std::move(osInfo), std::move(registry))) {}

PathHelpers::~PathHelpers() = default;

bool PathHelpers::expand(std::wstring& path) {
    const auto& table = MacroTable();
    std::wstring output;
    size_t position = 0;
    size_t length = 0;
    for (size_t match = FindMacro(path, position, length); match != std::wstring::npos;
         match = FindMacro(path, position, length)) {
        const std::wstring macro = path.substr(match, length);
        std::wstring value;
        if (const auto entry = table.find(macro); entry != table.end()) value = entry->second(*impl_);
        output.append(path, position, match - position);
        output += value.empty() ? macro : value;
        position = match + length;
    }
    output.append(path, position, std::wstring::npos);
    path = std::move(output);
    return true;
}

}  // namespace Vornik
