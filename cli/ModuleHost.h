// ModuleHost.h - loads the module library and drives it through its C ABI only.
#pragma once

#include <glimmerpane/abi.h>

#include <string>

namespace glimmerpane::cli {

class ModuleHost {
public:
    ModuleHost() = default;
    ModuleHost(const ModuleHost&) = delete;
    ModuleHost& operator=(const ModuleHost&) = delete;
    ~ModuleHost();

    // Loads the library and resolves its four exports; false with error() set on failure.
    bool load(const std::wstring& path);
    const std::string& error() const { return error_; }

    const ModuleFunctionTable* table() const { return table_; }
    const char* versionString() const { return versionStr_ ? versionStr_() : ""; }
    uint32_t versionNumber() const { return versionNum_ ? versionNum_() : 0; }

private:
    void* library_ = nullptr;
    GetVersionStrFn versionStr_ = nullptr;
    GetVersionNumFn versionNum_ = nullptr;
    const ModuleFunctionTable* table_ = nullptr;
    std::string error_;
};

// "MODULE_STATUS_X(0x8000000N)" for messages.
std::string DescribeStatus(ModuleStatus status);

}  // namespace glimmerpane::cli
