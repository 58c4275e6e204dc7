// PlaceHolders.h - turns one tile content and one status snapshot into one tile's XML.
//
// The shared template (string 101 of the resource library) is rewritten left to right:
// each "%NAME%" is replaced by a caption, body, image file name, formatted statistic or
// count text, and the replacement is scanned again, so texts may embed further
// placeholders. Text already emitted is never rescanned. A placeholder without a non-empty
// value fails the tile, and so does reaching kMaxReplacementsPerTile (a self-referencing
// chain would otherwise expand without end). Every inserted value is XML-escaped (& < > " ')
// because resource texts are plain text while the template is XML.
//
// The rewrite runs in one pass: each replacement is written, escaped, in front of the text
// still to scan (over text already consumed), so the rest of the template is neither copied
// nor moved per placeholder, and the buffers live from tile to tile. Counts are grouped with the separator of the user's locale, read from the
// locale once and kept until the locale's variables change (checked once per
// UiLanguageScope, that is once per tile set, else per call).
//
// One object is used by one thread at a time (the module's worker). Nothing here throws
// for bad data; the constructor throws ModuleException when it has to create the default
// resource library and that fails.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <unordered_map>

#include "render/ResourceDll.h"
#include "render/TileCatalogue.h"
#include "tiles/ProcState.h"

namespace Vornik {

class PlaceHolders {
public:
    class _Impl;

    // An empty resources pointer creates the default ResourceDll for the module's own
    // library and "GPNResources" beside it (platform file names).
    explicit PlaceHolders(std::shared_ptr<ResourceDll> resources);
    virtual ~PlaceHolders();

    // xml receives the finished tile XML and true, or an empty string and false.
    virtual bool getTileXML(std::wstring& xml, TileContent content, ProcState state);

private:
    std::shared_ptr<_Impl> impl;
};

class PlaceHolders::_Impl {
public:
    // Replacements per tile before the tile fails. A tile needs about ten (five content
    // placeholders, a count text and its number); 64 leaves room for richer templates.
    static constexpr size_t kMaxReplacementsPerTile = 64;

    explicit _Impl(std::shared_ptr<ResourceDll> resources);

    bool getTileXML(std::wstring& xml, TileContent content, const ProcState& state);
    bool replacePlaceHolders(std::wstring& text, TileContent content, const ProcState& state);
    // The value of placeholder (both % signs included), or the placeholder itself when it
    // has no non-empty value.
    std::wstring getPlaceholderValue(const std::wstring& placeholder, TileContent content, const ProcState& state);

    std::wstring getMediumTileCaption(TileContent content);
    std::wstring getMediumTileBody(TileContent content);
    std::wstring getWideTileCaption(TileContent content);
    std::wstring getWideTileBody(TileContent content);
    std::wstring getImageSource(TileContent content);

    // The value grouped by the user's locale ("1,234,567" under en_US); the classic locale
    // when the user's cannot be built.
    std::wstring formatNumber(uint64_t value);

    std::wstring getConnectionsBlockedText(const ProcState& state, bool wide);
    std::wstring getFilesScannedText(const ProcState& state, bool wide);
    std::wstring getThreatsRemovedText(const ProcState& state, bool wide);

    // The string resource, or empty when it cannot be read (logged by ResourceDll).
    std::wstring resourceString(uint32_t id);

    // The values above written into a buffer the caller keeps (emptied first; empty when
    // there is none, with the same records), so that a tile allocates no string per value.
    // tileText logs under the name of the getter it serves (function).
    bool placeholderValue(const std::wstring& placeholder, TileContent content, const ProcState& state,
                          std::wstring& value);
    void tileText(TileContent content, uint32_t TileResources::*field, const wchar_t* function, std::wstring& out);
    void imageSource(TileContent content, std::wstring& out);
    void number(uint64_t value, std::wstring& out);
    void resourceText(uint32_t id, std::wstring& out);

private:

    // How the user's locale groups digits.
    struct NumberFormat {
        std::string grouping;  // as std::numpunct::grouping; empty: no grouping
        wchar_t separator = L',';
    };
    // Rebuilt only when the variables that choose the locale change: building a std::locale
    // costs more than the rest of a tile together.
    const NumberFormat& numberFormat();

    std::shared_ptr<ResourceDll> resources;
    std::string localeKey;
    uint64_t localeScope = 0;
    NumberFormat format;
    // Buffers of the rewrite, kept from tile to tile: the text being rewritten, its
    // replacement when a value does not fit in front of the rest, and the placeholder
    // being looked up.
    std::wstring work;
    std::wstring spare;
    std::wstring placeholder;
    std::wstring value;
};

// Each callable writes the placeholder's value into its last argument (empty: no value).
using TileContentPlaceholderMap =
    std::unordered_map<std::wstring, std::function<void(PlaceHolders::_Impl&, TileContent, std::wstring&)>>;
using StatisticPlaceholderMap =
    std::unordered_map<std::wstring, std::function<void(PlaceHolders::_Impl&, const ProcState&, std::wstring&)>>;

// The five content placeholders and the nine statistic placeholders; process-wide constants.
extern const TileContentPlaceholderMap tileContentPlaceholders;
extern const StatisticPlaceholderMap statisticPlaceholders;

// Escapes & < > " ' for XML text and attribute values.
std::wstring escapeXml(const std::wstring& text);

}  // namespace Vornik
