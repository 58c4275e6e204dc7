// LoaderFakes.h - fakes for the library loader's seams: a library wrapper that records what
// it is asked, a file system of chosen files, a fixed version resource and known folders.
#pragma once

#include <map>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "dll/SharedLibrary.h"
#include "support/TempRegistry.h"
#include "tiles/RegistryAPI.h"
#include "utility/FileVersionAPI.h"
#include "wrappers/DllAPI.h"
#include "wrappers/PathAPI.h"
#include "wrappers/ShlObjAPI.h"

namespace gptest {

class FakeDllAPI : public Vornik::DllAPI {
public:
    std::map<std::string, void*> exports;
    bool loadSucceeds = true;
    bool freeSucceeds = true;
    std::vector<std::wstring> loads;
    std::vector<std::string> lookups;
    int frees = 0;
    std::vector<std::string>* events = nullptr;  // shared event log, when set

    bool loadLibrary(const std::wstring& path, void** handle) override {
        loads.push_back(path);
        *handle = loadSucceeds ? this : nullptr;
        return loadSucceeds;
    }
    void* getProcAddress(void* handle, const char* name) override {
        lookups.emplace_back(name);
        if (handle != this) return nullptr;
        const auto found = exports.find(name);
        return found == exports.end() ? nullptr : found->second;
    }
    bool freeLibrary(void* handle) override {
        if (handle == this) ++frees;
        if (events) events->push_back("unload");
        return freeSucceeds;
    }
};

class FakePathAPI : public Vornik::PathAPI {
public:
    std::set<std::wstring> files;
    bool fileExists(const std::wstring& path) override { return files.count(path) > 0; }
};

class FixedVersionAPI : public Kestrix::FileVersionAPI {
public:
    explicit FixedVersionAPI(std::wstring version) : version_(std::move(version)) {}
    std::vector<std::wstring> paths;
    uint32_t GetFileVersionInfoSize(const std::wstring& path) override {
        paths.push_back(path);
        return version_.empty() ? 0 : 1;
    }
    bool GetFileVersionInfo(const std::wstring&, std::vector<uint8_t>& block) override {
        block.assign(1, 0);
        return true;
    }
    bool QueryTranslations(const std::vector<uint8_t>&, Translations& translations) override {
        translations = {{0x0409, 0x04B0}};
        return true;
    }
    bool QueryString(const std::vector<uint8_t>&, const std::wstring& subBlock, std::wstring& value) override {
        if (subBlock.find(L"FileVersion") == std::wstring::npos) return false;
        value = version_;
        return true;
    }

private:
    std::wstring version_;
};

class FakeShell : public Vornik::ShlObjAPI {
public:
    std::map<std::wstring, std::wstring> folders;  // by GUID text
    uint32_t SHGetKnownFolderPath(const Vornik::KNOWNFOLDERID& id, uint32_t, void*, std::wstring& path) override {
        const auto found = folders.find(Kestrix::GuidToString(id));
        if (found == folders.end()) return 2;
        path = found->second;
        return 0;
    }
};

// Path macros over a temporary registry, so that no test reads or creates the real prefix.
inline std::shared_ptr<Vornik::PathHelpers> TestPathHelpers(
    const std::shared_ptr<glimmerpane::platform::RegistryStore>& store,
    std::shared_ptr<Vornik::ShlObjAPI> shell = std::make_shared<FakeShell>()) {
    return std::make_shared<Vornik::PathHelpers>(std::move(shell), nullptr,
                                                 std::make_shared<Vornik::RegistryAPI>(store));
}

}  // namespace gptest
