// DllAPI.cpp - library loading through the platform layer, vetted by the trust check.
#include "wrappers/DllAPI.h"

#include "etwlogging/LogCall.h"
#include "platform/DynamicLibrary.h"
#include "platform/TrustCheck.h"

namespace Vornik {

namespace platform = glimmerpane::platform;

namespace {
constexpr const wchar_t* kSource = L"wrappers\\DllAPI";
}

DllAPI::~DllAPI() = default;

uint32_t DllAPI::verifySignature(const std::wstring& path, std::wstring& loadPath, std::wstring& reason) {
    return platform::VerifyTrustedFile(path, &loadPath, &reason);
}

bool DllAPI::loadLibrary(const std::wstring& path, void** handle) {
    const wchar_t* function = L"Vornik::DllAPI::loadLibrary";
    std::wstring loadPath;
    std::wstring reason;
    void* loaded = nullptr;
    if (const uint32_t code = verifySignature(path, loadPath, reason); code != 0) {
        GP_LOG_WARNING(kSource, function, L"Library not trusted: %ls (%ls). Verifier code %lu.", path.c_str(),
                       reason.c_str(), static_cast<unsigned long>(code));
        platform::SetThreadLastError(code);
    } else {
        uint32_t error = 0;
        loaded = platform::LoadSharedLibrary(loadPath.empty() ? path : loadPath, &error);
        if (loaded == nullptr) platform::SetThreadLastError(error);
    }
    *handle = loaded;
    if (loaded == nullptr) {
        GP_LOG_ERROR(kSource, function, L"LoadLibrary Failed. GLE: %lu",
                     static_cast<unsigned long>(platform::ThreadLastError()));
        return false;
    }
    return true;
}

void* DllAPI::getProcAddress(void* handle, const char* name) {
    if (handle == nullptr || name == nullptr) return nullptr;
    return platform::FindSymbol(handle, name, nullptr);
}

bool DllAPI::isTrusted(const std::wstring& path) {
    if (path.empty()) return false;
    std::wstring loadPath;
    std::wstring reason;
    return verifySignature(path, loadPath, reason) == 0;
}

bool DllAPI::freeLibrary(void* handle) { return platform::UnloadSharedLibrary(handle); }

}  // namespace Vornik
