// PathSearch.h - finds which of an ordered list of folders holds a file of a given name.
//
// The folders arrive already expanded (path macros are resolved by the caller). The first
// folder holding the file wins; there is no fallback to a system search path. A folder and
// the name are joined with one platform separator ("\" on Windows, "/" on POSIX) whatever
// the folder ends with. A directory of the file's name is not the file. One thread at a
// time; progress is logged at Normal, misses at Warning.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "wrappers/DllAPI.h"
#include "wrappers/PathAPI.h"

namespace Vornik {

class PathSearch {
public:
    // Either collaborator may be null; then the default one is made. The DllAPI is held
    // for the loader, not used by the search.
    explicit PathSearch(std::shared_ptr<PathAPI> pathApi = nullptr, std::shared_ptr<DllAPI> dllApi = nullptr);
    virtual ~PathSearch();

    virtual std::vector<std::wstring> getSearchPaths();
    virtual void setSearchPaths(const std::vector<std::wstring>& paths);
    virtual void addSearchPath(const wchar_t* folder);  // null is ignored
    virtual void addSearchPath(const std::wstring& folder);
    // On success folder holds the list's entry exactly (without the name); on failure it is
    // unchanged. Calls checkIfExists through the virtual table.
    virtual bool findFilePath(const std::wstring& name, std::wstring& folder);
    virtual bool checkIfExists(const std::wstring& path);

private:
    std::shared_ptr<PathAPI> pathApi_;
    std::shared_ptr<DllAPI> dllApi_;
    std::vector<std::wstring> searchPaths_;
};

}  // namespace Vornik
