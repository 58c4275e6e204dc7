// TestLibrary.cpp - test libraries through the platform loader.
#include "support/TestLibrary.h"

#include "platform/DynamicLibrary.h"
#include "base/Utf.h"

namespace gptest {

namespace platform = glimmerpane::platform;

TestLibrary::TestLibrary(const std::filesystem::path& path) {
    uint32_t code = 0;
    handle_ = platform::LoadSharedLibrary(glimmerpane::base::WideFromUtf8(path.string()), &code);
    if (handle_ == nullptr) {
        error_ = "cannot load " + path.string() + " (" + std::to_string(code) + "): " +
                 glimmerpane::base::Utf8FromWide(platform::LastLoaderError());
    }
}

TestLibrary::~TestLibrary() { unload(); }

void* TestLibrary::symbol(const char* name) const {
    if (handle_ == nullptr) return nullptr;
    uint32_t code = 0;
    return platform::FindSymbol(handle_, name, &code);
}

bool TestLibrary::unload(bool handTablesBack) {
    if (handle_ == nullptr) return false;
    if (auto releaseObject = function<ReleaseObjectFn>("ReleaseObject"); releaseObject && handTablesBack) {
        for (void* table : created_) releaseObject(table);
    }
    created_.clear();
    void* handle = handle_;
    handle_ = nullptr;
    return platform::UnloadSharedLibrary(handle);
}

}  // namespace gptest
