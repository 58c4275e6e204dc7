// TileCatalogue.cpp - the catalogue and image tables.
//
// The ids are those of the shipped resource library. For THREATS_UNRESOLVED and
// SCAN_OUT_OF_DATE the wide caption's id is above the wide body's; that is how the library
// numbers them, not a typo.
#include "render/TileCatalogue.h"

#include <algorithm>

namespace Vornik {

const TileCatalogueMap tileCatalogue = {
    {SECURE, {IMAGE_SECURE, 142, 143, 190, 191}},
    {THREATS_UNRESOLVED, {IMAGE_AT_RISK, 144, 145, 203, 202}},
    {SCAN_OUT_OF_DATE, {IMAGE_AT_RISK, 146, 147, 201, 200}},
    {FILES_SCANNED, {IMAGE_SECURE, 178, 179, 138, 139}},
    {NO_ACTIVE_ANTIVIRUS, {IMAGE_AT_RISK, 148, 149, 198, 199}},
    {RTS_OFF, {IMAGE_AT_RISK, 150, 151, 196, 197}},
    {RTS_REPAIRING, {IMAGE_NEUTRAL, 194, 195, 192, 193}},
    {RTS_STARTING, {IMAGE_NEUTRAL, 152, 153, 112, 113}},
    {THREATS_REMOVED, {IMAGE_SECURE, 176, 177, 136, 137}},
    {NO_ACTIVE_FIREWALL, {IMAGE_AT_RISK, 154, 155, 114, 115}},
    {FIREWALL_OFF, {IMAGE_AT_RISK, 156, 157, 116, 117}},
    {FIREWALL_OFF_BY_USER, {IMAGE_NEUTRAL, 158, 159, 118, 119}},
    {CONNECTIONS_BLOCKED, {IMAGE_SECURE, 180, 181, 140, 141}},
    {DAT_OUT_OF_DATE, {IMAGE_AT_RISK, 162, 163, 122, 123}},
    {UPDATES_OFF, {IMAGE_AT_RISK, 210, 211, 208, 209}},
    {AT_RISK, {IMAGE_AT_RISK, 206, 207, 204, 205}},
};

const TileImageMap tileImages = {
    {IMAGE_SECURE, L"secure.png"},
    {IMAGE_AT_RISK, L"atrisk.png"},
    {IMAGE_NEUTRAL, L"neutral.png"},
    {IMAGE_WARNING, L"warning.png"},
};

const TileResources* findTileResources(TileContent content) {
    const auto found = tileCatalogue.find(content);
    return found == tileCatalogue.end() ? nullptr : &found->second;
}

const std::wstring* findTileImage(TileImage image) {
    const auto found = tileImages.find(image);
    return found == tileImages.end() ? nullptr : &found->second;
}

std::vector<uint32_t> allTileStringIds() {
    std::vector<uint32_t> ids{TILE_TEMPLATE_ID};
    for (const auto& [content, row] : tileCatalogue) {
        ids.insert(ids.end(), {row.mediumCaptionId, row.mediumBodyId, row.wideCaptionId, row.wideBodyId});
    }
    for (uint32_t id = FIRST_COUNT_TEXT_ID; id <= LAST_COUNT_TEXT_ID; ++id) ids.push_back(id);
    std::sort(ids.begin(), ids.end());
    ids.erase(std::unique(ids.begin(), ids.end()), ids.end());
    return ids;
}

}  // namespace Vornik
