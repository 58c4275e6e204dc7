// Tests of the viewer payload built around rendered tiles.
#include <gtest/gtest.h>

#include <rapidjson/stringbuffer.h>
#include <rapidjson/writer.h>

#include "platform/DynamicLibrary.h"

#include "render/JSONParser.h"
#include "render/TileContentFormatter.h"
#include "support/TableResources.h"
#include "support/RecordingLogger.h"

namespace Vornik {
namespace {

using ETWLogging::LogSeverity;
using gptest::LogCapture;

// Renders each content as its number; fails for the contents listed.
class ScriptedPlaceHolders : public PlaceHolders {
public:
    ScriptedPlaceHolders(std::vector<TileContent> failing, std::wstring text = L"")
        : PlaceHolders(std::make_shared<ResourceDll>(glimmerpane::platform::LibraryFileName(L"Glimmerpane").c_str(),
                                                     glimmerpane::platform::LibraryFileName(L"GPNResources").c_str(),
                                                     std::make_shared<gptest::TableResourceAPI>(
                                                         std::map<uint32_t, std::wstring>{}))),
          failing_(std::move(failing)),
          text_(std::move(text)) {}
    bool getTileXML(std::wstring& xml, TileContent content, ProcState) override {
        if (std::find(failing_.begin(), failing_.end(), content) != failing_.end()) return false;
        xml = text_.empty() ? L"<tile n=\"" + std::to_wstring(content) + L"\"/>" : text_;
        return true;
    }

private:
    std::vector<TileContent> failing_;
    std::wstring text_;
};

TEST(TileContentFormatter, WrapsTilesInTheViewerEnvelope) {
    TileContentFormatter formatter(std::make_shared<ScriptedPlaceHolders>(std::vector<TileContent>{}));
    std::wstring payload;
    ASSERT_TRUE(formatter.getTilesPayload({FILES_SCANNED, SECURE}, ProcState{}, payload));
    EXPECT_EQ(payload,
              LR"({"viewer_payload":{"tiles":[{"xml":"<tile n=\"3\"/>"},{"xml":"<tile n=\"0\"/>"}],)"
              LR"("clear_existing":true},"viewer_type":"corvane-uwp-live-tile"})");
}

TEST(TileContentFormatter, SkipsFailedTilesAndKeepsTheOrder) {
    TileContentFormatter formatter(std::make_shared<ScriptedPlaceHolders>(std::vector<TileContent>{RTS_OFF}));
    LogCapture capture;
    std::wstring payload;
    ASSERT_TRUE(formatter.getTilesPayload({FIREWALL_OFF, RTS_OFF, UPDATES_OFF}, ProcState{}, payload));
    EXPECT_NE(payload.find(LR"([{"xml":"<tile n=\"10\"/>"},{"xml":"<tile n=\"14\"/>"}])"), std::wstring::npos);
    EXPECT_TRUE(capture.has(LogSeverity::Warning, L"Skipping creating xml :  For TileContent: 5"));
}

TEST(TileContentFormatter, NothingRenderedLeavesThePayloadAlone) {
    TileContentFormatter formatter(std::make_shared<ScriptedPlaceHolders>(std::vector<TileContent>{SECURE, AT_RISK}));
    std::wstring payload = L"previous";
    LogCapture capture;
    EXPECT_FALSE(formatter.getTilesPayload({}, ProcState{}, payload));
    EXPECT_TRUE(capture.records().empty());
    EXPECT_FALSE(formatter.getTilesPayload({SECURE, AT_RISK}, ProcState{}, payload));
    EXPECT_EQ(payload, L"previous");
}

TEST(TileContentFormatter, QuotesAndLineBreaksAreEscapedOnOneLine) {
    TileContentFormatter formatter(
        std::make_shared<ScriptedPlaceHolders>(std::vector<TileContent>{}, L"<text a=\"b\">line\r\nnext\\</text>"));
    std::wstring payload;
    ASSERT_TRUE(formatter.getTilesPayload({SECURE}, ProcState{}, payload));
    EXPECT_EQ(payload.find(L'\n'), std::wstring::npos);
    EXPECT_NE(payload.find(LR"(<text a=\"b\">line\r\nnext\\</text>)"), std::wstring::npos);
    JSONParser parsed;
    ASSERT_TRUE(parsed.parse(payload));
    std::vector<JSONParser> tiles;
    JSONParser set;
    ASSERT_TRUE(parsed.getObject(L"viewer_payload", set));
    ASSERT_TRUE(set.getArray(L"tiles", tiles));
    std::wstring xml;
    ASSERT_TRUE(tiles.at(0).getString(L"xml", xml));
    EXPECT_EQ(xml, L"<text a=\"b\">line\r\nnext\\</text>");
}

// The payload is written without RapidJSON's writer; its strings must still come out exactly
// as that writer writes them, for every character class it treats apart.
TEST(TileContentFormatter, EscapesExactlyAsTheJsonWriter) {
    std::wstring xml;
    for (wchar_t c = 0; c < 0x80; ++c) xml.push_back(c);
    for (const wchar_t c : {0x80, 0xFF, 0x100, 0x2028, 0xD800, 0xFFFF}) xml.push_back(static_cast<wchar_t>(c));
    if constexpr (sizeof(wchar_t) == 4) {
        for (const uint32_t c : {0x10000u, 0x10FFFFu, 0x110000u, 0xFFFFFFFFu}) xml.push_back(static_cast<wchar_t>(c));
    }
    xml += L"<a b=\"\\\"\">";
    rapidjson::GenericStringBuffer<JSONParser::Encoding> expected;
    rapidjson::Writer<decltype(expected), JSONParser::Encoding, JSONParser::Encoding> writer(expected);
    writer.String(xml.data(), static_cast<rapidjson::SizeType>(xml.size()));

    TileContentFormatter formatter(std::make_shared<ScriptedPlaceHolders>(std::vector<TileContent>{}, xml));
    std::wstring payload;
    ASSERT_TRUE(formatter.getTilesPayload({SECURE, AT_RISK}, ProcState{}, payload));
    const std::wstring quoted(expected.GetString(), expected.GetSize() / sizeof(wchar_t));
    EXPECT_EQ(payload, LR"({"viewer_payload":{"tiles":[{"xml":)" + quoted + LR"(},{"xml":)" + quoted +
                           LR"(}],"clear_existing":true},"viewer_type":"corvane-uwp-live-tile"})");
}

}  // namespace
}  // namespace Vornik
