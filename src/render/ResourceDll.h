// ResourceDll.h - the companion resource library that holds the tile template and texts.
//
// The resource library lies beside the module's own library. Construction finds that
// folder from the module's loaded file, loads the library, and throws ModuleException when
// either fails ("Failed to get resourcePath for Module." / "Failed to load Resources."),
// after logging the cause and an Error record ending in "Throwing ModuleException.".
// The library stays loaded until destruction. String loads are serialised by one mutex, so
// any thread may call getResourceString; the strings handed out are copies.
#pragma once

#include <cstdint>
#include <memory>
#include <mutex>
#include <string>

#include "render/ResourceAPI.h"

namespace Vornik {

class ResourceDll {
public:
    // moduleName: the file name of the module's own library ("Glimmerpane.so"/".dll");
    // resourceDllName: the resource library's file name. A null name counts as empty. An
    // empty api creates the default ResourceAPI.
    ResourceDll(const wchar_t* moduleName, const wchar_t* resourceDllName, std::shared_ptr<ResourceAPI> api);
    virtual ~ResourceDll();
    ResourceDll(const ResourceDll&) = delete;
    ResourceDll& operator=(const ResourceDll&) = delete;

    // Loads the library at path into resourceModule; logs and returns false on failure.
    virtual bool loadResourceDll(const std::wstring& path);
    // text receives string id (empty on failure). A missing or empty string is a failure
    // and is logged.
    virtual bool getResourceString(uint32_t id, std::wstring& text);
    // folder receives the module's folder with its trailing separator.
    virtual bool getCurrentResourcePath(std::wstring& folder);
    // Frees the library; only the destructor calls it.
    virtual void unloadResourcesDll();

protected:
    std::shared_ptr<ResourceAPI> api;
    ResourceModuleHandle resourceModule = nullptr;
    std::wstring moduleName;
    std::wstring resourceDllName;
    std::mutex stringLock;
};

}  // namespace Vornik
