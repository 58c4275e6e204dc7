// TileContentFormatter.cpp - the viewer payload around the rendered tiles.
#include "render/TileContentFormatter.h"

#include <algorithm>
#include <cstdint>
#include <string_view>
#include <type_traits>

#include "etwlogging/LogCall.h"
#include "platform/LanguageIds.h"

namespace Vornik {

namespace {

bool NeedsEscape(wchar_t c) {
    const auto unit = static_cast<std::make_unsigned_t<wchar_t>>(c);
    return unit < 0x20 || unit == L'"' || unit == L'\\';
}

// Appends text as a JSON string with the escaping of RapidJSON's writer (no flags, wide
// source and target): quote, backslash and the controls below U+0020 are escaped (\b \t \n
// \f \r, else \u00XX in upper-case hex), everything else is copied as it is. The buffer is
// sized once for every character escaped in two (what a tile's quotes need); only a \u00XX
// escape can need more, and then it grows. Blocks of eight without an escape are tested and
// copied whole (the compiler makes vector compares and moves of them).
void AppendJsonString(std::wstring& out, std::wstring_view text) {
    static constexpr wchar_t kHex[] = L"0123456789ABCDEF";
    constexpr size_t kBlock = 8;
    size_t at = out.size();
    out.resize(at + 2 + 2 * text.size());
    wchar_t* p = out.data() + at;
    *p++ = L'"';
    const wchar_t* from = text.data();
    const wchar_t* const end = from + text.size();
    while (from != end) {
        size_t count = std::min(kBlock, static_cast<size_t>(end - from));
        if (count == kBlock) {
            unsigned hit = 0;
            for (size_t k = 0; k < kBlock; ++k) hit |= NeedsEscape(from[k]) ? 1u : 0u;
            if (hit == 0) {
                std::copy_n(from, kBlock, p);
                from += kBlock;
                p += kBlock;
                continue;
            }
        }
        for (; count > 0; --count) {
            const wchar_t c = *from++;
            if (!NeedsEscape(c)) {
                *p++ = c;
                continue;
            }
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
