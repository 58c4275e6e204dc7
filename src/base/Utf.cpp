// Utf.cpp - conversions between wide strings, UTF-8 and UTF-16.
#include "base/Utf.h"

#include <algorithm>
#include <cstdint>
#include <type_traits>

#include "base/WideVector.h"

namespace glimmerpane::base {

namespace {

constexpr char32_t kReplacement = 0xFFFD;

bool IsSurrogate(char32_t c) { return c >= 0xD800 && c <= 0xDFFF; }

// Decodes the wide string into code points, pairing surrogates where wchar_t is 16-bit.
template <class Visit>
void ForEachCodePoint(std::wstring_view wide, Visit visit) {
    for (size_t i = 0; i < wide.size(); ++i) {
        char32_t c = static_cast<char32_t>(static_cast<std::make_unsigned_t<wchar_t>>(wide[i]));
        if constexpr (sizeof(wchar_t) == 2) {
            if (c >= 0xD800 && c <= 0xDBFF && i + 1 < wide.size()) {
                const char32_t low = static_cast<char16_t>(wide[i + 1]);
                if (low >= 0xDC00 && low <= 0xDFFF) {
                    visit(0x10000 + ((c - 0xD800) << 10) + (low - 0xDC00));
                    ++i;
                    continue;
                }
            }
        }
        if (IsSurrogate(c) || c > 0x10FFFF) c = kReplacement;
        visit(c);
    }
}

void AppendWide(std::wstring& out, char32_t c) {
    if constexpr (sizeof(wchar_t) == 2) {
        if (c >= 0x10000) {
            c -= 0x10000;
            out.push_back(static_cast<wchar_t>(0xD800 + (c >> 10)));
            out.push_back(static_cast<wchar_t>(0xDC00 + (c & 0x3FF)));
            return;
        }
    }
    out.push_back(static_cast<wchar_t>(c));
}

}  // namespace

std::wstring WideFromUtf8(std::string_view utf8) {
    std::wstring out;
    out.reserve(utf8.size());
    size_t i = 0;
    while (i < utf8.size()) {
        const auto lead = static_cast<unsigned char>(utf8[i]);
        size_t length = 0;
        char32_t c = 0;
        if (lead < 0x80) { c = lead; length = 1; }
        else if ((lead & 0xE0) == 0xC0) { c = lead & 0x1F; length = 2; }
        else if ((lead & 0xF0) == 0xE0) { c = lead & 0x0F; length = 3; }
        else if ((lead & 0xF8) == 0xF0) { c = lead & 0x07; length = 4; }
        else { AppendWide(out, kReplacement); ++i; continue; }

        bool valid = i + length <= utf8.size();
        for (size_t k = 1; valid && k < length; ++k) {
            const auto next = static_cast<unsigned char>(utf8[i + k]);
            if ((next & 0xC0) != 0x80) { valid = false; break; }
            c = (c << 6) | (next & 0x3F);
        }
        static constexpr char32_t kMinimum[] = {0, 0, 0x80, 0x800, 0x10000};
        if (!valid || c < kMinimum[length] || IsSurrogate(c) || c > 0x10FFFF) {
            AppendWide(out, kReplacement);
            ++i;
            continue;
        }
        AppendWide(out, c);
        i += length;
    }
    return out;
}

std::string Utf8FromWide(std::wstring_view wide) {
    std::string out;
    out.reserve(wide.size());
    ForEachCodePoint(wide, [&](char32_t c) {
        if (c < 0x80) {
            out.push_back(static_cast<char>(c));
        } else if (c < 0x800) {
            out.push_back(static_cast<char>(0xC0 | (c >> 6)));
            out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
        } else if (c < 0x10000) {
            out.push_back(static_cast<char>(0xE0 | (c >> 12)));
            out.push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
            out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
        } else {
            out.push_back(static_cast<char>(0xF0 | (c >> 18)));
            out.push_back(static_cast<char>(0x80 | ((c >> 12) & 0x3F)));
            out.push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
            out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
        }
    });
    return out;
}

std::u16string Utf16FromWide(std::wstring_view wide) {
    std::u16string out;
    out.reserve(wide.size());
    ForEachCodePoint(wide, [&](char32_t c) {
        if (c >= 0x10000) {
            c -= 0x10000;
            out.push_back(static_cast<char16_t>(0xD800 + (c >> 10)));
            out.push_back(static_cast<char16_t>(0xDC00 + (c & 0x3FF)));
        } else {
            out.push_back(static_cast<char16_t>(c));
        }
    });
    return out;
}

std::wstring WideFromUtf16(std::u16string_view utf16) {
    std::wstring out;
    out.reserve(utf16.size());
    for (size_t i = 0; i < utf16.size(); ++i) {
        char32_t c = utf16[i];
        if (c >= 0xD800 && c <= 0xDBFF && i + 1 < utf16.size() && utf16[i + 1] >= 0xDC00 && utf16[i + 1] <= 0xDFFF) {
            c = 0x10000 + ((c - 0xD800) << 10) + (utf16[i + 1] - 0xDC00);
            ++i;
        } else if (IsSurrogate(c)) {
            c = kReplacement;
        }
        AppendWide(out, c);
    }
    return out;
}

// Every payload is counted on its way to the bus (by the module and again by the bus
// library), so where SSE2 is there (every x86-64 processor) the count takes sixteen
// characters per step in four independent sums; the compiler's own vectorisation of the
// plain loop ran at about half that speed.
size_t Utf16Length(std::wstring_view wide) {
    if constexpr (sizeof(wchar_t) == 2) return wide.size();
    // What ForEachCodePoint would count, without a branch per character: U+10000..U+10FFFF
    // take a surrogate pair, everything else one unit (a lone surrogate or a value beyond
    // U+10FFFF becomes U+FFFD).
    size_t pairs = 0, at = 0;
#if defined(GP_WIDE_VECTOR)
    // unit - 0x10000 < 0x100000 compared as unsigned numbers: SSE2 compares signed, so both
    // sides have their sign bit flipped. A true compare is -1, so each lane counts down;
    // runs of 2^20 steps keep the 32-bit lanes far from overflow.
    constexpr size_t kStep = 16, kStepsPerRun = size_t{1} << 20;
    const __m128i offset = _mm_set1_epi32(0x10000), sign = _mm_set1_epi32(INT32_MIN);
    const __m128i limit = _mm_xor_si128(_mm_set1_epi32(0x100000), sign);
    const auto pairMask = [&](const wchar_t* from) {
        const __m128i units = LoadWide(from);
        return _mm_cmplt_epi32(_mm_xor_si128(_mm_sub_epi32(units, offset), sign), limit);
    };
    while (wide.size() - at >= kStep) {
        const size_t runEnd = at + std::min(kStepsPerRun, (wide.size() - at) / kStep) * kStep;
        __m128i a = _mm_setzero_si128(), b = a, c = a, d = a;
        for (const wchar_t* p = wide.data() + at; at < runEnd; at += kStep, p += kStep) {
            a = _mm_sub_epi32(a, pairMask(p));
            b = _mm_sub_epi32(b, pairMask(p + 4));
            c = _mm_sub_epi32(c, pairMask(p + 8));
            d = _mm_sub_epi32(d, pairMask(p + 12));
        }
        alignas(16) uint32_t lanes[4][4];
        _mm_store_si128(reinterpret_cast<__m128i*>(lanes[0]), a);
        _mm_store_si128(reinterpret_cast<__m128i*>(lanes[1]), b);
        _mm_store_si128(reinterpret_cast<__m128i*>(lanes[2]), c);
        _mm_store_si128(reinterpret_cast<__m128i*>(lanes[3]), d);
        for (const auto& lane : lanes) pairs += size_t{lane[0]} + lane[1] + lane[2] + lane[3];
    }
#endif
    for (; at < wide.size(); ++at) {
        const auto unit = static_cast<uint32_t>(static_cast<std::make_unsigned_t<wchar_t>>(wide[at]));
        pairs += unit - 0x10000u < 0x100000u ? 1u : 0u;
    }
    return wide.size() + pairs;
}

}  // namespace glimmerpane::base
