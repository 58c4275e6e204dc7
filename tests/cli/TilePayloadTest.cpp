// Reading tile payloads back: the JSON envelope, the tile XML, entities, and naming tiles.
#include <gtest/gtest.h>

#include "cli/TilePayload.h"
#include "render/JSONParser.h"
#include "base/Utf.h"

namespace glimmerpane::cli {
namespace {

std::string TileXml(const std::string& image, const std::string& mc, const std::string& mb, const std::string& wc,
                    const std::string& wb) {
    return "<tile><visual><binding template=\"TileMedium\" hint-textStacking=\"center\"><image placement=\"peek\" src=\"" +
           image + "\"/><text hint-style=\"base\">" + mc + "</text><text hint-style=\"captionSubtle\">" + mb +
           "</text></binding><binding template=\"TileWide\"><image src=\"" + image + "\"/><text>" + wc +
           "</text><text>" + wb + "</text></binding></visual></tile>";
}

// Builds the payload as the module's formatter does, through the same JSON wrapper.
std::string Payload(const std::vector<std::string>& xmls) {
    Vornik::JSONParser set;
    for (const std::string& xml : xmls) {
        Vornik::JSONParser tile;
        tile.setString(L"xml", glimmerpane::base::WideFromUtf8(xml));
        set.appendToArray(L"tiles", tile);
    }
    set.setBool(L"clear_existing", true);
    Vornik::JSONParser envelope;
    envelope.setObject(L"viewer_payload", set);
    envelope.setString(L"viewer_type", L"corvane-uwp-live-tile");
    return glimmerpane::base::Utf8FromWide(envelope.toString());
}

TEST(TilePayload, DecodesEveryTileInOrderWithBothBindings) {
    const std::string payload = Payload({
        TileXml("neutral.png", "Firewall off", "You turned &quot;it&quot; off.", "Firewall turned off", "Line\nbreak"),
        TileXml("secure.png", "Sch&#252;tzt &amp; gut", "1.234 &lt;Dateien&gt;", "Gesch&#xFC;tzt", "Body"),
    });
    DecodedPayload decoded;
    std::string reason;
    ASSERT_TRUE(DecodePayload(payload, &decoded, &reason)) << reason;
    EXPECT_TRUE(decoded.clearExisting);
    EXPECT_EQ(decoded.viewerType, "corvane-uwp-live-tile");
    ASSERT_EQ(decoded.tiles.size(), 2u);
    EXPECT_EQ(decoded.tiles[0].medium.image, "neutral.png");
    EXPECT_EQ(decoded.tiles[0].medium.caption, "Firewall off");
    EXPECT_EQ(decoded.tiles[0].medium.body, "You turned \"it\" off.");
    EXPECT_EQ(decoded.tiles[0].wide.caption, "Firewall turned off");
    EXPECT_EQ(decoded.tiles[0].wide.body, "Line\nbreak");
    EXPECT_EQ(decoded.tiles[1].medium.caption, "Sch\xC3\xBC" "tzt & gut");
    EXPECT_EQ(decoded.tiles[1].medium.body, "1.234 <Dateien>");
    EXPECT_EQ(decoded.tiles[1].wide.caption, "Gesch\xC3\xBC" "tzt");
    EXPECT_EQ(decoded.tiles[1].name, "?");
}

TEST(TilePayload, RefusesTextsThatAreNotPayloads) {
    const std::pair<const char*, const char*> cases[] = {
        {"not json", "not valid JSON"},
        {"{}", "viewer_payload"},
        {"{\"viewer_payload\":{\"tiles\":3}}", "tiles"},
        {"{\"viewer_payload\":{\"tiles\":[{\"xml\":1}]}}", "tile 1 has no \"xml\""},
    };
    for (const auto& [text, reasonPart] : cases) {
        DecodedPayload decoded;
        std::string reason;
        EXPECT_FALSE(DecodePayload(text, &decoded, &reason)) << text;
        EXPECT_NE(reason.find(reasonPart), std::string::npos) << text << " -> " << reason;
    }
}

TEST(TilePayload, EntityDecodingLeavesUnknownAndBrokenReferencesAsWritten) {
    const std::pair<const char*, const char*> cases[] = {
        {"a &amp; b", "a & b"},
        {"&lt;&gt;&quot;&apos;", "<>\"'"},
        {"&#65;&#x42;", "AB"},
        {"&nbsp; &bogus; & &#; &#xD800; &#1114112;", "&nbsp; &bogus; & &#; &#xD800; &#1114112;"},
        {"&#x1F600;", "\xF0\x9F\x98\x80"},
    };
    for (const auto& [in, out] : cases) EXPECT_EQ(DecodeXmlEntities(in), out) << in;
}

TEST(TilePayload, XmlWithoutBindingsIsReported) {
    TileBinding medium, wide;
    EXPECT_FALSE(ParseTileXml("<tile><visual/></tile>", &medium, &wide));
    EXPECT_TRUE(ParseTileXml("<binding template='TileWide'><text/><text>b</text></binding>", &medium, &wide));
    EXPECT_EQ(wide.caption, "");
    EXPECT_EQ(wide.body, "b");
}

TEST(TilePayload, NamerTellsTilesApartByImageAndBothCaptions) {
    // FIREWALL_OFF and FIREWALL_OFF_BY_USER share their medium caption.
    TileNamer namer(std::map<std::string, TileSignature>{
        {"FIREWALL_OFF", {"atrisk.png", "Firewall off", "Your firewall is off"}},
        {"FIREWALL_OFF_BY_USER", {"neutral.png", "Firewall off", "Firewall turned off"}},
    });
    DecodedPayload decoded;
    std::string reason;
    ASSERT_TRUE(DecodePayload(Payload({TileXml("neutral.png", "Firewall off", "x", "Firewall turned off", "y"),
                                       TileXml("atrisk.png", "Firewall off", "x", "Your firewall is off", "y"),
                                       TileXml("atrisk.png", "Firewall off", "x", "Something else", "y")}),
                              &decoded, &reason));
    namer.nameAll(&decoded);
    EXPECT_EQ(decoded.tiles[0].name, "FIREWALL_OFF_BY_USER");
    EXPECT_EQ(decoded.tiles[1].name, "FIREWALL_OFF");
    EXPECT_EQ(decoded.tiles[2].name, "?");
}

TEST(TilePayload, NamerWithoutItsLibrarySaysWhy) {
    TileNamer namer(L"/nonexistent/GPNResources.so");
    EXPECT_NE(namer.error().find("cannot load"), std::string::npos);
    DecodedTile tile;
    EXPECT_EQ(namer.nameOf(tile), "?");
}

}  // namespace
}  // namespace glimmerpane::cli
