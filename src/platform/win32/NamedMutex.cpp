// NamedMutex.cpp (Windows side) - CreateMutexW, WaitForSingleObject, ReleaseMutex.
//
// The lock folder is a POSIX notion: names are the system's own, so it is ignored here. A
// wait that returns WAIT_ABANDONED owns the mutex (its last holder died), as on POSIX.
#include "platform/NamedMutex.h"

#include <windows.h>

namespace glimmerpane::platform {

namespace {

class Win32NamedMutex : public NamedMutex {
public:
    explicit Win32NamedMutex(HANDLE handle) : handle_(handle) {}
    ~Win32NamedMutex() override { CloseHandle(handle_); }

    bool Wait(uint32_t timeoutMs) override {
        const DWORD result = WaitForSingleObject(handle_, timeoutMs);
        return result == WAIT_OBJECT_0 || result == WAIT_ABANDONED;
    }

    void Release() override { ReleaseMutex(handle_); }

private:
    HANDLE handle_;
};

}  // namespace

std::unique_ptr<NamedMutex> CreateNamedMutex(const std::wstring& name, uint32_t* error,
                                             const std::wstring& /*lockFolder*/) {
    uint32_t ignored = 0;
    if (error == nullptr) error = &ignored;
    if (name.empty()) {
        *error = ERROR_INVALID_PARAMETER;
        return nullptr;
    }
    // Backslashes separate a namespace ("Global\", "Local\") from the name; others are not allowed.
    std::wstring object = name;
    const size_t firstSlash = object.find(L'\\');
    for (size_t i = 0; i < object.size(); ++i)
        if (object[i] == L'\\' && i != firstSlash) object[i] = L'_';
    const HANDLE handle = CreateMutexW(nullptr, FALSE, object.c_str());
    if (handle == nullptr) {
        *error = GetLastError();
        return nullptr;
    }
    *error = 0;
    return std::make_unique<Win32NamedMutex>(handle);
}

}  // namespace glimmerpane::platform
