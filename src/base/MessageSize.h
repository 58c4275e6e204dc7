// MessageSize.h - the totalSize of a bus message.
//
// totalSize counts bytes as Windows lays a message out: the header, then name, sender and
// user data as UTF-16 with a two-byte terminator each. A character above U+FFFF therefore
// counts four bytes on every platform. The field is 32 bits wide: larger sums saturate.
#pragma once

#include <cstdint>
#include <limits>
#include <string_view>

#include "base/Utf.h"

namespace glimmerpane::base {

// The exact sum, which may exceed 32 bits.
inline uint64_t MessageSizeExact(uint32_t headerSize, std::wstring_view name, std::wstring_view sender,
                                 std::wstring_view userData) {
    const uint64_t units = uint64_t{Utf16Length(name)} + Utf16Length(sender) + Utf16Length(userData);
    return uint64_t{headerSize} + 3 * 2 + 2 * units;
}

inline uint32_t SaturatedMessageSize(uint64_t exact) {
    return exact > std::numeric_limits<uint32_t>::max() ? std::numeric_limits<uint32_t>::max()
                                                        : static_cast<uint32_t>(exact);
}

}  // namespace glimmerpane::base
