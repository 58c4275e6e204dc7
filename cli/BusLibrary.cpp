// BusLibrary.cpp - loading BusBroker through the platform layer and using its table.
#include "BusLibrary.h"

#include <algorithm>
#include <cstdio>

#include "ModuleHost.h"
#include "message/Message.h"
#include "platform/DynamicLibrary.h"
#include "platform/Environment.h"
#include "base/Utf.h"

namespace glimmerpane::cli {

BusLibrary::~BusLibrary() {
    if (functions_) {
        for (void* handle : open_) functions_->close(handle);
        // The table goes back before the unload, so the library stops its threads in a
        // call of ours rather than inside the loader.
        if (releaseObject_) releaseObject_(const_cast<MessageBusFunctions*>(functions_));
    }
    open_.clear();
    if (library_) platform::UnloadSharedLibrary(library_);
}

bool BusLibrary::load(const std::wstring& path, uint32_t frameworkVersion) {
    uint32_t code = 0;
    library_ = platform::LoadSharedLibrary(path, &code);
    if (library_ == nullptr) {
        error_ = "cannot load the bus library " + glimmerpane::base::Utf8FromWide(path) + ": " +
                 glimmerpane::base::Utf8FromWide(platform::LastLoaderError());
        return false;
    }
    auto createObject = reinterpret_cast<CreateObjectFn>(platform::FindSymbol(library_, "CreateObject", &code));
    versionStr_ = reinterpret_cast<GetVersionStrFn>(platform::FindSymbol(library_, "GetVersionStr", &code));
    releaseObject_ = reinterpret_cast<ReleaseObjectFn>(platform::FindSymbol(library_, "ReleaseObject", &code));
    if (createObject == nullptr || versionStr_ == nullptr) {
        error_ = glimmerpane::base::Utf8FromWide(path) + " is not a bus library (CreateObject or GetVersionStr missing)";
        return false;
    }
    functions_ = static_cast<const MessageBusFunctions*>(createObject(frameworkVersion));
    if (functions_ == nullptr) {
        error_ = glimmerpane::base::Utf8FromWide(path) + ": CreateObject refused framework version " +
                 std::to_string(frameworkVersion);
        return false;
    }
    return true;
}

void* BusLibrary::open(ModuleStatus* status) {
    void* handle = nullptr;
    *status = functions_->open(&handle);
    if (*status != 0 || handle == nullptr) {
        if (*status == 0) *status = 0x80000002;  // a "success" without a handle is no success
        return nullptr;
    }
    open_.push_back(handle);
    return handle;
}

ModuleStatus BusLibrary::close(void* handle) {
    auto it = std::find(open_.begin(), open_.end(), handle);
    if (it == open_.end()) return 0;
    open_.erase(it);
    return functions_->close(handle);
}

ModuleStatus BusLibrary::publish(void* handle, const std::wstring& name, const std::wstring& sender,
                                 const std::wstring& userData) {
    Vornik::Message message(name.c_str(), sender.c_str(), userData.c_str());
    return functions_->publish(handle, message.getHeader(), message.getName().c_str(), message.getSender().c_str(),
                               message.getUserData().c_str());
}

void WarnWithoutBus(const char* command, const char* consequence) {
    const auto bus = platform::GetEnvironmentValue("GLIMMERPANE_BUS");
    if (!bus || bus->empty()) {
        std::fprintf(stderr,
                     "glimmerpane: warning: %s: GLIMMERPANE_BUS is not set, so %s "
                     "(GLIMMERPANE_BUS=session for your session bus)\n",
                     command, consequence);
    }
}

bool OpenCommandBus(BusLibrary& bus, void** handle, std::string* error) {
    if (!bus.load(platform::ExecutableFolder() + platform::LibraryFileName(L"BusBroker"), kFrameworkVersion)) {
        *error = bus.error();
        return false;
    }
    ModuleStatus status = 0;
    *handle = bus.open(&status);
    if (*handle == nullptr) {
        *error = "the bus refused a handle: " + DescribeStatus(status) +
                 (status == 0x80000013 ? " (no bus at the address GLIMMERPANE_BUS names)" : "");
        return false;
    }
    return true;
}

}  // namespace glimmerpane::cli
