// OSVersion.cpp (Windows side) - VerifyVersionInfoW, version resources, IsWow64Process.
#include "platform/OSVersion.h"

#include <windows.h>
#include <shlobj.h>

namespace glimmerpane::platform {

bool VerifyOSVersion(const OSVersionRecord& record, uint32_t typeMask, uint64_t conditionMask) {
    OSVERSIONINFOEXW info{};
    info.dwOSVersionInfoSize = sizeof info;
    info.dwMajorVersion = record.majorVersion;
    info.dwMinorVersion = record.minorVersion;
    info.dwBuildNumber = record.buildNumber;
    info.dwPlatformId = record.platformId;
    info.wServicePackMajor = record.servicePackMajor;
    info.wServicePackMinor = record.servicePackMinor;
    return VerifyVersionInfoW(&info, typeMask, conditionMask) != FALSE;
}

bool IsWow64() {
    using IsWow64ProcessFn = BOOL(WINAPI*)(HANDLE, PBOOL);
    HMODULE kernel = GetModuleHandleW(L"kernel32");
    if (kernel == nullptr) return false;
    auto fn = reinterpret_cast<IsWow64ProcessFn>(reinterpret_cast<void (*)()>(GetProcAddress(kernel, "IsWow64Process")));
    BOOL wow64 = FALSE;
    return fn != nullptr && fn(GetCurrentProcess(), &wow64) && wow64;
}

uint32_t FileVersionInfoSize(const std::wstring& path) {
    DWORD ignored = 0;
    return GetFileVersionInfoSizeW(path.c_str(), &ignored);
}

bool ReadFileVersionInfo(const std::wstring& path, std::vector<uint8_t>& block) {
    const DWORD size = FileVersionInfoSize(path);
    if (size == 0) return false;
    block.assign(size, 0);
    return GetFileVersionInfoW(path.c_str(), 0, size, block.data()) == 1;
}

bool QueryVersionTranslations(const std::vector<uint8_t>& block, std::vector<std::pair<uint16_t, uint16_t>>& out) {
    void* data = nullptr;
    UINT length = 0;
    if (block.empty() || !VerQueryValueW(block.data(), L"\\VarFileInfo\\Translation", &data, &length)) return false;
    const auto* pairs = static_cast<const WORD*>(data);
    out.clear();
    for (UINT i = 0; i + 1 < length / sizeof(WORD); i += 2) out.emplace_back(pairs[i], pairs[i + 1]);
    return true;
}

bool QueryVersionString(const std::vector<uint8_t>& block, const std::wstring& subBlock, std::wstring& value) {
    void* data = nullptr;
    UINT length = 0;
    if (block.empty() || !VerQueryValueW(block.data(), subBlock.c_str(), &data, &length) || length == 0) return false;
    value.assign(static_cast<const wchar_t*>(data));
    return true;
}

bool SystemFolder(std::wstring& folder) {
    PWSTR path = nullptr;
    const bool ok = SUCCEEDED(SHGetKnownFolderPath(FOLDERID_System, 0, nullptr, &path));
    if (ok) folder = path;
    CoTaskMemFree(path);
    return ok;
}

}  // namespace glimmerpane::platform
