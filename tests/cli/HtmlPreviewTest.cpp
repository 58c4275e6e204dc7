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
