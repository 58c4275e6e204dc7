// DllLoader.h - loads, resolves and frees libraries through the DllAPI wrapper.
//
// Failures are logged here once and answered with false or null; nothing thrown by the
// wrapper escapes loadDLL or getProcAddress. Used by one thread at a time.
#pragma once

#include <memory>
#include <string>

#include "wrappers/DllAPI.h"

namespace Vornik {

class DllLoader {
public:
    // An empty api makes the default DllAPI.
    explicit DllLoader(std::shared_ptr<DllAPI> api = nullptr);
    virtual ~DllLoader();

    // handle: receives the module handle (null on failure). A null handle pointer is refused.
    virtual bool loadDLL(const std::wstring& path, void** handle);
    // Null when the export is missing or the wrapper throws.
    virtual void* getProcAddress(void* handle, const char* name);
    virtual bool freeDLL(void* handle);

private:
    std::shared_ptr<DllAPI> api_;
};

}  // namespace Vornik
