// ByteOrder.cpp - UTF-16LE text in byte buffers.
#include "base/ByteOrder.h"

#include "base/Utf.h"

namespace glimmerpane::base {

std::string Utf16LeBytesFromWide(std::wstring_view text, bool withTerminator) {
    const std::u16string units = Utf16FromWide(text);
    std::string bytes;
    bytes.reserve(units.size() * 2 + 2);
    for (char16_t unit : units) AppendLittleEndian<uint16_t>(bytes, unit);
    if (withTerminator) bytes.append(2, '\0');
    return bytes;
}

std::u16string Utf16FromLeBytes(const void* bytes, size_t byteCount) {
    const auto* p = static_cast<const unsigned char*>(bytes);
    std::u16string units(byteCount / 2, u'\0');
    for (size_t i = 0; i < units.size(); ++i) units[i] = static_cast<char16_t>(LoadLe16(p + 2 * i));
    return units;
}

std::wstring WideFromUtf16LeBytes(const void* bytes, size_t byteCount) {
    return WideFromUtf16(Utf16FromLeBytes(bytes, byteCount));
}

}  // namespace glimmerpane::base
