// Guid.cpp - the registry text form of a GUID.
#include "base/Guid.h"

#include "base/Hex.h"

namespace glimmerpane::base {

namespace {

void AppendHex(std::wstring& out, uint64_t value, int digits) {
    for (int i = digits - 1; i >= 0; --i) out.push_back(static_cast<wchar_t>(HexDigit(static_cast<unsigned>(value >> (4 * i)), true)));
}

}  // namespace

std::wstring GuidToText(const Guid& guid) {
    std::wstring text;
    text.reserve(38);
    text += L'{';
    AppendHex(text, guid.Data1, 8);
    text += L'-';
    AppendHex(text, guid.Data2, 4);
    text += L'-';
    AppendHex(text, guid.Data3, 4);
    text += L'-';
    for (int i = 0; i < 8; ++i) {
        if (i == 2) text += L'-';
        AppendHex(text, guid.Data4[i], 2);
    }
    text += L'}';
    return text;
}

bool GuidFromText(std::wstring_view text, Guid* guid) {
    if (guid == nullptr || text.size() != 38 || text.front() != L'{' || text.back() != L'}') return false;
    if (text[9] != L'-' || text[14] != L'-' || text[19] != L'-' || text[24] != L'-') return false;
    uint64_t d1, d2, d3, a, b;
    if (!ParseHexDigits(text.substr(1), 8, &d1) || !ParseHexDigits(text.substr(10), 4, &d2) ||
        !ParseHexDigits(text.substr(15), 4, &d3) || !ParseHexDigits(text.substr(20), 4, &a) ||
        !ParseHexDigits(text.substr(25), 12, &b)) {
        return false;
    }
    Guid g;
    g.Data1 = static_cast<uint32_t>(d1);
    g.Data2 = static_cast<uint16_t>(d2);
    g.Data3 = static_cast<uint16_t>(d3);
    g.Data4[0] = static_cast<uint8_t>(a >> 8);
    g.Data4[1] = static_cast<uint8_t>(a);
    for (int i = 0; i < 6; ++i) g.Data4[2 + i] = static_cast<uint8_t>(b >> (8 * (5 - i)));
    *guid = g;
    return true;
}

}  // namespace glimmerpane::base
