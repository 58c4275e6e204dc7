// TileContentFormatter.cpp - the viewer payload around the rendered tiles.
#include "render/TileContentFormatter.h"

#include "etwlogging/LogCall.h"
#include "render/JSONParser.h"

namespace Vornik {

TileContentFormatter::TileContentFormatter(std::shared_ptr<PlaceHolders> placeholders)
    : placeholders_(placeholders ? std::move(placeholders) : std::make_shared<PlaceHolders>(nullptr)) {}

TileContentFormatter::~TileContentFormatter() = default;

bool TileContentFormatter::getTilesPayload(const std::vector<TileContent>& contents, ProcState state,
                                           std::wstring& payload) {
    JSONParser tileSet;
    if (contents.empty()) return false;
    bool anyRendered = false;
    for (const TileContent content : contents) {
        std::wstring xml;
        if (!placeholders_->getTileXML(xml, content, state)) {
            GP_LOG_WARNING(L"TileContentFormatter", L"Vornik::TileContentFormatter::getTilesPayload",
                           L"Skipping creating xml : %ls For TileContent: %d", xml.c_str(), static_cast<int>(content));
            continue;
        }
        JSONParser tile;
        tile.setString(L"xml", xml);
        tileSet.appendToArray(L"tiles", tile);
        anyRendered = true;
    }
    if (!anyRendered) return false;
    tileSet.setBool(L"clear_existing", true);
    JSONParser envelope;
    envelope.setObject(L"viewer_payload", tileSet);
    envelope.setString(L"viewer_type", L"corvane-uwp-live-tile");
    payload = envelope.toString();
    return true;
}

}  // namespace Vornik
