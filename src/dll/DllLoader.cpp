// DllLoader.cpp - status translation and logging around the library wrapper.
#include "dll/DllLoader.h"

#include "etwlogging/LogCall.h"
#include "module/ModuleStatus.h"

namespace Vornik {

namespace {
constexpr const wchar_t* kSource = L"dll\\DllLoader";

// The wrapper is a seam for other implementations; whatever they throw stays here.
template <class Body>
ModuleStatus Guarded(Body&& body) {
    try {
        return body();
    } catch (...) {
        return MODULE_STATUS_UNKNOWN_EXCEPTION;
    }
}
}  // namespace

DllLoader::DllLoader(std::shared_ptr<DllAPI> api) : api_(api ? std::move(api) : std::make_shared<DllAPI>()) {}

DllLoader::~DllLoader() = default;

bool DllLoader::loadDLL(const std::wstring& path, void** handle) {
    const wchar_t* function = L"Vornik::DllLoader::loadDLL";
    if (handle == nullptr) {
        GP_LOG_WARNING(kSource, function, L"Invalid pHandle specified. Exiting.");
        return false;
    }
    const ModuleStatus status = Guarded([&]() -> ModuleStatus {
        return api_->loadLibrary(path, handle) ? MODULE_STATUS_SUCCESS : MODULE_STATUS_UNSUCCESSFUL;
    });
    if (status == MODULE_STATUS_SUCCESS) return true;
    GP_LOG_ERROR(kSource, function, L"Failed to load library. Error code: %ls(%lu).", ModuleStatusName(status),
                 static_cast<unsigned long>(status));
    return false;
}

void* DllLoader::getProcAddress(void* handle, const char* name) {
    void* address = nullptr;
    Guarded([&]() -> ModuleStatus {
        address = api_->getProcAddress(handle, name);
        if (address == nullptr) {
            GP_LOG_WARNING(kSource, L"Vornik::DllLoader::getProcAddress::<lambda_1>::operator ()",
                           L"getProcAddress was unsuccessful in finding the handle's address");
        }
        return MODULE_STATUS_SUCCESS;
    });
    return address;
}

bool DllLoader::freeDLL(void* handle) { return api_->freeLibrary(handle); }

}  // namespace Vornik
