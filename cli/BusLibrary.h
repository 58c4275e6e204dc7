// BusLibrary.h - the host's own binding to the bus library (BusBroker), through the C ABI.
//
// Loads the library with the platform loader, resolves its four exports, asks CreateObject
// for the MessageBusFunctions table and opens handles on it. Handles still open at
// destruction are closed before the library is unloaded.
#pragma once

#include <glimmerpane/abi.h>

#include <cstdint>
#include <string>
#include <vector>

namespace glimmerpane::cli {

// The framework version this program hands the libraries' CreateObject, as the suite does.
inline constexpr uint32_t kFrameworkVersion = 1006000;
// The message the module publishes its tile payloads as.
inline constexpr const wchar_t* kTileMessage = L"messaging.message.processed";

class BusLibrary {
public:
    BusLibrary() = default;
    BusLibrary(const BusLibrary&) = delete;
    BusLibrary& operator=(const BusLibrary&) = delete;
    ~BusLibrary();

    // False with error() set when the file cannot be loaded, lacks an export or refuses
    // the framework version.
    bool load(const std::wstring& path, uint32_t frameworkVersion);
    const std::string& error() const { return error_; }
    const MessageBusFunctions* functions() const { return functions_; }
    const char* versionString() const { return versionStr_ ? versionStr_() : ""; }

    // Opens a handle; null with *status set when the bus refuses.
    void* open(ModuleStatus* status);
    ModuleStatus close(void* handle);

    // Publishes with a fresh default header; sender "glimmerpane".
    ModuleStatus publish(void* handle, const std::wstring& name, const std::wstring& sender,
                         const std::wstring& userData);

private:
    void* library_ = nullptr;
    GetVersionStrFn versionStr_ = nullptr;
    ReleaseObjectFn releaseObject_ = nullptr;
    const MessageBusFunctions* functions_ = nullptr;
    std::vector<void*> open_;
    std::string error_;
};

// For the commands that speak on the bus from outside a module host (publish, watch).

// Warns on standard error, for command, when GLIMMERPANE_BUS names no bus: then nothing
// reaches or leaves this process, which consequence says in the command's words.
void WarnWithoutBus(const char* command, const char* consequence);

// Loads BusBroker from beside this executable and opens a handle on it. False with *error
// saying why (without the command's name) when either fails.
bool OpenCommandBus(BusLibrary& bus, void** handle, std::string* error);

}  // namespace glimmerpane::cli
