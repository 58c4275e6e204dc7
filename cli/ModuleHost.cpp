// ModuleHost.cpp - loads the module library and drives it through its C ABI only.
#include "ModuleHost.h"

#include <cstdio>

#include "module/ModuleStatus.h"
#include "platform/DynamicLibrary.h"
#include "base/Utf.h"

namespace glimmerpane::cli {

ModuleHost::~ModuleHost() {
    if (library_) platform::UnloadSharedLibrary(library_);
}

bool ModuleHost::load(const std::wstring& path) {
    uint32_t code = 0;
    library_ = platform::LoadSharedLibrary(path, &code);
    if (library_ == nullptr) {
        error_ = "cannot load " + glimmerpane::base::Utf8FromWide(path) + ": " + glimmerpane::base::Utf8FromWide(platform::LastLoaderError());
        return false;
    }
    auto resolve = [&](const char* name) { return platform::FindSymbol(library_, name, &code); };
    auto createObject = reinterpret_cast<CreateObjectFn>(resolve("CreateObject"));
    versionStr_ = reinterpret_cast<GetVersionStrFn>(resolve("GetVersionStr"));
    versionNum_ = reinterpret_cast<GetVersionNumFn>(resolve("GetVersionNum"));
    if (!createObject || !versionStr_ || !versionNum_ || !resolve("ReleaseObject")) {
        error_ = glimmerpane::base::Utf8FromWide(path) + " lacks one of the four module exports";
        return false;
    }
    table_ = static_cast<const ModuleFunctionTable*>(createObject(versionNum_()));
    if (table_ == nullptr) {
        error_ = glimmerpane::base::Utf8FromWide(path) + ": CreateObject returned no function table";
        return false;
    }
    return true;
}

std::string DescribeStatus(ModuleStatus status) {
    char number[16];
    std::snprintf(number, sizeof(number), "0x%08X", status);
    return glimmerpane::base::Utf8FromWide(Vornik::ModuleStatusName(status)) + "(" + number + ")";
}

}  // namespace glimmerpane::cli
