// DebugOutput.cpp (Windows side) - OutputDebugStringW and FormatMessageW.
#include "platform/DebugOutput.h"

#include <windows.h>

namespace glimmerpane::platform {

// The debugger decides whether anyone reads the channel; writing costs little either way.
bool DebugOutputEnabled() { return true; }

void OutputDebugText(const std::wstring& text) { OutputDebugStringW(text.c_str()); }

std::wstring SystemMessageText(uint32_t code) {
    wchar_t* text = nullptr;
    const DWORD length = FormatMessageW(
        FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, code,
        0, reinterpret_cast<wchar_t*>(&text), 0, nullptr);
    std::wstring result;
    if (length != 0 && text != nullptr) result.assign(text, length);
    LocalFree(text);
    while (!result.empty() && (result.back() == L'\n' || result.back() == L'\r' || result.back() == L' '))
        result.pop_back();
    if (result.empty()) result = L"Unknown error " + std::to_wstring(code);
    return result;
}

}  // namespace glimmerpane::platform
