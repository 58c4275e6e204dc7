#include "platform/RegistryNames.h"

#include "base/Utf.h"
#include "platform/Registry.h"

namespace glimmerpane::platform {

wchar_t FoldRegistryChar(wchar_t c) {
    if (c < 0x80) return (c >= L'a' && c <= L'z') ? static_cast<wchar_t>(c - 32) : c;
    if ((c >= 0xE0 && c <= 0xFE && c != 0xF7)) return static_cast<wchar_t>(c - 32);
    if (c == 0xFF) return 0x178;
    if (c >= 0x100 && c <= 0x17F) {
        if ((c >= 0x139 && c <= 0x148) || (c >= 0x179 && c <= 0x17E)) return (c % 2 == 0) ? c - 1 : c;
        if (c == 0x131 || c == 0x138 || c == 0x149 || c == 0x17F) return c;
        return (c % 2 == 1) ? c - 1 : c;
    }
    if (c >= 0x3B1 && c <= 0x3C9 && c != 0x3C2) return static_cast<wchar_t>(c - 32);
    if (c >= 0x430 && c <= 0x44F) return static_cast<wchar_t>(c - 32);
    if (c >= 0x450 && c <= 0x45F) return static_cast<wchar_t>(c - 80);
    return c;
}

std::wstring FoldRegistryName(std::wstring_view name) {
    std::wstring folded(name);
    for (wchar_t& c : folded) c = FoldRegistryChar(c);
    return folded;
}

std::string FoldRegistryNameUtf8(std::wstring_view name) {
    // Registry paths are nearly always ASCII: fold straight into UTF-8 bytes, which are the
    // bytes the general path would produce. This runs for every part of every path.
    std::string folded;
    folded.reserve(name.size());
    for (const wchar_t c : name) {
        if (c >= 0x80) return base::Utf8FromWide(FoldRegistryName(name));
        folded.push_back(static_cast<char>(FoldRegistryChar(c)));
    }
    return folded;
}

uint32_t NormalizeRegistryAccess(uint32_t access) {
    uint32_t result = access & 0x0000FFFF;
    if (access & 0x80000000u) result |= kKeyRead;       // GENERIC_READ
    if (access & 0x40000000u) result |= kKeyWrite;      // GENERIC_WRITE
    if (access & 0x10000000u) result |= kKeyAllAccess;  // GENERIC_ALL
    if (access & 0x02000000u) result |= kKeyAllAccess;  // MAXIMUM_ALLOWED
    return result | (access & 0x00FF0000u);
}

uint32_t SplitRegistryPath(std::wstring_view path, std::vector<std::wstring>* parts) {
    if (!path.empty() && path.back() == L'\\') path.remove_suffix(1);
    if (path.empty()) return kErrorSuccess;
    size_t start = 0;
    while (true) {
        const size_t end = path.find(L'\\', start);
        const std::wstring_view part = path.substr(start, end == std::wstring_view::npos ? path.size() - start : end - start);
        if (part.empty()) return kErrorBadPathname;
        if (part.size() > kMaxKeyNameLength) return kErrorInvalidParameter;
        parts->emplace_back(part);
        if (end == std::wstring_view::npos) break;
        start = end + 1;
    }
    return kErrorSuccess;
}

uint32_t RegistryNameUnits(std::wstring_view name) { return static_cast<uint32_t>(base::Utf16Length(name)); }

}  // namespace glimmerpane::platform
