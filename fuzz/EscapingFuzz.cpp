// EscapingFuzz.cpp - libFuzzer target that checks the hand-vectorised text loops against
// their plain references on any text:
//   the UTF-16 count against the length of the converted text;
//   a tile's XML escaping of a placeholder value against escapeXml;
//   the payload's JSON escaping against RapidJSON's rules, written out plainly.
// Any difference aborts. The loops test and copy whole blocks, so the sanitizers also watch
// every read and write near the ends of the texts.
#include <fuzzer/FuzzedDataProvider.h>

#include <cstdint>
#include <cstdlib>
#include <map>
#include <memory>
#include <string>
#include <type_traits>

#include "base/Utf.h"
#include "render/FakeResources.h"
#include "render/PlaceHolders.h"
#include "render/TileContentFormatter.h"

namespace {

// Renders every tile as the given text.
class FixedPlaceHolders : public Vornik::PlaceHolders {
public:
    explicit FixedPlaceHolders(const std::wstring& text)
        : PlaceHolders(gptest::MakeFakeResourceDll({})), text_(text) {}
    bool getTileXML(std::wstring& xml, Vornik::TileContent, Vornik::ProcState) override {
        xml = text_;
        return true;
    }

private:
    const std::wstring& text_;
};

// Mostly one byte per character (the controls, quotes, ampersands and brackets the loops
// look for are all below 0x80), sometimes any 32-bit (or 16-bit) unit.
std::wstring TextFrom(FuzzedDataProvider& input) {
    std::wstring text;
    while (input.remaining_bytes() > 0) {
        const uint8_t lead = input.ConsumeIntegral<uint8_t>();
        if (lead < 0xF0) {
            text.push_back(static_cast<wchar_t>(lead));
        } else {
            text.push_back(static_cast<wchar_t>(input.ConsumeIntegral<std::make_unsigned_t<wchar_t>>()));
        }
    }
    return text;
}

// RapidJSON's writer's escaping, one character at a time (the unit tests hold the loop to the
// writer itself for every character class; its buffer trips UBSan's null-pointer arithmetic
// on first use, so the writer cannot run under this target's sanitizers).
std::wstring JsonQuoted(const std::wstring& text) {
    static constexpr wchar_t kHex[] = L"0123456789ABCDEF";
    std::wstring out = L"\"";
    for (const wchar_t c : text) {
        const auto unit = static_cast<std::make_unsigned_t<wchar_t>>(c);
        if (c == L'"' || c == L'\\') {
            out += L'\\';
            out += c;
        } else if (unit >= 0x20) {
            out += c;
        } else if (c == L'\b') {
            out += L"\\b";
        } else if (c == L'\t') {
            out += L"\\t";
        } else if (c == L'\n') {
            out += L"\\n";
        } else if (c == L'\f') {
            out += L"\\f";
        } else if (c == L'\r') {
            out += L"\\r";
        } else {
            out += L"\\u00";
            out += kHex[unit >> 4];
            out += kHex[unit & 0xF];
        }
    }
    return out + L"\"";
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    FuzzedDataProvider input(data, size);
    const std::wstring text = TextFrom(input);

    if (glimmerpane::base::Utf16Length(text) != glimmerpane::base::Utf16FromWide(text).size()) std::abort();

    // As a caption, with '%' taken out so that the value names no placeholder of its own.
    std::wstring caption = text;
    for (wchar_t& c : caption)
        if (c == L'%') c = L'x';
    if (!caption.empty()) {
        Vornik::PlaceHolders engine(gptest::MakeFakeResourceDll({{101, L"[%TILE_MEDIUM_TEXT_CAPTION%]"}, {142, caption}}));
        std::wstring xml;
        if (!engine.getTileXML(xml, Vornik::SECURE, Vornik::ProcState{})) std::abort();
        if (xml != L"[" + Vornik::escapeXml(caption) + L"]") std::abort();
    }

    Vornik::TileContentFormatter formatter(std::make_shared<FixedPlaceHolders>(text));
    std::wstring payload;
    if (!formatter.getTilesPayload({Vornik::SECURE}, Vornik::ProcState{}, payload)) std::abort();
    const std::wstring quoted = JsonQuoted(text);
    if (payload != LR"({"viewer_payload":{"tiles":[{"xml":)" + quoted +
                       LR"(}],"clear_existing":true},"viewer_type":"corvane-uwp-live-tile"})")
        std::abort();
    return 0;
}
