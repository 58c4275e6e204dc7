// ResourceDll.cpp - loading the resource library beside the module and reading strings.
#include "render/ResourceDll.h"

#include <vector>

#include "etwlogging/LogCall.h"
#include "module/ModuleException.h"
#include "platform/FileSystem.h"

namespace Vornik {

namespace {
constexpr const wchar_t* kSource = L"ResourceDll";
constexpr uint32_t kModulePathBufferSize = 261;
// Windows' long-path limit; POSIX paths are often longer than 260 characters.
constexpr uint32_t kModulePathBufferLimit = 32768;
}  // namespace

ResourceDll::ResourceDll(const wchar_t* moduleName, const wchar_t* resourceDllName, std::shared_ptr<ResourceAPI> api)
    : api(std::move(api)),
      moduleName(moduleName != nullptr ? moduleName : L""),
      resourceDllName(resourceDllName != nullptr ? resourceDllName : L"") {
    if (!this->api) this->api = std::make_shared<ResourceAPI>();
    std::wstring folder;
    // The cause is logged where it is found; the creator of the module logs the failure.
    if (!ResourceDll::getCurrentResourcePath(folder)) throw ModuleException("Failed to get resourcePath for Module.");
    if (!ResourceDll::loadResourceDll(folder + this->resourceDllName)) throw ModuleException("Failed to load Resources.");
}

ResourceDll::~ResourceDll() { ResourceDll::unloadResourcesDll(); }

bool ResourceDll::getCurrentResourcePath(std::wstring& folder) {
    if (moduleName.empty()) return false;
    ResourceModuleHandle module = api->getModuleHandle(moduleName.c_str());
    if (module == nullptr) {
        GP_LOG_WARNING(kSource, L"Vornik::ResourceDll::getCurrentResourcePath", L"Failed to get Module handle %lu for %ls",
                       static_cast<unsigned long>(api->getLastError()), moduleName.c_str());
        return false;
    }
    // The specified buffer holds 261 characters; a longer path (common on POSIX) would come
    // back cut and never contain the module name, so the buffer grows while it is filled.
    std::vector<wchar_t> buffer(kModulePathBufferSize, L'\0');
    uint32_t length = api->getModuleFileName(module, buffer.data(), static_cast<uint32_t>(buffer.size()));
    while (length >= buffer.size() && buffer.size() < kModulePathBufferLimit) {
        buffer.assign(buffer.size() * 4, L'\0');
        length = api->getModuleFileName(module, buffer.data(), static_cast<uint32_t>(buffer.size()));
    }
    if (length == 0) {
        GP_LOG_WARNING(kSource, L"Vornik::ResourceDll::getCurrentResourcePath",
                       L"Failed to get ModulePath %lu for Module: %ls", static_cast<unsigned long>(api->getLastError()),
                       moduleName.c_str());
        return false;
    }
    const std::wstring fullPath(buffer.data(), std::min<size_t>(length, buffer.size()));
    // The module's own file name follows the last separator; a match further up the path
    // (a folder named like the module) would load the resource library from a parent folder.
    const size_t separator = fullPath.rfind(glimmerpane::platform::kPathSeparator);
    const size_t position = separator == std::wstring::npos ? 0 : separator + 1;
    if (fullPath.compare(position, std::wstring::npos, moduleName) != 0) {
        GP_LOG_WARNING(kSource, L"Vornik::ResourceDll::getCurrentResourcePath",
                       L"File path %ls found is not correct for module %ls", fullPath.c_str(), moduleName.c_str());
        return false;
    }
    folder = fullPath.substr(0, position);
    return true;
}

bool ResourceDll::loadResourceDll(const std::wstring& path) {
    if (api->fileExists(path) == 0) {
        GP_LOG_WARNING(kSource, L"Vornik::ResourceDll::loadResourceDll", L"%ls doesn't exist. Error %lu", path.c_str(),
                       static_cast<unsigned long>(api->getLastError()));
        return false;
    }
    if (api->loadLibrary(path, resourceModule)) return true;
    GP_LOG_WARNING(kSource, L"Vornik::ResourceDll::loadResourceDll", L"Failed to load Resource %ls. Error %lu",
                   path.c_str(), static_cast<unsigned long>(api->getLastError()));
    return false;
}

bool ResourceDll::getResourceString(uint32_t id, std::wstring& text) {
    text.clear();
    std::lock_guard<std::mutex> lock(stringLock);
    const wchar_t* pointer = nullptr;
    const int length = api->loadString(resourceModule, id, reinterpret_cast<wchar_t*>(&pointer), 0);
    if (length > 0 && pointer != nullptr) {
        text.assign(pointer, static_cast<size_t>(length));
        return true;
    }
    GP_LOG_WARNING(kSource, L"Vornik::ResourceDll::getResourceString", L"Failed to load xml resource Id:%lu. Error: %lu",
                   static_cast<unsigned long>(id), static_cast<unsigned long>(api->getLastError()));
    return false;
}

void ResourceDll::unloadResourcesDll() {
    if (resourceModule == nullptr) return;
    if (api->freeLibrary(resourceModule) == 0) {
        GP_LOG_WARNING(kSource, L"Vornik::ResourceDll::unloadResourcesDll", L"Failed to unload resource. Error: %lu",
                       static_cast<unsigned long>(api->getLastError()));
    }
}

}  // namespace Vornik
