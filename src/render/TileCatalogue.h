// TileCatalogue.h - the fixed vocabulary of what a live tile can say.
//
// Every tile content is bound to one image and to four string resources of the resource
// library (medium caption and body, wide caption and body). The catalogue holds only ids and
// file names; every text lives in the resource library. Both tables are process-wide
// constants built at static initialisation and never changed, so any thread may read them
// without a lock. Do not read them from another translation unit's static initialiser.
#pragma once

#include <cstdint>
#include <string>
#include <unordered_map>
#include <vector>

namespace Vornik {

// Values are fixed and have gaps; logs print them as decimal integers.
enum TileContent : int32_t {
    SECURE = 0,
    THREATS_UNRESOLVED = 1,
    SCAN_OUT_OF_DATE = 2,
    FILES_SCANNED = 3,
    NO_ACTIVE_ANTIVIRUS = 4,
    RTS_OFF = 5,
    RTS_REPAIRING = 6,
    RTS_STARTING = 7,
    THREATS_REMOVED = 8,
    NO_ACTIVE_FIREWALL = 9,
    FIREWALL_OFF = 10,
    FIREWALL_OFF_BY_USER = 11,
    CONNECTIONS_BLOCKED = 12,
    DAT_OUT_OF_DATE = 13,
    UPDATES_OFF = 14,
    AT_RISK = 21,
};

enum TileImage : int32_t {
    IMAGE_SECURE = 0,
    IMAGE_AT_RISK = 1,
    IMAGE_NEUTRAL = 2,
    IMAGE_WARNING = 3,
};

struct TileResources {
    TileImage image;
    uint32_t mediumCaptionId;
    uint32_t mediumBodyId;
    uint32_t wideCaptionId;
    uint32_t wideBodyId;
};

// The tile XML template shared by every content.
inline constexpr uint32_t TILE_TEMPLATE_ID = 101;

// The count texts read by the placeholder engine (connections blocked, files scanned,
// threats removed; one/other; wide/medium).
inline constexpr uint32_t FIRST_COUNT_TEXT_ID = 220;
inline constexpr uint32_t LAST_COUNT_TEXT_ID = 231;

// Hashes an enumeration by its integer value.
struct EnumValueHash {
    template <class E>
    size_t operator()(E value) const noexcept {
        return std::hash<int32_t>()(static_cast<int32_t>(value));
    }
};

using TileCatalogueMap = std::unordered_map<TileContent, TileResources, EnumValueHash>;
using TileImageMap = std::unordered_map<TileImage, std::wstring, EnumValueHash>;

// The 16 contents and their resources; any other value is absent.
extern const TileCatalogueMap tileCatalogue;
// The four images and their bare file names ("secure.png"); no path.
extern const TileImageMap tileImages;

// Lookups: null when the value is absent. The pointers stay valid for the life of the process.
const TileResources* findTileResources(TileContent content);
const std::wstring* findTileImage(TileImage image);

// Every string resource id the module reads: the template, the 64 captions and bodies and
// the 12 count texts, ascending and without duplicates.
std::vector<uint32_t> allTileStringIds();

}  // namespace Vornik
