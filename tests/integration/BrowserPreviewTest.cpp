// The demo's HTML preview as a browser sees it: headless Chromium loads the page, its DOM
// holds the tiles' captions, and its screenshot is not blank. Chromium is a large package,
// so scripts/install-deps installs it only with GP_BROWSER_TESTS=1; without it the test is
// skipped and says so.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>

#include "platform/Shell.h"
#include "support/TempRegistry.h"

namespace {

namespace fs = std::filesystem;

constexpr const char* kChromium = "/usr/bin/chromium";

std::string Quote(const std::string& s) { return "'" + s + "'"; }

std::string ReadFile(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

class BrowserPreview : public ::testing::Test {
protected:
    void SetUp() override {
        if (!fs::exists(kChromium))
            GTEST_SKIP() << "Chromium is not installed (" << kChromium
                         << "); run GP_BROWSER_TESTS=1 scripts/install-deps to enable the browser check";
    }
    // Runs Chromium headless on a file with a fresh profile and no network chatter.
    int Chromium(const std::string& action, const fs::path& page, const fs::path& output) {
        const fs::path profile = temp_.path() / ("profile-" + std::to_string(++profiles_));
        const std::string command =
            std::string("cd ") + Quote(temp_.path().string()) + " && timeout 120 " + kChromium +
            " --headless --no-sandbox --disable-gpu --disable-quic --no-first-run"
            " --disable-background-networking --disable-component-update --disable-sync"
            " --user-data-dir=" + Quote(profile.string()) + " --window-size=900,1400 " + action +
            " " + Quote("file://" + page.string()) + (action == "--dump-dom" ? " > " + Quote(output.string()) : "") +
            " 2> " + Quote((temp_.path() / "chromium.log").string());
        return glimmerpane::platform::RunShellCommand(command);
    }
    gptest::TempFolder temp_;
    int profiles_ = 0;
};

TEST_F(BrowserPreview, DemoPageShowsEveryCaptionAndDrawsTiles) {
    const fs::path page = temp_.path() / "demo.html";
    ASSERT_EQ(glimmerpane::platform::RunShellCommand(Quote(GP_CLI_PATH) + " demo --lang en-US --html " +
                                                     Quote(page.string()) + " > /dev/null 2>&1"),
              0);

    const fs::path dom = temp_.path() / "dom.html";
    ASSERT_EQ(Chromium("--dump-dom", page, dom), 0) << ReadFile(temp_.path() / "chromium.log");
    const std::string text = ReadFile(dom);
    for (const char* caption : {"You're protected", "Firewall turned off", "Real-time scanning is off",
                                "Virus definitions out of date", "Files scanned", "Threats removed",
                                "Risky connections blocked"}) {
        EXPECT_NE(text.find("<div class=\"caption\">" + std::string(caption) + "</div>"), std::string::npos)
            << caption;
    }
    EXPECT_NE(text.find("class=\"tile wide atrisk\" data-tile=\"RTS_OFF\""), std::string::npos);
    EXPECT_NE(text.find("class=\"tile medium neutral\" data-tile=\"FIREWALL_OFF_BY_USER\""), std::string::npos);

    // A screenshot of the page against one of an empty page of the same background: tiles,
    // images and text make the image far larger once compressed.
    const fs::path blank = temp_.path() / "blank.html";
    std::ofstream(blank) << "<!DOCTYPE html><html><body style=\"background:#1f1f1f\"></body></html>";
    const fs::path shot = temp_.path() / "shot.png";
    const fs::path blankShot = temp_.path() / "blank.png";
    ASSERT_EQ(Chromium("--screenshot=" + Quote(shot.string()), page, {}), 0);
    ASSERT_EQ(Chromium("--screenshot=" + Quote(blankShot.string()), blank, {}), 0);
    ASSERT_TRUE(fs::exists(shot));
    ASSERT_TRUE(fs::exists(blankShot));
    const std::string png = ReadFile(shot);
    ASSERT_GT(png.size(), 8u);
    EXPECT_EQ(png.substr(1, 3), "PNG");
    EXPECT_GT(fs::file_size(shot), 10 * fs::file_size(blankShot))
        << "page " << fs::file_size(shot) << " bytes, blank " << fs::file_size(blankShot) << " bytes";
}

}  // namespace
