// SharedLibrary.cpp - search, block list, load and import of a framework library.
#include "dll/SharedLibrary.h"

#include "base/CaseFold.h"

#include <cwctype>

#include "dll/LibraryNames.h"
#include "etwlogging/LogCall.h"
#include "module/ModuleException.h"
#include "platform/FileSystem.h"
#include "platform/TrustCheck.h"
#include "utility/CObfuscatedRegKey.h"

namespace Vornik {

namespace platform = glimmerpane::platform;

namespace {

constexpr const wchar_t* kSource = L"dll\\SharedLibrary";
constexpr const wchar_t* kBlockListKey = L"SOFTWARE\\Corvane\\Plinthos\\List\\";

std::wstring Lower(const std::wstring& text) { return glimmerpane::base::ToLowerCase(text); }

}  // namespace

SharedLibrary::SharedLibrary(const LibraryDescriptor& descriptor, std::shared_ptr<DllLoader> loader,
                             std::shared_ptr<PathHelpers> pathHelpers, std::shared_ptr<PathSearch> pathSearch,
                             std::shared_ptr<Kestrix::FileVersionInfo> versionReader,
                             std::shared_ptr<Kestrix::CRegKey> registryKey)
    : fileName_(descriptor.fileName),
      searchFolders_(descriptor.searchFolders),
      loader_(loader ? std::move(loader) : std::make_shared<DllLoader>()),
      pathHelpers_(pathHelpers ? std::move(pathHelpers) : std::make_shared<PathHelpers>()),
      pathSearch_(pathSearch ? std::move(pathSearch) : std::make_shared<PathSearch>()),
      registryKey_(std::move(registryKey)),
      versionReader_(std::move(versionReader)) {
    const wchar_t* function = L"Vornik::SharedLibrary::SharedLibrary";
    if (loadLibrary() != MODULE_STATUS_SUCCESS) {
        GP_LOG_ERROR(kSource, function, L"Failed to load library: %ls. Throwing ModuleException.", fileName_.c_str());
        throw ModuleException("Failed to load library");
    }
    if (importFunctions() != MODULE_STATUS_SUCCESS) {
        GP_LOG_ERROR(kSource, function, L"Failed to import functions from library: %ls. Throwing ModuleException.",
                     fileName_.c_str());
        // The destructor does not run for a constructor that throws; a library without its
        // exports is of no use to anyone, so it does not stay mapped.
        unloadLibrary();
        throw ModuleException("Failed to import functions from library");
    }
}

SharedLibrary::~SharedLibrary() { unloadLibrary(); }

ModuleStatus SharedLibrary::loadLibrary() {
    const wchar_t* function = L"Vornik::SharedLibrary::loadLibrary";
    for (std::wstring& folder : searchFolders_) {
        const std::wstring written = folder;
        if (!pathHelpers_->expand(folder)) {
            GP_LOG_ERROR(kSource, function, L"Failed to resolve file path, %ls, for library: %ls.", written.c_str(),
                         fileName_.c_str());
            return MODULE_STATUS_NOT_FOUND;
        }
    }
    pathSearch_->setSearchPaths(searchFolders_);
    std::wstring folder;
    if (!pathSearch_->findFilePath(fileName_, folder)) {
        GP_LOG_ERROR(kSource, function, L"Failed to find valid path for library: %ls.", fileName_.c_str());
        return MODULE_STATUS_NOT_FOUND;
    }
    GP_LOG_NORMAL(kSource, function, L"Loading %ls from %ls.", fileName_.c_str(), folder.c_str());
    const std::wstring fullPath = folder + platform::kPathSeparator + fileName_;
    // The version is read from, and the loader given, the one file the trust check resolves,
    // so a link changed in between cannot put another file in its place. An untrusted file
    // keeps its path: the loader refuses it and says why.
    std::wstring loadPath;
    if (platform::VerifyTrustedFile(fullPath, &loadPath) != platform::kTrustOk || loadPath.empty()) loadPath = fullPath;
    if (isBlocked(folder, fileName_, loadPath)) {
        GP_LOG(ETWLogging::LogSeverity::Information, kSource, function, L"Blocked library: %ls.", fullPath.c_str());
        return MODULE_STATUS_NOT_SUPPORTED;
    }
    if (!loader_->loadDLL(loadPath, &module_)) {
        module_ = nullptr;
        GP_LOG_ERROR(kSource, function, L"Failed to load library: %ls.", fileName_.c_str());
        return MODULE_STATUS_UNSUCCESSFUL;
    }
    return MODULE_STATUS_SUCCESS;
}

bool SharedLibrary::isBlocked(const std::wstring& folder, const std::wstring& name, const std::wstring& file) {
    if (folder.empty() || name.empty()) return false;
    const std::wstring lowerName = Lower(name);
    for (const std::wstring& exempt : BlockListExemptNames()) {
        if (lowerName == exempt) return false;
    }
    const std::wstring path = file.empty() ? folder + platform::kPathSeparator + name : file;
    // Lower-casing the path is harmless only where file names ignore case.
    const std::wstring versionPath = platform::FileNamesIgnoreCase() ? Lower(path) : path;
    std::shared_ptr<Kestrix::FileVersionInfo> reader =
        versionReader_ ? versionReader_ : std::make_shared<Kestrix::FileVersionInfo>();
    std::wstring version;
    if (!reader->Load(versionPath) || reader->GetString(version, L"FileVersion").empty()) return false;

    std::shared_ptr<Kestrix::CRegKey> key =
        registryKey_ ? registryKey_ : std::make_shared<Kestrix::CObfuscatedRegKey>();
    if (key->Open(platform::HkeyLocalMachine(), (kBlockListKey + lowerName).c_str(), platform::kKeyRead) !=
        platform::kErrorSuccess) {
        return false;
    }
    std::wstring listed;
    const bool blocked = key->QueryStringValue(version.c_str(), &listed) == platform::kErrorSuccess &&
                         listed == version;
    key->Close();
    return blocked;
}

ModuleStatus SharedLibrary::importFunctions() {
    struct Export {
        const char* name;
        void** slot;
    };
    const Export exports[] = {
        {"CreateObject", reinterpret_cast<void**>(&functions_.createObject)},
        {"ReleaseObject", reinterpret_cast<void**>(&functions_.releaseObject)},
        {"GetVersionStr", reinterpret_cast<void**>(&functions_.getVersionStr)},
        {"GetVersionNum", reinterpret_cast<void**>(&functions_.getVersionNum)},
    };
    for (const Export& entry : exports) {
        *entry.slot = loader_->getProcAddress(module_, entry.name);
        if (*entry.slot == nullptr) {
            GP_LOG_ERROR(kSource, L"Vornik::SharedLibrary::importFunctions",
                         L"Failed to load %hs function from library: %ls.", entry.name, fileName_.c_str());
            return MODULE_STATUS_NOT_FOUND;
        }
    }
    return MODULE_STATUS_SUCCESS;
}

ModuleStatus SharedLibrary::unloadLibrary() {
    try {
        if (module_ == nullptr) return MODULE_STATUS_SUCCESS;
        if (!loader_->freeDLL(module_)) {
            GP_LOG_ERROR(kSource, L"Vornik::SharedLibrary::unloadLibrary::<lambda_1>::operator ()",
                         L"Failed to free library: %ls.", fileName_.c_str());
            return MODULE_STATUS_UNSUCCESSFUL;
        }
        module_ = nullptr;
        functions_ = LibraryFunctions{};
        return MODULE_STATUS_SUCCESS;
    } catch (...) {
        return MODULE_STATUS_UNKNOWN_EXCEPTION;
    }
}

}  // namespace Vornik
