// PathMacrosFuzz.cpp - libFuzzer target for the path macro expansion of search folders.
//
// The folder text and the install folder the registry answers come from the input; the
// expansion must end (a macro's value may itself look like a macro) and leave a text.
#include <fuzzer/FuzzedDataProvider.h>

#include <cstdint>
#include <cstdlib>
#include <memory>
#include <string>

#include "base/Utf.h"
#include "paths/PathHelpers.h"
#include "support/MemoryRegistryStore.h"
#include "tiles/RegistryAPI.h"

namespace {

// The host's install folder as the input has it; no registry behind it.
class InputRegistry : public Vornik::RegistryAPI {
public:
    explicit InputRegistry(std::wstring installFolder)
        : Vornik::RegistryAPI(gptest::MakeMemoryRegistryStore()), installFolder_(std::move(installFolder)) {}
    ModuleStatus readString(const wchar_t*, const wchar_t*, std::wstring& text) override {
        if (installFolder_.empty()) return Vornik::MODULE_STATUS_UNSUCCESSFUL;
        text = installFolder_;
        return Vornik::MODULE_STATUS_SUCCESS;
    }

private:
    std::wstring installFolder_;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    FuzzedDataProvider input(data, size);
    const std::wstring installFolder = glimmerpane::base::WideFromUtf8(input.ConsumeRandomLengthString(300));
    std::wstring path = glimmerpane::base::WideFromUtf8(input.ConsumeRemainingBytesAsString());
    Vornik::PathHelpers helpers(nullptr, nullptr, std::make_shared<InputRegistry>(installFolder));
    if (!helpers.expand(path)) std::abort();  // this implementation never fails
    return 0;
}
