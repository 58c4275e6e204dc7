// Guid.h - a GUID with Windows' layout, and its registry text form.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace glimmerpane::base {

struct Guid {
    uint32_t Data1 = 0;
    uint16_t Data2 = 0;
    uint16_t Data3 = 0;
    uint8_t Data4[8] = {};
    friend bool operator==(const Guid&, const Guid&) = default;
};

// "{XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX}" in upper-case hex.
std::wstring GuidToText(const Guid& guid);

// Parses exactly that shape (hex digits of either case); false, with *guid untouched,
// for anything else.
bool GuidFromText(std::wstring_view text, Guid* guid);

}  // namespace glimmerpane::base
