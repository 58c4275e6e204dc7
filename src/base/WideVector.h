// WideVector.h - sixteen bytes of wide characters compared at once, for the loops that scan
// every payload (escaping, the UTF-16 count). SSE2 is part of every x86-64 processor; where
// it is missing GP_WIDE_VECTOR stays undefined and the callers take their plain loops. The
// functions hide the width of wchar_t: four characters per vector where it has 32 bits
// (POSIX), eight where it has 16 (Windows).
#pragma once

#if defined(__SSE2__)
#define GP_WIDE_VECTOR 1

#include <emmintrin.h>

#include <cstddef>
#include <cstdint>

namespace glimmerpane::base {

inline constexpr size_t kWidePerVector = 16 / sizeof(wchar_t);

inline __m128i LoadWide(const wchar_t* from) { return _mm_loadu_si128(reinterpret_cast<const __m128i*>(from)); }

// All ones in the characters equal to c.
inline __m128i EqualWide(__m128i characters, wchar_t c) {
    if constexpr (sizeof(wchar_t) == 4) return _mm_cmpeq_epi32(characters, _mm_set1_epi32(static_cast<int32_t>(c)));
    else return _mm_cmpeq_epi16(characters, _mm_set1_epi16(static_cast<int16_t>(c)));
}

// All ones in the characters below limit (1 to 0x8000), the units compared as unsigned.
inline __m128i BelowWide(__m128i characters, uint16_t limit) {
    if constexpr (sizeof(wchar_t) == 4) {
        // SSE2 compares signed: a unit at or above 2^31 is negative there, hence the > -1.
        return _mm_and_si128(_mm_cmplt_epi32(characters, _mm_set1_epi32(limit)),
                             _mm_cmpgt_epi32(characters, _mm_set1_epi32(-1)));
    } else {
        // A unit below limit saturates to zero.
        return _mm_cmpeq_epi16(_mm_subs_epu16(characters, _mm_set1_epi16(static_cast<int16_t>(limit - 1))),
                               _mm_setzero_si128());
    }
}

// One bit per character of a compare's result, the first character's the lowest.
inline unsigned WideMask(__m128i lanes) {
    if constexpr (sizeof(wchar_t) == 4) return static_cast<unsigned>(_mm_movemask_ps(_mm_castsi128_ps(lanes)));
    else return static_cast<unsigned>(_mm_movemask_epi8(_mm_packs_epi16(lanes, _mm_setzero_si128()))) & 0xFFu;
}

}  // namespace glimmerpane::base

#endif
