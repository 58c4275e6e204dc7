// The module's whole job through its C ABI: a copy of the built module with a resource
// library whose texts name their ids beside it, a registry in a temporary prefix, and the
// recording fake bus. Every handled status message must yield exactly one payload whose
// tiles follow the selection tables.
#include <gtest/gtest.h>

#include <glimmerpane/abi.h>

#include <cstdlib>
#include <filesystem>
#include <map>
#include <optional>

#include "render/TileCatalogue.h"
#include "support/HostedModule.h"

namespace {

using namespace Vornik;
namespace fs = std::filesystem;

// Reads the medium captions ("<text>[id]") of a payload back into contents.
std::vector<TileContent> ContentsOf(const std::wstring& payload) {
    std::map<uint32_t, TileContent> byCaption;
    for (const auto& [content, resources] : tileCatalogue) byCaption[resources.mediumCaptionId] = content;
    std::vector<TileContent> contents;
    for (size_t at = 0; (at = payload.find(L"TileMedium", at)) != std::wstring::npos; ++at) {
        const size_t caption = payload.find(L"<text>[", at);
        if (caption == std::wstring::npos) break;
        contents.push_back(byCaption.at(static_cast<uint32_t>(std::stoul(payload.substr(caption + 7)))));
    }
    return contents;
}

class TilePayloadAbi : public ::testing::Test {
protected:
    void SetUp() override {
        // A decoy copy of the same file name without resources is loaded first: the module
        // must still find the resource library beside its own copy.
        const fs::path decoyFile = decoyFolder.path() / fs::path(GP_MODULE_PATH).filename();
        fs::copy_file(GP_MODULE_PATH, decoyFile);
        decoy.emplace(decoyFile);
        ASSERT_TRUE(decoy->loaded()) << decoy->error();
        ASSERT_TRUE(module.Start(GP_MODULE_PATH, GP_ID_STRINGS_PATH, L"AbiTest"));
        table = module.table;
        handle = module.handle;
    }

    gptest::TempFolder decoyFolder;
    std::optional<gptest::TestLibrary> decoy;  // outlives the module: loaded first, unloaded last
    gptest::HostedModule module;
    gptest::FakeBus& bus = module.bus;
    const ModuleFunctionTable* table = nullptr;
    ModuleHandle handle = nullptr;
};

TEST_F(TilePayloadAbi, StartSendsTheEightRefreshRequestsInOrder) {
    ASSERT_EQ(table->StartModule(handle), 0u);
    const std::vector<std::wstring> expected = {
        L"Core.Antivirus.RefreshLastScanTime", L"Core.ProductState.RefreshProductList",
        L"Core.ProductState.Refresh3rdPartyList", L"Core.Antivirus.RefreshRTSState", L"Core.Firewall.RefreshState",
        L"Core.Antivirus.RefreshDATState", L"Core.Update.RefreshState", L"Core.Protection.RefreshState",
    };
    auto published = bus.published();
    ASSERT_EQ(published.size(), expected.size());
    for (size_t i = 0; i < expected.size(); ++i) {
        EXPECT_EQ(published[i].name, expected[i]);
        EXPECT_EQ(published[i].sender, L"Glimmerpane Module");
        EXPECT_EQ(published[i].userData, L"");
    }
}

TEST_F(TilePayloadAbi, EachStatusMessageYieldsOnePayloadOfTheSelection) {
    module.SetStatistic(L"SOFTWARE\\Corvane\\Tavrel\\Settings\\Stats\\Dravix\\Activity\\ScanReport\\TotalItemScanned", 1234567);
    module.SetStatistic(L"SOFTWARE\\Corvane\\Tavrel\\Settings\\Stats\\Pelmor\\Activity\\TotalInboundConnectionBlocked", 3);
    ASSERT_EQ(table->StartModule(handle), 0u);
    const struct {
        const wchar_t* name;
        const wchar_t* data;
        std::vector<TileContent> tiles;
    } steps[] = {
        {L"Core.Protection.State", LR"({"state":"none"})", {FILES_SCANNED, CONNECTIONS_BLOCKED, SECURE}},
        {L"Core.Firewall.State", LR"({"state":"off","off_by_user":true})", {FILES_SCANNED, SECURE}},
        {L"Core.Protection.State", LR"({"state":"gray"})", {FIREWALL_OFF_BY_USER, FILES_SCANNED, SECURE}},
        {L"Core.ProductState.3rdPartyListChange",
         LR"({"firewall_state":"on","antivirus_state":"on","firewall":"x","antivirus":"y"})",
         {FIREWALL_OFF_BY_USER, FILES_SCANNED, SECURE}},
        {L"Core.Antivirus.RTSState", LR"({"state":"off","repair":"off","starting":false,"pup_scan_enabled":true})",
         {FIREWALL_OFF_BY_USER, FILES_SCANNED, SECURE}},
        {L"Core.Antivirus.DATState", LR"({"dat_out_of_date":true})", {FIREWALL_OFF_BY_USER, FILES_SCANNED, SECURE}},
        {L"Core.Protection.State", LR"({"state":"red"})", {RTS_OFF, DAT_OUT_OF_DATE}},
        {L"Core.Update.State", L"not json", {RTS_OFF, DAT_OUT_OF_DATE}},
        {L"Core.Unknown.Message", L"{}", {}},  // not subscribed: no payload
    };
    size_t expectedPayloads = 0;
    for (const auto& step : steps) {
        bus.deliver(step.name, step.data);
        if (!step.tiles.empty()) ++expectedPayloads;
        ASSERT_TRUE(bus.waitForPublished(8 + expectedPayloads, std::chrono::seconds(10))) << std::string(step.name, step.name + 5);
    }
    ASSERT_EQ(table->StopModule(handle), 0u);
    auto tiles = module.Payloads();
    ASSERT_EQ(tiles.size(), expectedPayloads);
    size_t i = 0;
    for (const auto& step : steps) {
        if (step.tiles.empty()) continue;
        EXPECT_EQ(ContentsOf(tiles[i].userData), step.tiles) << "step " << i;
        EXPECT_EQ(tiles[i].sender, L"GlimmerpaneImpl");
        ++i;
    }
}

}  // namespace
