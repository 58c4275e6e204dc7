// PlaceHolders.cpp - the placeholder template engine of the tile renderer.
#include "render/PlaceHolders.h"

#include <cstdlib>

#include <locale>
#include <sstream>

#include "etwlogging/LogCall.h"
#include "platform/DynamicLibrary.h"
#include "platform/LocalTime.h"
#include "render/PlaceholderScanner.h"

namespace Vornik {

namespace {

constexpr const wchar_t* kSource = L"PlaceHolders";

// The count texts: {wide one, wide other, medium one, medium other}.
struct CountTextIds {
    uint32_t wideOne, wideOther, mediumOne, mediumOther;
};
constexpr CountTextIds kConnectionsBlockedIds{220, 221, 222, 223};
constexpr CountTextIds kFilesScannedIds{224, 226, 225, 227};
constexpr CountTextIds kThreatsRemovedIds{228, 230, 229, 231};

uint32_t countTextId(const CountTextIds& ids, uint64_t counter, bool wide) {
    if (wide) return counter == 1 ? ids.wideOne : ids.wideOther;
    return counter == 1 ? ids.mediumOne : ids.mediumOther;
}

std::locale BuildUserLocale() {
    try {
        return std::locale("");
    } catch (const std::exception&) {
        // LANG or LC_* names a locale that is not installed: the digits stay readable.
        return std::locale::classic();
    }
}


}  // namespace

const TileContentPlaceholderMap tileContentPlaceholders = {
    {L"%TILE_MEDIUM_TEXT_CAPTION%", [](PlaceHolders::_Impl& impl, TileContent c) { return impl.getMediumTileCaption(c); }},
    {L"%TILE_MEDIUM_TEXT_BODY%", [](PlaceHolders::_Impl& impl, TileContent c) { return impl.getMediumTileBody(c); }},
    {L"%TILE_WIDE_TEXT_CAPTION%", [](PlaceHolders::_Impl& impl, TileContent c) { return impl.getWideTileCaption(c); }},
    {L"%TILE_WIDE_TEXT_BODY%", [](PlaceHolders::_Impl& impl, TileContent c) { return impl.getWideTileBody(c); }},
    {L"%IMAGE_SRC%", [](PlaceHolders::_Impl& impl, TileContent c) { return impl.getImageSource(c); }},
};

const StatisticPlaceholderMap statisticPlaceholders = {
    {L"%NUM_FILES%", [](PlaceHolders::_Impl& impl, const ProcState& s) { return impl.formatNumber(s.filesScanned); }},
    {L"%NUM_OF_RISKY_CONNECTIONS%",
     [](PlaceHolders::_Impl& impl, const ProcState& s) { return impl.formatNumber(s.connectionsBlocked); }},
    {L"%NUM_THREATS_REMOVED%",
     [](PlaceHolders::_Impl& impl, const ProcState& s) { return impl.formatNumber(s.threatsResolved); }},
    {L"%CONNECTIONS_BLOCKED_WIDE%",
     [](PlaceHolders::_Impl& impl, const ProcState& s) { return impl.getConnectionsBlockedText(s, true); }},
    {L"%CONNECTIONS_BLOCKED_MEDIUM%",
     [](PlaceHolders::_Impl& impl, const ProcState& s) { return impl.getConnectionsBlockedText(s, false); }},
    {L"%FILES_SCANNED_WIDE%", [](PlaceHolders::_Impl& impl, const ProcState& s) { return impl.getFilesScannedText(s, true); }},
    {L"%FILES_SCANNED_MEDIUM%",
     [](PlaceHolders::_Impl& impl, const ProcState& s) { return impl.getFilesScannedText(s, false); }},
    {L"%THREATS_REMOVED_WIDE%",
     [](PlaceHolders::_Impl& impl, const ProcState& s) { return impl.getThreatsRemovedText(s, true); }},
    {L"%THREATS_REMOVED_MEDIUM%",
     [](PlaceHolders::_Impl& impl, const ProcState& s) { return impl.getThreatsRemovedText(s, false); }},
};

std::wstring escapeXml(const std::wstring& text) {
    std::wstring out;
    out.reserve(text.size());
    for (const wchar_t c : text) {
        switch (c) {
            case L'&': out += L"&amp;"; break;
            case L'<': out += L"&lt;"; break;
            case L'>': out += L"&gt;"; break;
            case L'"': out += L"&quot;"; break;
            case L'\'': out += L"&apos;"; break;
            default: out += c;
        }
    }
    return out;
}

// ---- PlaceHolders ----

PlaceHolders::PlaceHolders(std::shared_ptr<ResourceDll> resources)
    : impl(std::make_shared<_Impl>(std::move(resources))) {}

PlaceHolders::~PlaceHolders() = default;

bool PlaceHolders::getTileXML(std::wstring& xml, TileContent content, ProcState state) {
    return impl->getTileXML(xml, content, state);
}

// ---- PlaceHolders::_Impl ----

PlaceHolders::_Impl::_Impl(std::shared_ptr<ResourceDll> resources) : resources(std::move(resources)) {
    if (!this->resources) {
        namespace platform = glimmerpane::platform;
        this->resources = std::make_shared<ResourceDll>(platform::LibraryFileName(L"Glimmerpane").c_str(),
                                                        platform::LibraryFileName(L"GPNResources").c_str(), nullptr);
    }
}

bool PlaceHolders::_Impl::getTileXML(std::wstring& xml, TileContent content, const ProcState& state) {
    if (!resources->getResourceString(TILE_TEMPLATE_ID, xml)) {
        GP_LOG_WARNING(kSource, L"Vornik::PlaceHolders::_Impl::getTileXML", L"Failed to get XML resource String.");
        xml.clear();
        return false;
    }
    if (!replacePlaceHolders(xml, content, state)) {
        xml.clear();
        return false;
    }
    return true;
}

bool PlaceHolders::_Impl::replacePlaceHolders(std::wstring& text, TileContent content, const ProcState& state) {
    std::wstring work = std::move(text);
    text.clear();
    size_t replacements = 0;
    for (;;) {
        const PlaceholderMatch match = findPlaceholder(work);
        if (!match.found()) {
            text += work;
            return true;
        }
        const std::wstring placeholder = work.substr(match.position, match.length);
        if (replacements == kMaxReplacementsPerTile) {
            GP_LOG_WARNING(kSource, L"Vornik::PlaceHolders::_Impl::replacePlaceHolders",
                           L"Too many placeholder replacements (%lu) at %ls in %ls ",
                           static_cast<unsigned long>(kMaxReplacementsPerTile), placeholder.c_str(), work.c_str());
            return false;
        }
        std::wstring value = getPlaceholderValue(placeholder, content, state);
        if (value == placeholder) {
            GP_LOG_WARNING(kSource, L"Vornik::PlaceHolders::_Impl::replacePlaceHolders",
                           L"Failed to replace placeholder %ls in %ls ", placeholder.c_str(), work.c_str());
            return false;
        }
        ++replacements;
        text.append(work, 0, match.position);
        work = escapeXml(value) + work.substr(match.position + match.length);
    }
}

std::wstring PlaceHolders::_Impl::getPlaceholderValue(const std::wstring& placeholder, TileContent content,
                                                      const ProcState& state) {
    std::wstring result;
    if (auto found = tileContentPlaceholders.find(placeholder); found != tileContentPlaceholders.end()) {
        result = found->second(*this, content);
    } else if (auto statistic = statisticPlaceholders.find(placeholder); statistic != statisticPlaceholders.end()) {
        result = statistic->second(*this, state);
    }
    return result.empty() ? placeholder : result;
}

std::wstring PlaceHolders::_Impl::tileString(TileContent content, uint32_t TileResources::*field,
                                             const wchar_t* function) {
    const TileResources* row = findTileResources(content);
    if (row == nullptr) return std::wstring();
    std::wstring text;
    if (!resources->getResourceString(row->*field, text)) {
        GP_LOG_WARNING(kSource, function, L"Failed to get resource string %lu for TileContent: %d",
                       static_cast<unsigned long>(row->*field), static_cast<int>(content));
        return std::wstring();
    }
    return text;
}

std::wstring PlaceHolders::_Impl::getMediumTileCaption(TileContent content) {
    return tileString(content, &TileResources::mediumCaptionId, L"Vornik::PlaceHolders::_Impl::getMediumTileCaption");
}

std::wstring PlaceHolders::_Impl::getMediumTileBody(TileContent content) {
    return tileString(content, &TileResources::mediumBodyId, L"Vornik::PlaceHolders::_Impl::getMediumTileBody");
}

std::wstring PlaceHolders::_Impl::getWideTileCaption(TileContent content) {
    return tileString(content, &TileResources::wideCaptionId, L"Vornik::PlaceHolders::_Impl::getWideTileCaption");
}

std::wstring PlaceHolders::_Impl::getWideTileBody(TileContent content) {
    return tileString(content, &TileResources::wideBodyId, L"Vornik::PlaceHolders::_Impl::getWideTileBody");
}

std::wstring PlaceHolders::_Impl::getImageSource(TileContent content) {
    const TileResources* row = findTileResources(content);
    if (row == nullptr) return std::wstring();
    const std::wstring* fileName = findTileImage(row->image);
    if (fileName == nullptr) {
        GP_LOG_WARNING(kSource, L"Vornik::PlaceHolders::_Impl::getImageSource", L"Failed to get the image source for Tile Id %lu",
                       static_cast<unsigned long>(static_cast<uint32_t>(content)));
        return std::wstring();
    }
    return *fileName;
}

const std::locale& PlaceHolders::_Impl::userLocale() {
    std::string key = glimmerpane::platform::NumberLocaleKey();
    if (key != localeKey || localeKey.empty()) {
        locale = BuildUserLocale();
        localeKey = std::move(key);
    }
    return locale;
}

std::wstring PlaceHolders::_Impl::formatNumber(uint64_t value) {
    std::wostringstream stream;
    stream.imbue(userLocale());
    try {
        const auto& facet = std::use_facet<std::num_put<wchar_t>>(stream.getloc());
        facet.put(std::ostreambuf_iterator<wchar_t>(stream), stream, L' ', static_cast<unsigned long long>(value));
    } catch (const std::exception&) {
        return std::to_wstring(value);
    }
    return stream.str();
}

std::wstring PlaceHolders::_Impl::resourceString(uint32_t id) {
    std::wstring text;
    resources->getResourceString(id, text);
    return text;
}

std::wstring PlaceHolders::_Impl::getConnectionsBlockedText(const ProcState& state, bool wide) {
    return resourceString(countTextId(kConnectionsBlockedIds, state.connectionsBlocked, wide));
}

std::wstring PlaceHolders::_Impl::getFilesScannedText(const ProcState& state, bool wide) {
    return resourceString(countTextId(kFilesScannedIds, state.filesScanned, wide));
}

std::wstring PlaceHolders::_Impl::getThreatsRemovedText(const ProcState& state, bool wide) {
    return resourceString(countTextId(kThreatsRemovedIds, state.threatsResolved, wide));
}

}  // namespace Vornik
