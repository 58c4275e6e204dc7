// TileContentFormatter.cpp - the viewer payload around the rendered tiles.
#include "render/TileContentFormatter.h"

#include <rapidjson/stringbuffer.h>
#include <rapidjson/writer.h>

#include "etwlogging/LogCall.h"
#include "platform/LanguageIds.h"
#include "render/JSONParser.h"

namespace Vornik {

// The JSON wrapper's writer over a buffer that keeps its capacity, and the tile XML buffer:
// a payload then costs no large allocation, which the allocator would otherwise hand back
// to the system (and fault in again) on nearly every message.
struct TileContentFormatter::PayloadWriter {
    using Buffer = rapidjson::GenericStringBuffer<JSONParser::Encoding>;
    using Writer = rapidjson::Writer<Buffer, JSONParser::Encoding, JSONParser::Encoding>;

    Buffer buffer;
    Writer writer{buffer};
    std::wstring xml;

    void key(const wchar_t* text) { writer.Key(text, static_cast<rapidjson::SizeType>(std::wcslen(text))); }
    void string(const std::wstring& text) { writer.String(text.data(), static_cast<rapidjson::SizeType>(text.size())); }
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
    out.buffer.Clear();
    out.writer.Reset(out.buffer);
    out.writer.StartObject();
    out.key(L"viewer_payload");
    out.writer.StartObject();
    out.key(L"tiles");
    out.writer.StartArray();
    bool anyRendered = false;
    for (const TileContent content : contents) {
        out.xml.clear();
        if (!placeholders_->getTileXML(out.xml, content, state)) {
            GP_LOG_WARNING(L"TileContentFormatter", L"Vornik::TileContentFormatter::getTilesPayload",
                           L"Skipping creating xml : %ls For TileContent: %d", out.xml.c_str(), static_cast<int>(content));
            continue;
        }
        out.writer.StartObject();
        out.key(L"xml");
        out.string(out.xml);
        out.writer.EndObject();
        anyRendered = true;
    }
    if (!anyRendered) return false;
    out.writer.EndArray();
    out.key(L"clear_existing");
    out.writer.Bool(true);
    out.writer.EndObject();
    out.key(L"viewer_type");
    out.writer.String(L"corvane-uwp-live-tile");
    out.writer.EndObject();
    payload.assign(out.buffer.GetString(), out.buffer.GetSize() / sizeof(wchar_t));
    return true;
}

}  // namespace Vornik
