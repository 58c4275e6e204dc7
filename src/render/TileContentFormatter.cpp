// TileContentFormatter.cpp - the viewer payload around the rendered tiles.
#include "render/TileContentFormatter.h"

#include <string_view>
#include <type_traits>

#include "etwlogging/LogCall.h"
#include "platform/LanguageIds.h"

namespace Vornik {

namespace {

// Appends text as a JSON string with the escaping of RapidJSON's writer (no flags, wide
// source and target): quote, backslash and the controls below U+0020 are escaped (\b \t \n
// \f \r, else \u00XX in upper-case hex), everything else is copied as it is. Runs without
// an escape are appended whole.
void AppendJsonString(std::wstring& out, std::wstring_view text) {
    static constexpr wchar_t kHex[] = L"0123456789ABCDEF";
    out.push_back(L'"');
    size_t run = 0;
    for (size_t i = 0; i < text.size(); ++i) {
        const auto c = static_cast<std::make_unsigned_t<wchar_t>>(text[i]);
        if (c >= 0x20 && c != L'"' && c != L'\\') continue;
        out.append(text.data() + run, i - run);
        run = i + 1;
        out.push_back(L'\\');
        switch (c) {
            case L'"': out.push_back(L'"'); break;
            case L'\\': out.push_back(L'\\'); break;
            case L'\b': out.push_back(L'b'); break;
            case L'\t': out.push_back(L't'); break;
            case L'\n': out.push_back(L'n'); break;
            case L'\f': out.push_back(L'f'); break;
            case L'\r': out.push_back(L'r'); break;
            default:
                out.append(L"u00");
                out.push_back(kHex[c >> 4]);
                out.push_back(kHex[c & 0xF]);
        }
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
