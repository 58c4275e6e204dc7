// The HTML preview page and its file writer.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "cli/HtmlPreview.h"
#include "support/TempRegistry.h"

namespace glimmerpane::cli {
namespace {

DecodedTile Tile(const std::string& name, const std::string& image, const std::string& caption) {
    DecodedTile t;
    t.name = name;
    t.medium = {image, caption, "medium body"};
    t.wide = {image, caption + " (wide)", "wide body"};
    return t;
}

TEST(HtmlPreview, DrawsEachTileInBothSizesOnTheColourOfItsImage) {
    gptest::TempFolder images;
    {
        std::ofstream png(images.path() / "secure.png", std::ios::binary);
        png << "PNGDATA";
    }
    PreviewSection section;
    section.title = "Step <one>";
    section.notes = {"sent Core.Protection.State {\"state\":\"red\"}"};
    PreviewTileSet set;
    set.label = "tile set 1";
    set.payload.tiles = {Tile("SECURE", "secure.png", "You're <safe> & sound"), Tile("RTS_OFF", "atrisk.png", "Off"),
                         Tile("X", "warning.png", "Warn"), Tile("Y", "neutral.png", "Grey"),
                         Tile("Z", "../../etc/passwd", "Sneaky")};
    section.tileSets.push_back(set);
    const std::string html = RenderPreviewHtml("Day", "summary text", {section}, images.wide());

    EXPECT_NE(html.find("<title>Day</title>"), std::string::npos);
    EXPECT_NE(html.find("Step &lt;one&gt;"), std::string::npos);
    EXPECT_NE(html.find("<div class=\"caption\">You&#39;re &lt;safe&gt; &amp; sound</div>"), std::string::npos);
    EXPECT_NE(html.find("class=\"tile medium secure\" data-tile=\"SECURE\" data-size=\"medium\""), std::string::npos);
    EXPECT_NE(html.find("class=\"tile wide secure\" data-tile=\"SECURE\" data-size=\"wide\""), std::string::npos);
    EXPECT_NE(html.find("class=\"tile medium atrisk\" data-tile=\"RTS_OFF\""), std::string::npos);
    EXPECT_NE(html.find("class=\"tile medium warning\" data-tile=\"X\""), std::string::npos);
    EXPECT_NE(html.find("class=\"tile medium neutral\" data-tile=\"Y\""), std::string::npos);
    // The shipped image is embedded; a missing one or a path is not looked up at all.
    EXPECT_NE(html.find("src=\"data:image/png;base64,UE5HREFUQQ==\""), std::string::npos);
    EXPECT_EQ(html.find("passwd\" src="), std::string::npos);
    EXPECT_EQ(html.find("atrisk.png\" src="), std::string::npos);
    // Self-contained: nothing is fetched.
    EXPECT_EQ(html.find("http://"), std::string::npos);
    EXPECT_EQ(html.find("https://"), std::string::npos);
    EXPECT_EQ(html.find("<script"), std::string::npos);
}

TEST(HtmlPreview, FoldsRepeatedTileSetsLabelsSizesAndSpeaksThePagesLanguage) {
    PreviewSection section;
    section.title = "Start";
    for (int i = 1; i <= 4; ++i) {
        PreviewTileSet set;
        set.label = "tile set " + std::to_string(i);
        set.payload.tiles = {Tile(i < 4 ? "SECURE" : "FIREWALL_OFF_BY_USER", "secure.png", i < 4 ? "Secure" : "Off")};
        section.tileSets.push_back(set);
    }
    const std::string html = RenderPreviewHtml("Day", "", {section}, L"", "de-DE");
    EXPECT_NE(html.find("<html lang=\"de-DE\">"), std::string::npos);
    // Three unchanged sets in a row are one entry with their count; the fourth differs.
    EXPECT_NE(html.find("data-count=\"3\"><div class=\"tileset-label\">tile set 1"), std::string::npos) << html;
    EXPECT_NE(html.find("&times;3, unchanged up to tile set 3"), std::string::npos);
    EXPECT_NE(html.find("data-count=\"1\"><div class=\"tileset-label\">tile set 4"), std::string::npos);
    size_t drawn = 0;
    for (size_t at = html.find("data-tile=\""); at != std::string::npos; at = html.find("data-tile=\"", at + 1)) ++drawn;
    EXPECT_EQ(drawn, 4u) << "two entries, each one tile in two sizes";
    EXPECT_NE(html.find("<figcaption>medium 150&times;150</figcaption>"), std::string::npos);
    EXPECT_NE(html.find("<figcaption>wide 310&times;150</figcaption>"), std::string::npos);
    // The whole name is shown: no fixed narrow column that cuts it.
    EXPECT_NE(html.find("<div class=\"name\">FIREWALL_OFF_BY_USER</div>"), std::string::npos);
    EXPECT_EQ(html.find("width: 60px"), std::string::npos);
}

TEST(HtmlPreview, WriterReportsAFullDiskAndAMissingFolder) {
    std::string error;
    if (std::filesystem::exists("/dev/full")) {
        EXPECT_FALSE(WriteTextFile("/dev/full", std::string(100000, 'x'), &error));
        EXPECT_NE(error.find("/dev/full"), std::string::npos);
        EXPECT_NE(error.find("No space left on device"), std::string::npos) << error;
    }
    gptest::TempFolder folder;
    const std::string missing = (folder.path() / "no" / "such" / "page.html").string();
    EXPECT_FALSE(WriteTextFile(missing, "x", &error));
    EXPECT_NE(error.find("cannot create " + missing), std::string::npos) << error;

    const std::string good = (folder.path() / "page.html").string();
    ASSERT_TRUE(WriteTextFile(good, "<p>ok</p>", &error)) << error;
    std::ifstream in(good);
    std::string content((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    EXPECT_EQ(content, "<p>ok</p>");
}

}  // namespace
}  // namespace glimmerpane::cli
