// PathSearch.cpp - the folder search of the library loader.
#include "paths/PathSearch.h"

#include "etwlogging/LogCall.h"
#include "platform/FileSystem.h"

namespace Vornik {

namespace {
constexpr const wchar_t* kSource = L"PathSearch";
}

PathSearch::PathSearch(std::shared_ptr<PathAPI> pathApi, std::shared_ptr<DllAPI> dllApi)
    : pathApi_(pathApi ? std::move(pathApi) : std::make_shared<PathAPI>()), 
      dllApi_(dllApi ? std::move(dllApi) : std::make_shared<DllAPI>()) {}

PathSearch::~PathSearch() = default;

std::vector<std::wstring> PathSearch::getSearchPaths() { return searchPaths_; }

void PathSearch::setSearchPaths(const std::vector<std::wstring>& paths) { searchPaths_ = paths; }

void PathSearch::addSearchPath(const wchar_t* folder) {
    if (folder != nullptr) searchPaths_.emplace_back(folder);
}

void PathSearch::addSearchPath(const std::wstring& folder) { searchPaths_.push_back(folder); }

bool PathSearch::findFilePath(const std::wstring& name, std::wstring& folder) {
    const wchar_t* function = L"Vornik::PathSearch::findFilePath";
    GP_LOG_NORMAL(kSource, function, L"Entering findFilePath for file %ls", name.c_str());
    for (const std::wstring& candidate : searchPaths_) {
        if (checkIfExists(candidate + glimmerpane::platform::kPathSeparator + name)) {
            folder = candidate;
            GP_LOG_NORMAL(kSource, function, L"File found at path %ls. Returning success.", candidate.c_str());
            return true;
        }
    }
    GP_LOG_WARNING(kSource, function, L"File not found.");
    return false;
}

bool PathSearch::checkIfExists(const std::wstring& path) {
    const wchar_t* function = L"Vornik::PathSearch::checkIfExists";
    GP_LOG_NORMAL(kSource, function, L"Entering checkIfExists for %ls", path.c_str());
    if (pathApi_->fileExists(path)) {
        GP_LOG_NORMAL(kSource, function, L"File exists");
        return true;
    }
    GP_LOG_WARNING(kSource, function, L"File does not exist.");
    return false;
}

}  // namespace Vornik
