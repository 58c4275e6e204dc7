// ResourceAPI.cpp - forwards to the platform layer and the process-wide MUI loader.
#include "render/ResourceAPI.h"

#include "platform/MuiResourceLoader.h"
#include "platform/StringResources.h"

namespace Vornik {

namespace platform = glimmerpane::platform;

ResourceAPI::~ResourceAPI() = default;

bool ResourceAPI::loadLibrary(const std::wstring& path, ResourceModuleHandle& module) {
    module = platform::MuiResourceLoader::process().loadLibrary(path);
    return module != nullptr;
}

int ResourceAPI::loadString(ResourceModuleHandle module, uint32_t id, wchar_t* buffer, int bufferSize) {
    return platform::MuiResourceLoader::process().loadString(module, id, buffer, bufferSize);
}

ResourceModuleHandle ResourceAPI::getModuleHandle(const wchar_t* fileName) {
    if (fileName == nullptr) {
        platform::SetLastErrorCode(platform::kErrorInvalidParameter);
        return nullptr;
    }
    return platform::FindLoadedModule(fileName);
}

uint32_t ResourceAPI::getModuleFileName(ResourceModuleHandle module, wchar_t* buffer, uint32_t size) {
    return platform::LoadedModuleFileName(module, buffer, size);
}

int ResourceAPI::fileExists(const std::wstring& path) { return platform::PathExists(path) ? 1 : 0; }

int ResourceAPI::freeLibrary(ResourceModuleHandle module) { return platform::FreeResourceLibrary(module) ? 1 : 0; }

int ResourceAPI::closeHandle(void* handle) { return platform::CloseOsHandle(handle) ? 1 : 0; }

uint32_t ResourceAPI::getLastError() { return platform::LastErrorCode(); }

}  // namespace Vornik
