// ByteOrder.h - little-endian integers and UTF-16LE text in byte buffers.
//
// The registry's value data, the event-trace payload, log files and message headers are
// little-endian byte images on every platform. These read and write them byte by byte, so
// they need no alignment and work on any host order.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace glimmerpane::base {

template <class T>
T LoadLittleEndian(const void* bytes) {
    const auto* p = static_cast<const unsigned char*>(bytes);
    T value = 0;
    for (size_t i = sizeof(T); i-- > 0;) value = static_cast<T>((value << 8) | p[i]);
    return value;
}

template <class T>
void StoreLittleEndian(void* bytes, T value) {
    auto* p = static_cast<unsigned char*>(bytes);
    for (size_t i = 0; i < sizeof(T); ++i) p[i] = static_cast<unsigned char>(value >> (8 * i));
}

inline uint16_t LoadLe16(const void* bytes) { return LoadLittleEndian<uint16_t>(bytes); }
inline uint32_t LoadLe32(const void* bytes) { return LoadLittleEndian<uint32_t>(bytes); }
inline uint64_t LoadLe64(const void* bytes) { return LoadLittleEndian<uint64_t>(bytes); }

// Appends value to a byte container of char or uint8_t (std::string, std::vector<uint8_t>).
template <class T, class Bytes>
void AppendLittleEndian(Bytes& out, T value) {
    for (size_t i = 0; i < sizeof(T); ++i) out.push_back(static_cast<typename Bytes::value_type>(value >> (8 * i)));
}

// The UTF-16LE bytes of text (characters above U+FFFF as surrogate pairs), with a two-byte
// terminator when asked.
std::string Utf16LeBytesFromWide(std::wstring_view text, bool withTerminator);

// The UTF-16 units of little-endian bytes; an odd last byte is ignored.
std::u16string Utf16FromLeBytes(const void* bytes, size_t byteCount);

// The wide text of UTF-16LE bytes; an odd last byte is ignored, lone surrogates become U+FFFD.
std::wstring WideFromUtf16LeBytes(const void* bytes, size_t byteCount);

}  // namespace glimmerpane::base
