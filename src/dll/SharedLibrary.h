// SharedLibrary.h - finds, vets, loads a framework library and imports its four exports.
//
// A SharedLibrary exists only loaded and imported: the constructor expands the search
// folders' path macros, finds the first folder holding the file, refuses a version named
// by the registry block list, loads the file (DllAPI refuses one that is not trusted) and
// imports "CreateObject", "ReleaseObject", "GetVersionStr" and "GetVersionNum". When any of
// that fails it logs, unloads whatever it loaded, and throws ModuleException ("Failed to
// load library" or "Failed to import functions from library"). The destructor unloads.
//
// Block list: HKLM "SOFTWARE\Corvane\Plinthos\List\<lower-cased file name>"; a string value
// whose name and data both equal the file's "FileVersion" blocks that version. The names in
// BlockListExemptNames() are never blocked; a file without a version is never blocked.
//
// Built and destroyed by one thread (the owner of the bus library object).
#pragma once

#include <glimmerpane/abi.h>

#include <memory>
#include <string>
#include <vector>

#include "dll/DllLoader.h"
#include "module/ModuleStatus.h"
#include "paths/PathHelpers.h"
#include "paths/PathSearch.h"
#include "utility/CRegKey.h"
#include "utility/FileVersionInfo.h"

namespace Vornik {

struct LibraryDescriptor {
    std::wstring fileName;                   // platform file name ("BusBroker.so")
    std::vector<std::wstring> searchFolders;  // may contain path macros
};

// The four standard exports of a framework library, in import order.
struct LibraryFunctions {
    CreateObjectFn createObject = nullptr;
    ReleaseObjectFn releaseObject = nullptr;
    GetVersionStrFn getVersionStr = nullptr;
    GetVersionNumFn getVersionNum = nullptr;
};

class SharedLibrary {
public:
    // Every collaborator may be null. Null DllLoader, PathHelpers, PathSearch: defaults.
    // Null version reader: a fresh FileVersionInfo per check. Null registry key: a fresh
    // CObfuscatedRegKey over the process registry per check.
    SharedLibrary(const LibraryDescriptor& descriptor, std::shared_ptr<DllLoader> loader = nullptr,
                  std::shared_ptr<PathHelpers> pathHelpers = nullptr, std::shared_ptr<PathSearch> pathSearch = nullptr,
                  std::shared_ptr<Kestrix::FileVersionInfo> versionReader = nullptr,
                  std::shared_ptr<Kestrix::CRegKey> registryKey = nullptr);
    virtual ~SharedLibrary();

    SharedLibrary(const SharedLibrary&) = delete;
    SharedLibrary& operator=(const SharedLibrary&) = delete;

    virtual const LibraryFunctions* getFunctions() const { return &functions_; }

    // 0, 0x8000000A (a folder cannot be expanded, or no folder holds the file),
    // 0x80000001 (blocked) or 0x80000002 (the load failed).
    ModuleStatus loadLibrary();
    // 0, or 0x8000000A at the first missing export (the later entries stay null).
    ModuleStatus importFunctions();
    // 0 (also when nothing is loaded), 0x80000002 when the free fails (the handle is kept),
    // 0x8000000F when the loader throws.
    ModuleStatus unloadLibrary();

    const std::wstring& fileName() const { return fileName_; }
    const std::vector<std::wstring>& searchFolders() const { return searchFolders_; }
    void* moduleHandle() const { return module_; }

    // The block-list answer for name in folder (see above). The version is read from file,
    // the resolved path that is loaded; empty: folder, separator and name.
    bool isBlocked(const std::wstring& folder, const std::wstring& name, const std::wstring& file = {});

private:
    std::wstring fileName_;
    std::vector<std::wstring> searchFolders_;
    std::shared_ptr<DllLoader> loader_;
    std::shared_ptr<PathHelpers> pathHelpers_;
    std::shared_ptr<PathSearch> pathSearch_;
    std::shared_ptr<Kestrix::CRegKey> registryKey_;
    std::shared_ptr<Kestrix::FileVersionInfo> versionReader_;
    void* module_ = nullptr;
    LibraryFunctions functions_;
};

}  // namespace Vornik
