// PlaceHoldersTest.cpp - the placeholder engine: the rewrite and its failures, count texts,
// number formatting per locale, XML escaping, and every content rendered in every shipped
// language into well-formed XML (checked with libxml2).
#include "render/PlaceHolders.h"

#include <gtest/gtest.h>
#include <libxml/parser.h>
#include <libxml/tree.h>

#include "render/FakeResources.h"
#include "render/PlaceholderScanner.h"
#include "support/TestEnvironment.h"
#include "support/RecordingLogger.h"
#include "base/Utf.h"

namespace Vornik {
namespace {

using ETWLogging::LogSeverity;

// A template that uses every content placeholder, and the SECURE strings.
const std::wstring kTemplate =
    L"<tile><image src=\"%IMAGE_SRC%\"/><a>%TILE_MEDIUM_TEXT_CAPTION%</a><b>%TILE_MEDIUM_TEXT_BODY%</b>"
    L"<c>%TILE_WIDE_TEXT_CAPTION%</c><d>%TILE_WIDE_TEXT_BODY%</d></tile>";

std::map<uint32_t, std::wstring> SecureStrings(std::wstring templ = kTemplate) {
    return {{101, std::move(templ)}, {142, L"MC"}, {143, L"MB"}, {190, L"WC"}, {191, L"WB"}};
}

bool Render(const std::map<uint32_t, std::wstring>& strings, std::wstring& xml, TileContent content = SECURE,
            ProcState state = ProcState()) {
    PlaceHolders engine(gptest::MakeFakeResourceDll(strings));
    return engine.getTileXML(xml, content, state);
}

// Parses XML with libxml2; returns the concatenated text of the document, or nullopt.
std::optional<std::string> ParseXml(const std::wstring& xml) {
    const std::string utf8 = glimmerpane::base::Utf8FromWide(xml);
    xmlDocPtr doc = xmlReadMemory(utf8.data(), static_cast<int>(utf8.size()), "tile.xml", "UTF-8",
                                  XML_PARSE_NONET | XML_PARSE_NOERROR | XML_PARSE_NOWARNING);
    if (doc == nullptr) return std::nullopt;
    xmlChar* content = xmlNodeGetContent(xmlDocGetRootElement(doc));
    std::string text = content ? reinterpret_cast<const char*>(content) : "";
    xmlFree(content);
    xmlFreeDoc(doc);
    return text;
}

TEST(PlaceHoldersTest, RendersEveryContentPlaceholder) {
    std::wstring xml;
    ASSERT_TRUE(Render(SecureStrings(), xml));
    EXPECT_EQ(xml, L"<tile><image src=\"secure.png\"/><a>MC</a><b>MB</b><c>WC</c><d>WB</d></tile>");
    ASSERT_TRUE(Render({{101, L"%IMAGE_SRC%"}}, xml, THREATS_UNRESOLVED));
    EXPECT_EQ(xml, L"atrisk.png");
}

TEST(PlaceHoldersTest, TextWithoutPlaceholdersAndDoublePercentStaysAsIs) {
    std::wstring xml;
    ASSERT_TRUE(Render({{101, L"<tile>100%% sure, no placeholders</tile>"}}, xml));
    EXPECT_EQ(xml, L"<tile>100%% sure, no placeholders</tile>");
}

TEST(PlaceHoldersTest, WideThreatAndScanTilesReadCaptionAboveBody) {
    std::wstring xml;
    ASSERT_TRUE(Render({{101, L"%TILE_WIDE_TEXT_CAPTION%|%TILE_WIDE_TEXT_BODY%"}, {203, L"cap"}, {202, L"body"}}, xml,
                       THREATS_UNRESOLVED));
    EXPECT_EQ(xml, L"cap|body");
    ASSERT_TRUE(Render({{101, L"%TILE_WIDE_TEXT_CAPTION%|%TILE_WIDE_TEXT_BODY%"}, {201, L"cap"}, {200, L"body"}}, xml,
                       SCAN_OUT_OF_DATE));
    EXPECT_EQ(xml, L"cap|body");
}

struct Failure {
    const char* name;
    std::map<uint32_t, std::wstring> strings;
    TileContent content;
    std::vector<std::wstring> records;  // each must be logged at severity Warning
};

TEST(PlaceHoldersTest, TilesFailWithEmptyXmlAndTheirRecords) {
    const Failure cases[] = {
        {"missing template", {{142, L"MC"}}, SECURE,
         {L"Failed to load xml resource Id:101. Error: 1814", L"Failed to get XML resource String."}},
        {"unknown placeholder", {{101, L"<a>%NOPE%</a>"}}, SECURE,
         {L"Failed to replace placeholder %NOPE% in <a>%NOPE%</a> "}},
        {"two stray percent signs", {{101, L"<a>50% and 60%</a>"}}, SECURE,
         {L"Failed to replace placeholder % and 60% in <a>50% and 60%</a> "}},
        {"missing caption", {{101, L"x%TILE_MEDIUM_TEXT_CAPTION%"}}, SECURE,
         {L"Failed to get resource string 142 for TileContent: 0",
          L"Failed to replace placeholder %TILE_MEDIUM_TEXT_CAPTION% in x%TILE_MEDIUM_TEXT_CAPTION% "}},
        {"empty body", {{101, L"%TILE_WIDE_TEXT_BODY%"}, {191, L""}}, SECURE,
         {L"Failed to get resource string 191 for TileContent: 0"}},
        {"content outside the catalogue", {{101, L"<a>%TILE_MEDIUM_TEXT_CAPTION%</a>"}}, static_cast<TileContent>(22),
         {L"Failed to replace placeholder %TILE_MEDIUM_TEXT_CAPTION% in <a>%TILE_MEDIUM_TEXT_CAPTION%</a> "}},
        {"missing count text", {{101, L"%FILES_SCANNED_WIDE%"}}, FILES_SCANNED,
         {L"Failed to replace placeholder %FILES_SCANNED_WIDE% in %FILES_SCANNED_WIDE% "}},
        {"self-referencing caption", {{101, L"<a>%TILE_MEDIUM_TEXT_CAPTION%</a>"}, {142, L"x%TILE_MEDIUM_TEXT_CAPTION%"}},
         SECURE, {L"Too many placeholder replacements (64) at %TILE_MEDIUM_TEXT_CAPTION%"}},
        {"chain through two strings",
         {{101, L"%TILE_MEDIUM_TEXT_CAPTION%"}, {142, L"%TILE_WIDE_TEXT_BODY%"}, {191, L"%TILE_MEDIUM_TEXT_CAPTION%"}},
         SECURE, {L"Too many placeholder replacements (64) at %TILE_MEDIUM_TEXT_CAPTION%"}},
    };
    for (const Failure& c : cases) {
        SCOPED_TRACE(c.name);
        gptest::LogCapture capture;
        std::wstring xml = L"stale";
        EXPECT_FALSE(Render(c.strings, xml, c.content));
        EXPECT_TRUE(xml.empty());
        for (const std::wstring& record : c.records) {
            const auto found = capture.containing(record);
            std::string all;
            for (const auto& r : capture.records()) all += glimmerpane::base::Utf8FromWide(r.message) + "\n";
            ASSERT_EQ(found.size(), 1u) << glimmerpane::base::Utf8FromWide(record) << "\nrecords:\n" << all;
            EXPECT_EQ(found[0].severity, LogSeverity::Warning);
        }
    }
}

TEST(PlaceHoldersTest, ReplacementsAreRescannedButEmittedTextIsNot) {
    // The caption expands into a count text, which expands into the number.
    std::map<uint32_t, std::wstring> strings = {
        {101, L"[%TILE_WIDE_TEXT_BODY%]"}, {141, L"%CONNECTIONS_BLOCKED_WIDE%"}, {221, L"%NUM_OF_RISKY_CONNECTIONS% blocked"}};
    ProcState state;
    state.connectionsBlocked = 2;
    std::wstring xml;
    ASSERT_TRUE(Render(strings, xml, CONNECTIONS_BLOCKED, state));
    EXPECT_EQ(xml, L"[2 blocked]");
    // Within the bound a deep chain still works: each step replaces one placeholder.
    strings[101] = std::wstring();
    for (int i = 0; i < 60; ++i) strings[101] += L"%NUM_FILES%";
    state.filesScanned = 7;
    ASSERT_TRUE(Render(strings, xml, CONNECTIONS_BLOCKED, state));
    EXPECT_EQ(xml, std::wstring(60, L'7'));
}

TEST(PlaceHoldersTest, CountTextsFollowCounterAndSize) {
    auto dll = gptest::MakeFakeResourceDll({});
    PlaceHolders::_Impl impl(dll);
    struct Case {
        std::wstring (PlaceHolders::_Impl::*getter)(const ProcState&, bool);
        uint64_t ProcState::*counter;
        uint32_t wideOne, wideOther, mediumOne, mediumOther;
    };
    const Case cases[] = {
        {&PlaceHolders::_Impl::getConnectionsBlockedText, &ProcState::connectionsBlocked, 220, 221, 222, 223},
        {&PlaceHolders::_Impl::getFilesScannedText, &ProcState::filesScanned, 224, 226, 225, 227},
        {&PlaceHolders::_Impl::getThreatsRemovedText, &ProcState::threatsResolved, 228, 230, 229, 231},
    };
    std::map<uint32_t, std::wstring> strings;
    for (uint32_t id = 220; id <= 231; ++id) strings[id] = L"s" + std::to_wstring(id);
    PlaceHolders::_Impl withStrings(gptest::MakeFakeResourceDll(strings));
    for (const Case& c : cases) {
        for (uint64_t value : {0ull, 1ull, 2ull, 1000ull}) {
            ProcState state;
            state.*(c.counter) = value;
            const bool one = value == 1;
            EXPECT_EQ((withStrings.*(c.getter))(state, true), L"s" + std::to_wstring(one ? c.wideOne : c.wideOther));
            EXPECT_EQ((withStrings.*(c.getter))(state, false), L"s" + std::to_wstring(one ? c.mediumOne : c.mediumOther));
            EXPECT_EQ((impl.*(c.getter))(state, true), L"");  // unreadable: empty
        }
    }
}

TEST(PlaceHoldersTest, NumbersAreGroupedByTheUsersLocaleAndABrokenLocaleFallsBack) {
    PlaceHolders::_Impl impl(gptest::MakeFakeResourceDll({}));
    struct Case {
        const char* locale;
        std::wstring expected;
    };
    const Case cases[] = {
        {"en_US.UTF-8", L"1,234,567"},
        {"de_DE.UTF-8", L"1.234.567"},
        {"fr_FR.UTF-8", L"1\u202f234\u202f567"},
        {"C", L"1234567"},
        {"xx_NOWHERE.UTF-8", L"1234567"},
        {"en_US.NOT-A-CODESET", L"1234567"},
    };
    for (const Case& c : cases) {
        gptest::ScopedEnvironment env;
        env.set("LC_ALL", c.locale);
        EXPECT_EQ(impl.formatNumber(1234567), c.expected) << c.locale;
    }
    gptest::ScopedEnvironment env;
    env.set("LC_ALL", "en_US.UTF-8");
    EXPECT_EQ(impl.formatNumber(0), L"0");
    EXPECT_EQ(impl.formatNumber(18446744073709551615ull), L"18,446,744,073,709,551,615");

    std::map<uint32_t, std::wstring> strings = {{101, L"<b>Scanned: %NUM_FILES% files.</b>"}};
    ProcState state;
    state.filesScanned = 1234567;
    std::wstring xml;
    ASSERT_TRUE(Render(strings, xml, FILES_SCANNED, state));
    EXPECT_EQ(xml, L"<b>Scanned: 1,234,567 files.</b>");
}

TEST(PlaceHoldersTest, TextIsEscapedSoQuotesAmpersandsAndLineBreaksKeepTheXmlWellFormed) {
    const std::wstring caption = L"\"Quoted\" & <b>bold</b>\nl'\u00e9t\u00e9";
    std::map<uint32_t, std::wstring> strings = SecureStrings();
    strings[142] = caption;
    std::wstring xml;
    ASSERT_TRUE(Render(strings, xml));
    EXPECT_NE(xml.find(L"&quot;Quoted&quot; &amp; &lt;b&gt;bold&lt;/b&gt;\nl&apos;\u00e9t\u00e9"), std::wstring::npos);
    const auto text = ParseXml(xml);
    ASSERT_TRUE(text.has_value());
    EXPECT_EQ(*text, glimmerpane::base::Utf8FromWide(caption + L"MBWCWB"));
}


// Values are scanned for what to escape a block at a time: each special character at every
// offset of a value longer than two blocks, and one at its very end, must still be found.
TEST(PlaceHoldersTest, EscapesASpecialCharacterAtAnyOffsetOfALongValue) {
    for (const wchar_t special : {L'&', L'<', L'>', L'"', L'\''}) {
        for (size_t at = 0; at < 20; ++at) {
            std::wstring caption(20, L'x');
            caption[at] = special;
            std::map<uint32_t, std::wstring> strings = SecureStrings(L"[%TILE_MEDIUM_TEXT_CAPTION%]");
            strings[142] = caption;
            std::wstring xml;
            ASSERT_TRUE(Render(strings, xml));
            EXPECT_EQ(xml, L"[" + escapeXml(caption) + L"]") << "character " << static_cast<int>(special) << " at " << at;
        }
    }
}
TEST(PlaceHoldersTest, DefaultResourceLibraryNeedsTheModuleLoaded) {
    // The unit tests link the module code statically: no Glimmerpane library is loaded.
    gptest::LogCapture capture;
    EXPECT_ANY_THROW(PlaceHolders(nullptr));
    EXPECT_EQ(capture.containing(L"Failed to get Module handle").size(), 1u);
}

TEST(PlaceHoldersTest, EveryContentRendersInEveryShippedLanguage) {
    const TileContent contents[] = {SECURE,        THREATS_UNRESOLVED, SCAN_OUT_OF_DATE,   FILES_SCANNED,
                                    NO_ACTIVE_ANTIVIRUS, RTS_OFF,      RTS_REPAIRING,      RTS_STARTING,
                                    THREATS_REMOVED, NO_ACTIVE_FIREWALL, FIREWALL_OFF,     FIREWALL_OFF_BY_USER,
                                    CONNECTIONS_BLOCKED, DAT_OUT_OF_DATE, UPDATES_OFF,     AT_RISK};
    struct Language {
        const char* locale;
        const char* filesText;  // what the wide files-scanned body must show
    };
    const Language languages[] = {{"en_US.UTF-8", "1,234,567 files have been checked"},
                                  {"de_DE.UTF-8", "1.234.567 Dateien wurden"},
                                  {"fr_FR.UTF-8", "1\u202f234\u202f567 fichiers ont été analysés"}};
    auto dll = std::make_shared<ResourceDll>(L"gp_unit_tests", L"GPNResources.so", nullptr);
    PlaceHolders engine(dll);
    for (const Language& language : languages) {
        gptest::ScopedEnvironment env;
        env.language(language.locale).set("LC_ALL", language.locale);
        for (uint64_t count : {1ull, 1234567ull}) {
            ProcState state;
            state.filesScanned = count;
            state.connectionsBlocked = count;
            state.threatsResolved = count;
            for (TileContent content : contents) {
                SCOPED_TRACE(testing::Message() << language.locale << " content " << content << " count " << count);
                std::wstring xml;
                ASSERT_TRUE(engine.getTileXML(xml, content, state));
                EXPECT_FALSE(findPlaceholder(xml).found()) << glimmerpane::base::Utf8FromWide(xml);
                const auto text = ParseXml(xml);
                ASSERT_TRUE(text.has_value()) << glimmerpane::base::Utf8FromWide(xml);
                EXPECT_NE(xml.find(L"binding template=\"TileMedium\""), std::wstring::npos);
                EXPECT_NE(xml.find(L"binding template=\"TileWide\""), std::wstring::npos);
                EXPECT_NE(xml.find(L"src=\"" + *findTileImage(findTileResources(content)->image) + L"\""),
                          std::wstring::npos);
                if (content == FILES_SCANNED && count != 1) {
                    EXPECT_NE(text->find(language.filesText), std::string::npos) << *text;
                }
            }
        }
    }
}

}  // namespace
}  // namespace Vornik
