// Prefix.cpp (Windows side) - the prefix folder: %GLIMMERPANE_PREFIX% or %ProgramData%\Glimmerpane.
#include "platform/Prefix.h"

#include <windows.h>

#include <string>

namespace glimmerpane::platform {

namespace {
std::wstring Env(const wchar_t* name) {
    wchar_t buffer[32768];
    const DWORD length = GetEnvironmentVariableW(name, buffer, static_cast<DWORD>(std::size(buffer)));
    return length > 0 && length < std::size(buffer) ? std::wstring(buffer, length) : std::wstring();
}
}  // namespace

std::wstring PrefixFolder() {
    std::wstring prefix = Env(L"GLIMMERPANE_PREFIX");
    if (prefix.empty()) {
        prefix = Env(L"ProgramData");
        if (prefix.empty()) prefix = L"C:\\ProgramData";
        prefix += L"\\Glimmerpane";
    }
    if (prefix.back() != L'\\' && prefix.back() != L'/') prefix += L'\\';
    return prefix;
}

std::wstring PrefixPath(const std::wstring& relative) {
    std::wstring path = PrefixFolder();
    size_t start = 0;
    while (start < relative.size() && (relative[start] == L'/' || relative[start] == L'\\')) ++start;
    for (size_t i = start; i < relative.size(); ++i) path += relative[i] == L'/' ? L'\\' : relative[i];
    return path;
}

wchar_t PathSeparator() { return L'\\'; }

}  // namespace glimmerpane::platform
