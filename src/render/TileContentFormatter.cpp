// TileContentFormatter.cpp - the viewer payload around the rendered tiles.
#include "render/TileContentFormatter.h"

#include <algorithm>
#include <bit>
#include <cstdint>
#include <cstring>
#include <string_view>
#include <type_traits>


#include "base/WideVector.h"
#include "etwlogging/LogCall.h"
#include "platform/LanguageIds.h"

namespace Vornik {

namespace {

bool NeedsEscape(wchar_t c) {
    const auto unit = static_cast<std::make_unsigned_t<wchar_t>>(c);
    return unit < 0x20 || unit == L'"' || unit == L'\\';
}

constexpr size_t kBlock = 8;

// Bit k is set when from[k] needs an escape, for the eight characters from on.
unsigned EscapeMask(const wchar_t* from) {
    unsigned mask = 0;
#if defined(GP_WIDE_VECTOR)
    namespace base = glimmerpane::base;
    for (size_t k = 0; k < kBlock; k += base::kWidePerVector) {
        const __m128i characters = base::LoadWide(from + k);
        const __m128i hits = _mm_or_si128(base::BelowWide(characters, 0x20),
                                          _mm_or_si128(base::EqualWide(characters, L'"'), base::EqualWide(characters, L'\\')));
        mask |= base::WideMask(hits) << k;
    }
#else
    for (size_t k = 0; k < kBlock; ++k) mask |= (NeedsEscape(from[k]) ? 1u : 0u) << k;
#endif
    return mask;
}

// Appends text as a JSON string with the escaping of RapidJSON's writer (no flags, wide
// source and target): quote, backslash and the controls below U+0020 are escaped (\b \t \n
// \f \r, else \u00XX in upper-case hex), everything else is copied as it is. The buffer is
// sized once for every character escaped in two (what a tile's quotes need); only a \u00XX
// escape can need more, and then it grows. The text is tested eight characters at a time:
// the block is copied whole, and when it holds an escape the copy counts only up to the
// first one, and the next block starts right after it. A tile's XML has a quote every
// dozen characters or so, so most blocks hold one. The whole-block copy may write past
// what it counts, never past the buffer: the room left is always at least twice the
// characters still to write.
void AppendJsonString(std::wstring& out, std::wstring_view text) {
    static constexpr wchar_t kHex[] = L"0123456789ABCDEF";
    size_t at = out.size();
    out.resize(at + 2 + 2 * text.size());
    wchar_t* p = out.data() + at;
    *p++ = L'"';
    const wchar_t* from = text.data();
    const wchar_t* const end = from + text.size();
    while (from != end) {
        if (static_cast<size_t>(end - from) >= kBlock) {
            const unsigned mask = EscapeMask(from);
            std::memcpy(p, from, kBlock * sizeof(wchar_t));  // a constant size: two moves, no call
            const size_t clean = mask == 0 ? kBlock : static_cast<size_t>(std::countr_zero(mask));
            from += clean;
            p += clean;
            if (clean == kBlock) continue;
        } else if (!NeedsEscape(*from)) {
            *p++ = *from++;
            continue;
        }
        const wchar_t c = *from++;
        *p++ = L'\\';
        switch (c) {
            case L'"':
            case L'\\': *p++ = c; break;
            case L'\b': *p++ = L'b'; break;
            case L'\t': *p++ = L't'; break;
            case L'\n': *p++ = L'n'; break;
            case L'\f': *p++ = L'f'; break;
            case L'\r': *p++ = L'r'; break;
            default: {
                // Four more than the two counted for this character; the rest still fits.
                at = static_cast<size_t>(p - out.data());
                out.resize(out.size() + 4);
                p = out.data() + at;
                *p++ = L'u';
                *p++ = L'0';
                *p++ = L'0';
                *p++ = kHex[c >> 4];
                *p++ = kHex[c & 0xF];
            }
        }
    }
    *p++ = L'"';
    out.resize(static_cast<size_t>(p - out.data()));
}

}  // namespace

// The payload and the tile XML are written into buffers that keep their capacity: a payload
// then costs no large allocation, which the allocator would otherwise hand back to the
// system (and fault in again) on nearly every message.
struct TileContentFormatter::PayloadWriter {
    std::wstring text;
    std::wstring xml;
};

TileContentFormatter::TileContentFormatter(std::shared_ptr<PlaceHolders> placeholders)
    : placeholders_(placeholders ? std::move(placeholders) : std::make_shared<PlaceHolders>(nullptr)),
      writer_(std::make_unique<PayloadWriter>()) {}

TileContentFormatter::~TileContentFormatter() = default;

bool TileContentFormatter::getTilesPayload(const std::vector<TileContent>& contents, ProcState state,
                                           std::wstring& payload) {
    if (contents.empty()) return false;
    // The user's language is read once for the whole tile set, not once per string.
    const glimmerpane::platform::UiLanguageScope languages;
    PayloadWriter& out = *writer_;
    out.text.assign(LR"({"viewer_payload":{"tiles":[)");
    bool anyRendered = false;
    for (const TileContent content : contents) {
        out.xml.clear();
        if (!placeholders_->getTileXML(out.xml, content, state)) {
            GP_LOG_WARNING(L"TileContentFormatter", L"Vornik::TileContentFormatter::getTilesPayload",
                           L"Skipping creating xml : %ls For TileContent: %d", out.xml.c_str(), static_cast<int>(content));
            continue;
        }
        out.text.append(anyRendered ? LR"(,{"xml":)" : LR"({"xml":)");
        AppendJsonString(out.text, out.xml);
        out.text.push_back(L'}');
        anyRendered = true;
    }
    if (!anyRendered) return false;
    out.text.append(LR"(],"clear_existing":true},"viewer_type":"corvane-uwp-live-tile"})");
    payload.swap(out.text);
    return true;
}

}  // namespace Vornik
