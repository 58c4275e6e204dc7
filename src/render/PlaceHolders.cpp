// PlaceHolders.cpp - the placeholder template engine of the tile renderer.
#include "render/PlaceHolders.h"

#include <cstdlib>

#include <algorithm>
#include <climits>
#include <locale>


#include "base/WideVector.h"
#include "etwlogging/LogCall.h"
#include "platform/DynamicLibrary.h"
#include "platform/LanguageIds.h"
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



}  // namespace

const TileContentPlaceholderMap tileContentPlaceholders = {
    {L"%TILE_MEDIUM_TEXT_CAPTION%",
     [](PlaceHolders::_Impl& impl, TileContent c, std::wstring& out) {
         impl.tileText(c, &TileResources::mediumCaptionId, L"Vornik::PlaceHolders::_Impl::getMediumTileCaption", out);
     }},
    {L"%TILE_MEDIUM_TEXT_BODY%",
     [](PlaceHolders::_Impl& impl, TileContent c, std::wstring& out) {
         impl.tileText(c, &TileResources::mediumBodyId, L"Vornik::PlaceHolders::_Impl::getMediumTileBody", out);
     }},
    {L"%TILE_WIDE_TEXT_CAPTION%",
     [](PlaceHolders::_Impl& impl, TileContent c, std::wstring& out) {
         impl.tileText(c, &TileResources::wideCaptionId, L"Vornik::PlaceHolders::_Impl::getWideTileCaption", out);
     }},
    {L"%TILE_WIDE_TEXT_BODY%",
     [](PlaceHolders::_Impl& impl, TileContent c, std::wstring& out) {
         impl.tileText(c, &TileResources::wideBodyId, L"Vornik::PlaceHolders::_Impl::getWideTileBody", out);
     }},
    {L"%IMAGE_SRC%", [](PlaceHolders::_Impl& impl, TileContent c, std::wstring& out) { impl.imageSource(c, out); }},
};

const StatisticPlaceholderMap statisticPlaceholders = {
    {L"%NUM_FILES%",
     [](PlaceHolders::_Impl& impl, const ProcState& s, std::wstring& out) { impl.number(s.filesScanned, out); }},
    {L"%NUM_OF_RISKY_CONNECTIONS%",
     [](PlaceHolders::_Impl& impl, const ProcState& s, std::wstring& out) { impl.number(s.connectionsBlocked, out); }},
    {L"%NUM_THREATS_REMOVED%",
     [](PlaceHolders::_Impl& impl, const ProcState& s, std::wstring& out) { impl.number(s.threatsResolved, out); }},
    {L"%CONNECTIONS_BLOCKED_WIDE%",
     [](PlaceHolders::_Impl& impl, const ProcState& s, std::wstring& out) {
         impl.resourceText(countTextId(kConnectionsBlockedIds, s.connectionsBlocked, true), out);
     }},
    {L"%CONNECTIONS_BLOCKED_MEDIUM%",
     [](PlaceHolders::_Impl& impl, const ProcState& s, std::wstring& out) {
         impl.resourceText(countTextId(kConnectionsBlockedIds, s.connectionsBlocked, false), out);
     }},
    {L"%FILES_SCANNED_WIDE%",
     [](PlaceHolders::_Impl& impl, const ProcState& s, std::wstring& out) {
         impl.resourceText(countTextId(kFilesScannedIds, s.filesScanned, true), out);
     }},
    {L"%FILES_SCANNED_MEDIUM%",
     [](PlaceHolders::_Impl& impl, const ProcState& s, std::wstring& out) {
         impl.resourceText(countTextId(kFilesScannedIds, s.filesScanned, false), out);
     }},
    {L"%THREATS_REMOVED_WIDE%",
     [](PlaceHolders::_Impl& impl, const ProcState& s, std::wstring& out) {
         impl.resourceText(countTextId(kThreatsRemovedIds, s.threatsResolved, true), out);
     }},
    {L"%THREATS_REMOVED_MEDIUM%",
     [](PlaceHolders::_Impl& impl, const ProcState& s, std::wstring& out) {
         impl.resourceText(countTextId(kThreatsRemovedIds, s.threatsResolved, false), out);
     }},
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

namespace {

// How many characters from text on the vector scan found nothing to escape in: a whole
// number of vectors, stopping at the one that holds the first. Most values hold none.
size_t CleanPrefix(const std::wstring& text) {
    size_t at = 0;
#if defined(GP_WIDE_VECTOR)
    namespace base = glimmerpane::base;
    for (; at + base::kWidePerVector <= text.size(); at += base::kWidePerVector) {
        const __m128i v = base::LoadWide(text.data() + at);
        const __m128i hits =
            _mm_or_si128(_mm_or_si128(base::EqualWide(v, L'&'), base::EqualWide(v, L'<')),
                         _mm_or_si128(_mm_or_si128(base::EqualWide(v, L'>'), base::EqualWide(v, L'"')),
                                      base::EqualWide(v, L'\'')));
        if (base::WideMask(hits) != 0) break;
    }
#endif
    return at;
}

size_t EscapedLength(const std::wstring& text) {
    size_t length = text.size();
    for (size_t at = CleanPrefix(text); at < text.size(); ++at) {
        const wchar_t c = text[at];
        length += (c == L'&' ? 4u : 0u) + (c == L'<' || c == L'>' ? 3u : 0u) + (c == L'"' || c == L'\'' ? 5u : 0u);
    }
    return length;
}

// Writes text XML-escaped from out on; there is room for EscapedLength(text) characters.
void WriteEscaped(const std::wstring& text, size_t escapedLength, wchar_t* out) {
    if (escapedLength == text.size()) {
        std::copy(text.begin(), text.end(), out);
        return;
    }
    auto put = [&out](const wchar_t* entity, size_t length) { out = std::copy_n(entity, length, out); };
    for (const wchar_t c : text) {
        switch (c) {
            case L'&': put(L"&amp;", 5); break;
            case L'<': put(L"&lt;", 4); break;
            case L'>': put(L"&gt;", 4); break;
            case L'"': put(L"&quot;", 6); break;
            case L'\'': put(L"&apos;", 6); break;
            default: *out++ = c;
        }
    }
}

// Room kept in front of the text still to scan when a replacement does not fit there.
constexpr size_t kFrontRoom = 512;

}  // namespace

bool PlaceHolders::_Impl::replacePlaceHolders(std::wstring& text, TileContent content, const ProcState& state) {
    // work[start:] is the text still to scan. A replacement is written, escaped, just in
    // front of the rest, over characters already consumed, so the rest is never moved.
    work.swap(text);
    text.clear();
    size_t start = 0, replacements = 0;
    for (;;) {
        const std::wstring_view rest = std::wstring_view(work).substr(start);
        const PlaceholderMatch match = findPlaceholder(rest);
        if (!match.found()) {
            text.append(rest);
            return true;
        }
        placeholder.assign(rest.substr(match.position, match.length));
        if (replacements == kMaxReplacementsPerTile) {
            GP_LOG_WARNING(kSource, L"Vornik::PlaceHolders::_Impl::replacePlaceHolders",
                           L"Too many placeholder replacements (%lu) at %ls in %ls ",
                           static_cast<unsigned long>(kMaxReplacementsPerTile), placeholder.c_str(),
                           std::wstring(rest).c_str());
            return false;
        }
        if (!placeholderValue(placeholder, content, state, value)) {
            GP_LOG_WARNING(kSource, L"Vornik::PlaceHolders::_Impl::replacePlaceHolders",
                           L"Failed to replace placeholder %ls in %ls ", placeholder.c_str(), std::wstring(rest).c_str());
            return false;
        }
        ++replacements;
        text.append(rest.substr(0, match.position));
        size_t end = start + match.position + match.length;
        const size_t escaped = EscapedLength(value);
        if (escaped > end) {
            spare.assign(kFrontRoom + escaped, L' ');
            spare.append(work, end);
            work.swap(spare);
            end = kFrontRoom + escaped;
        }
        start = end - escaped;
        WriteEscaped(value, escaped, work.data() + start);
    }
}

bool PlaceHolders::_Impl::placeholderValue(const std::wstring& placeholder, TileContent content,
                                           const ProcState& state, std::wstring& value) {
    value.clear();
    if (auto found = tileContentPlaceholders.find(placeholder); found != tileContentPlaceholders.end()) {
        found->second(*this, content, value);
    } else if (auto statistic = statisticPlaceholders.find(placeholder); statistic != statisticPlaceholders.end()) {
        statistic->second(*this, state, value);
    }
    return !value.empty() && value != placeholder;
}

std::wstring PlaceHolders::_Impl::getPlaceholderValue(const std::wstring& placeholder, TileContent content,
                                                      const ProcState& state) {
    std::wstring value;
    return placeholderValue(placeholder, content, state, value) ? value : placeholder;
}

void PlaceHolders::_Impl::tileText(TileContent content, uint32_t TileResources::*field, const wchar_t* function,
                                   std::wstring& out) {
    out.clear();
    const TileResources* row = findTileResources(content);
    if (row == nullptr) return;
    if (!resources->getResourceString(row->*field, out)) {
        GP_LOG_WARNING(kSource, function, L"Failed to get resource string %lu for TileContent: %d",
                       static_cast<unsigned long>(row->*field), static_cast<int>(content));
        out.clear();
    }
}

std::wstring PlaceHolders::_Impl::getMediumTileCaption(TileContent content) {
    std::wstring text;
    tileText(content, &TileResources::mediumCaptionId, L"Vornik::PlaceHolders::_Impl::getMediumTileCaption", text);
    return text;
}

std::wstring PlaceHolders::_Impl::getMediumTileBody(TileContent content) {
    std::wstring text;
    tileText(content, &TileResources::mediumBodyId, L"Vornik::PlaceHolders::_Impl::getMediumTileBody", text);
    return text;
}

std::wstring PlaceHolders::_Impl::getWideTileCaption(TileContent content) {
    std::wstring text;
    tileText(content, &TileResources::wideCaptionId, L"Vornik::PlaceHolders::_Impl::getWideTileCaption", text);
    return text;
}

std::wstring PlaceHolders::_Impl::getWideTileBody(TileContent content) {
    std::wstring text;
    tileText(content, &TileResources::wideBodyId, L"Vornik::PlaceHolders::_Impl::getWideTileBody", text);
    return text;
}

void PlaceHolders::_Impl::imageSource(TileContent content, std::wstring& out) {
    out.clear();
    const TileResources* row = findTileResources(content);
    if (row == nullptr) return;
    const std::wstring* fileName = findTileImage(row->image);
    if (fileName == nullptr) {
        GP_LOG_WARNING(kSource, L"Vornik::PlaceHolders::_Impl::getImageSource", L"Failed to get the image source for Tile Id %lu",
                       static_cast<unsigned long>(static_cast<uint32_t>(content)));
        return;
    }
    out.assign(*fileName);
}

std::wstring PlaceHolders::_Impl::getImageSource(TileContent content) {
    std::wstring text;
    imageSource(content, text);
    return text;
}

const PlaceHolders::_Impl::NumberFormat& PlaceHolders::_Impl::numberFormat() {
    const uint64_t scope = glimmerpane::platform::UiLanguageScope::current();
    if (scope != 0 && scope == localeScope) return format;
    std::string key = glimmerpane::platform::NumberLocaleKey();
    if (key != localeKey || localeKey.empty()) {
        const glimmerpane::platform::NumberGrouping grouping = glimmerpane::platform::UserNumberGrouping();
        format = NumberFormat{};
        format.grouping = grouping.grouping;
        format.separator = grouping.separator;
        localeKey = std::move(key);
    }
    localeScope = scope;
    return format;
}

void PlaceHolders::_Impl::number(uint64_t value, std::wstring& out) {
    wchar_t digits[20];
    size_t length = 0;
    do {
        digits[length++] = static_cast<wchar_t>(L'0' + value % 10);
        value /= 10;
    } while (value != 0);
    std::reverse(digits, digits + length);

    // Grouped exactly as std::num_put groups (libstdc++'s __add_grouping): group sizes are
    // taken from the right in the order of grouping, its last size repeating; a size of 0
    // or less, or CHAR_MAX, ends the grouping.
    const NumberFormat& number = numberFormat();
    const std::string& grouping = number.grouping;
    auto usable = [](char size) { return static_cast<signed char>(size) > 0 && size != CHAR_MAX; };
    if (grouping.empty() || !usable(grouping[0])) {
        out.assign(digits, length);
        return;
    }
    size_t index = 0, repeats = 0, lead = length;
    while (lead > static_cast<size_t>(grouping[index]) && usable(grouping[index])) {
        lead -= static_cast<size_t>(grouping[index]);
        if (index < grouping.size() - 1) ++index;
        else ++repeats;
    }
    out.assign(digits, lead);
    size_t at = lead;
    auto group = [&](char size) {
        out.push_back(number.separator);
        out.append(digits + at, static_cast<size_t>(size));
        at += static_cast<size_t>(size);
    };
    while (repeats-- > 0) group(grouping[index]);
    while (index-- > 0) group(grouping[index]);
}

std::wstring PlaceHolders::_Impl::formatNumber(uint64_t value) {
    std::wstring text;
    number(value, text);
    return text;
}

void PlaceHolders::_Impl::resourceText(uint32_t id, std::wstring& out) {
    if (!resources->getResourceString(id, out)) out.clear();
}

std::wstring PlaceHolders::_Impl::resourceString(uint32_t id) {
    std::wstring text;
    resourceText(id, text);
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
