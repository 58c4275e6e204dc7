// FakeResources.h - test doubles for the resource library: a ResourceAPI that serves strings
// from a map and can be told to fail, so ResourceDll and PlaceHolders run without files.
#pragma once

#include <algorithm>
#include <map>
#include <memory>
#include <string>

#include "platform/FileSystem.h"
#include "render/ResourceAPI.h"
#include "render/ResourceDll.h"

namespace gptest {

// A path written with "/" in the platform's spelling ("\\opt\\corvane\\..." on Windows), so
// the module's folder is found at the platform's separator.
inline std::wstring NativePath(std::wstring path) {
    std::replace(path.begin(), path.end(), L'/', glimmerpane::platform::kPathSeparator);
    return path;
}

class FakeResourceAPI : public Vornik::ResourceAPI {
public:
    std::wstring modulePath = NativePath(L"/opt/corvane/Glimmerpane.so");
    bool moduleLoaded = true;
    bool moduleFileNameFails = false;
    bool resourceExists = true;
    bool loadFails = false;
    bool freeFails = false;
    uint32_t lastError = 0;
    std::map<uint32_t, std::wstring> strings;

    std::wstring loadedPath;
    std::wstring askedModule;
    int loadStringCalls = 0;
    int freeCalls = 0;

    bool loadLibrary(const std::wstring& path, Vornik::ResourceModuleHandle& module) override {
        loadedPath = path;
        if (loadFails) {
            lastError = 193;
            module = nullptr;
            return false;
        }
        module = this;
        return true;
    }
    int loadString(Vornik::ResourceModuleHandle module, uint32_t id, wchar_t* buffer, int size) override {
        ++loadStringCalls;
        const auto found = strings.find(id);
        if (module != this || size != 0 || found == strings.end()) {
            lastError = 1814;
            return 0;
        }
        *reinterpret_cast<const wchar_t**>(buffer) = found->second.data();
        lastError = 0;
        return static_cast<int>(found->second.size());
    }
    Vornik::ResourceModuleHandle getModuleHandle(const wchar_t* fileName) override {
        askedModule = fileName;
        if (!moduleLoaded) lastError = 126;
        return moduleLoaded ? this : nullptr;
    }
    uint32_t getModuleFileName(Vornik::ResourceModuleHandle, wchar_t* buffer, uint32_t size) override {
        if (moduleFileNameFails) {
            lastError = 5;
            return 0;
        }
        const size_t n = std::min<size_t>(modulePath.size(), size - 1);
        std::copy_n(modulePath.data(), n, buffer);
        buffer[n] = L'\0';
        return modulePath.size() >= size ? size : static_cast<uint32_t>(n);
    }
    int fileExists(const std::wstring&) override {
        if (!resourceExists) lastError = 2;
        return resourceExists ? 1 : 0;
    }
    int freeLibrary(Vornik::ResourceModuleHandle) override {
        ++freeCalls;
        if (freeFails) lastError = 6;
        return freeFails ? 0 : 1;
    }
    uint32_t getLastError() override { return lastError; }
};

// A ResourceDll over a FakeResourceAPI with the given strings.
inline std::shared_ptr<Vornik::ResourceDll> MakeFakeResourceDll(std::map<uint32_t, std::wstring> strings,
                                                                std::shared_ptr<FakeResourceAPI>* apiOut = nullptr) {
    auto api = std::make_shared<FakeResourceAPI>();
    api->strings = std::move(strings);
    if (apiOut) *apiOut = api;
    return std::make_shared<Vornik::ResourceDll>(L"Glimmerpane.so", L"GPNResources.so", api);
}

}  // namespace gptest
