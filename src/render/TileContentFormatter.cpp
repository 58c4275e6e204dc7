// TileContentFormatter.cpp - the viewer payload around the rendered tiles.
#include "render/TileContentFormatter.h"

#include <cstdint>
#include <string_view>
#include <type_traits>

#include "etwlogging/LogCall.h"
#include "platform/LanguageIds.h"

namespace Vornik {

namespace {

unsigned NeedsEscape(wchar_t c) {
    const auto unit = static_cast<uint32_t>(static_cast<std::make_unsigned_t<wchar_t>>(c));
    return static_cast<unsigned>(unit < 0x20) | static_cast<unsigned>(unit == L'"') | static_cast<unsigned>(unit == L'\\');
}

// The position of the first character at or after from that JSON escapes, or the end. Whole
// blocks are tested without an early exit, which the compiler turns into vector compares.
size_t NextEscape(std::wstring_view text, size_t from) {
    constexpr size_t kBlock = 16;
    while (from + kBlock <= text.size()) {
        unsigned hit = 0;
        for (size_t k = 0; k < kBlock; ++k) hit |= NeedsEscape(text[from + k]);
        if (hit != 0) break;
        from += kBlock;
    }
    while (from < text.size() && NeedsEscape(text[from]) == 0) ++from;
    return from;
}

// Appends text as a JSON string with the escaping of RapidJSON's writer (no flags, wide
// source and target): quote, backslash and the controls below U+0020 are escaped (\b \t \n
// \f \r, else \u00XX in upper-case hex), everything else is copied as it is.
void AppendJsonString(std::wstring& out, std::wstring_view text) {
    static constexpr wchar_t kHex[] = L"0123456789ABCDEF";
    out.push_back(L'"');
    size_t run = 0;
    for (size_t at = NextEscape(text, 0); at < text.size(); at = NextEscape(text, run)) {
        out.append(text.data() + run, at - run);
        run = at + 1;
        const wchar_t c = text[at];
        wchar_t escape[6] = {L'\\', c, 0, 0, 0, 0};
        size_t length = 2;
        switch (c) {
            case L'"':
            case L'\\': break;
            case L'\b': escape[1] = L'b'; break;
            case L'\t': escape[1] = L't'; break;
            case L'\n': escape[1] = L'n'; break;
            case L'\f': escape[1] = L'f'; break;
            case L'\r': escape[1] = L'r'; break;
            default:
                escape[1] = L'u';
                escape[2] = escape[3] = L'0';
                escape[4] = kHex[c >> 4];
                escape[5] = kHex[c & 0xF];
                length = 6;
        }
        out.append(escape, length);
    }
    out.append(text.data() + run, text.size() - run);
    out.push_back(L'"');
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
