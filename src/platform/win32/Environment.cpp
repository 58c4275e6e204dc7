// Environment.cpp (Windows side) - _wgetenv/_wputenv_s and a console control handler.
#include "platform/Environment.h"

#include <windows.h>

#include <atomic>
#include <cstdlib>

#include "base/Utf.h"

namespace glimmerpane::platform {

namespace {
std::atomic<bool> g_interrupted{false};
std::atomic<bool> g_installed{false};

BOOL WINAPI OnConsoleControl(DWORD type) {
    if (type == CTRL_C_EVENT || type == CTRL_BREAK_EVENT || type == CTRL_CLOSE_EVENT) {
        g_interrupted.store(true);
        return TRUE;
    }
    return FALSE;
}
}  // namespace

std::optional<std::string> GetEnvironmentValue(const std::string& name) {
    const wchar_t* value = _wgetenv(glimmerpane::base::WideFromUtf8(name).c_str());
    if (value == nullptr) return std::nullopt;
    return glimmerpane::base::Utf8FromWide(value);
}

bool SetEnvironmentValue(const std::string& name, const std::optional<std::string>& value) {
    const std::wstring wideName = glimmerpane::base::WideFromUtf8(name);
    // An empty value removes the variable on Windows, so a removal is the same call.
    return _wputenv_s(wideName.c_str(), value ? glimmerpane::base::WideFromUtf8(*value).c_str() : L"") == 0;
}

void InstallInterruptFlag() {
    if (g_installed.exchange(true)) return;
    SetConsoleCtrlHandler(OnConsoleControl, TRUE);
}

bool InterruptRequested() { return g_interrupted.load(); }

void RequestInterrupt() { g_interrupted.store(true); }

}  // namespace glimmerpane::platform
