// GuardedCall.cpp - the records written when the boundary catches something.
#include "module/GuardedCall.h"

#include "base/Utf.h"

namespace Vornik::internal {

void LogCaughtException(const char* what) noexcept {
    try {
        if (what != nullptr) {
            const std::wstring text = glimmerpane::base::WideFromUtf8(what);
            GP_LOG_ERROR(L"ModuleFunctions", L"Vornik::guardedCall",
                         L"Exception caught at the module boundary: %ls", text.c_str());
        } else {
            GP_LOG_ERROR(L"ModuleFunctions", L"Vornik::guardedCall",
                         L"Unknown exception caught at the module boundary.");
        }
    } catch (...) {
        // Out of memory while logging: the status alone must do.
    }
}

void LogCaughtTrap(uint32_t trapCode) noexcept {
    try {
        GP_LOG_ERROR(L"ModuleFunctions", L"Vornik::guardedCall",
                     L"Structured exception 0x%08lx caught at the module boundary.",
                     static_cast<unsigned long>(trapCode));
    } catch (...) {
    }
}

}  // namespace Vornik::internal
