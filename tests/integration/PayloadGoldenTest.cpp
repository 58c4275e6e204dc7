// The published payloads, byte for byte, for a table of states in each shipped language.
//
// The module runs through its C ABI from a copy beside the shipped GPNResources library,
// with a registry in a temporary prefix and the recording fake bus. Every payload of every
// step must equal the one recorded in tests/integration/data/payloads/<language>.txt (one
// payload per line, UTF-8). The files were recorded from the renderer before it was rebuilt
// for speed; they hold the layout the viewer reads, so a change here is a change of product.
// GP_RECORD_GOLDEN_PAYLOADS=1 writes the files instead of comparing.
#include <gtest/gtest.h>

#include <glimmerpane/abi.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <optional>
#include <sstream>

#include "base/MessageSize.h"
#include "base/Utf.h"
#include "support/HostedModule.h"

namespace {

namespace fs = std::filesystem;

#define GP_SCAN_REPORT L"SOFTWARE\\Corvane\\Tavrel\\Settings\\Stats\\Dravix\\Activity\\ScanReport\\"
const wchar_t* const kStatisticKeys[] = {
    GP_SCAN_REPORT L"RootKitsResolved",        GP_SCAN_REPORT L"TrackingCookiesResolved",
    GP_SCAN_REPORT L"TrojansResolved",         GP_SCAN_REPORT L"UnwantedProgramResolved",
    GP_SCAN_REPORT L"VirusResolved",           GP_SCAN_REPORT L"RootKitsDetected",
    GP_SCAN_REPORT L"TrackingCookiesDetected", GP_SCAN_REPORT L"TrojansDetected",
    GP_SCAN_REPORT L"UnwantedProgramDetected", GP_SCAN_REPORT L"VirusDetected",
    GP_SCAN_REPORT L"TotalItemScanned",
    L"SOFTWARE\\Corvane\\Tavrel\\Settings\\Stats\\Pelmor\\Activity\\TotalInboundConnectionBlocked",
};
#undef GP_SCAN_REPORT
constexpr size_t kItemsScanned = 10;

// One step: every statistic set to `count` (or removed when `count` is empty), except that
// `missing` names a key to remove afterwards; then one status message.
struct Step {
    std::optional<uint32_t> count;
    int missing;  // index into kStatisticKeys, or -1
    const wchar_t* name;
    const wchar_t* data;
};

const wchar_t kBothProducts[] = LR"({"default":{"pelmor":"enabled","dravix":"enabled"}})";
const wchar_t kOthersActive[] =
    LR"({"firewall_state":"on","antivirus_state":"on","firewall":"Other","antivirus":"Other"})";

const Step kSteps[] = {
    {0u, -1, L"Core.ProductState.ProductListChange", kBothProducts},
    {1u, -1, L"Core.Update.State", LR"({"state":"on"})"},
    {1234567u, -1, L"Core.Update.State", LR"({"state":"on"})"},
    {1234567u, 0, L"Core.Update.State", LR"({"state":"on"})"},            // one Resolved key missing
    {1234567u, kItemsScanned, L"Core.Update.State", LR"({"state":"on"})"},  // the files count keeps its value
    {std::nullopt, -1, L"Core.Update.State", LR"({"state":"on"})"},         // every key missing
    {1u, -1, L"Core.Firewall.State", LR"({"state":"off","off_by_user":true})"},
    {1u, -1, L"Core.Antivirus.RTSState", LR"({"state":"off","repair":"on","starting":false,"pup_scan_enabled":true})"},
    {1u, -1, L"Core.Protection.State", LR"({"state":"gray"})"},
    {1u, -1, L"Core.Antivirus.RTSState", LR"({"state":"off","repair":"off","starting":true,"pup_scan_enabled":true})"},
    {0u, -1, L"Core.Protection.State", LR"({"state":"red"})"},
    {0u, -1, L"Core.ProductState.3rdPartyListChange", kOthersActive},
    {2u, -1, L"Core.Antivirus.DATState", LR"({"dat_out_of_date":true})"},
    {2u, -1, L"Core.Update.State", LR"({"state":"off"})"},
    {2u, -1, L"Core.Firewall.State", LR"({"state":"off","off_by_user":false})"},
    {2u, -1, L"Core.Antivirus.RTSState", LR"({"state":"on","repair":"off","starting":false,"pup_scan_enabled":true})"},
    {2u, -1, L"Core.Antivirus.LastScanTime", LR"({"scan_out_of_date":true})"},
    {2u, -1, L"Core.Firewall.State", LR"({"state":"on","off_by_user":false})"},
    {2u, -1, L"Core.Update.State", LR"({"state":"on"})"},
    {2u, -1, L"Core.Antivirus.DATState", LR"({"dat_out_of_date":false})"},
    {2u, -1, L"Core.Antivirus.LastScanTime", LR"({"scan_out_of_date":false})"},
    {2u, -1, L"Core.Protection.State", LR"({"state":"none"})"},
};

struct Language {
    const char* tag;     // the file name
    const char* locale;  // LC_ALL for both the UI language and the number format
};
const Language kLanguages[] = {{"en-US", "en_US.UTF-8"}, {"de-DE", "de_DE.UTF-8"}, {"fr-FR", "fr_FR.UTF-8"}};

class PayloadGolden : public ::testing::TestWithParam<Language> {
protected:
    void SetUp() override {
        module.environment.set("LANGUAGE", std::nullopt).set("LC_ALL", GetParam().locale);
        ASSERT_TRUE(module.Start(GP_MODULE_PATH, GP_RESOURCES_PATH, L"PayloadGolden"));
    }

    void setStatistics(std::optional<uint32_t> count, int missing) {
        for (size_t i = 0; i < std::size(kStatisticKeys); ++i)
            module.SetStatistic(kStatisticKeys[i], static_cast<int>(i) == missing ? std::nullopt : count);
    }

    // The payload texts, each checked to travel with a header that counts its own size (the
    // module publishes one message object again and again).
    std::vector<std::string> payloads() const {
        std::vector<std::string> found;
        for (const auto& m : module.Payloads()) {
            EXPECT_EQ(m.header.totalSize, glimmerpane::base::MessageSizeExact(GP_MESSAGE_HEADER_SIZE, m.name, m.sender,
                                                                              m.userData));
            found.push_back(glimmerpane::base::Utf8FromWide(m.userData));
        }
        return found;
    }

    gptest::HostedModule module;
    gptest::FakeBus& bus = module.bus;
    const ModuleFunctionTable*& table = module.table;
    ModuleHandle& handle = module.handle;
};

fs::path GoldenFile(const char* tag) {
    return fs::path(GP_SOURCE_DIR) / "tests" / "integration" / "data" / "payloads" / (std::string(tag) + ".txt");
}

TEST_P(PayloadGolden, EveryPayloadEqualsTheRecordedOne) {
    setStatistics(0u, -1);
    ASSERT_EQ(table->StartModule(handle), 0u);
    constexpr size_t kRefreshRequests = 8;
    size_t published = kRefreshRequests;
    for (const Step& step : kSteps) {
        setStatistics(step.count, step.missing);
        bus.deliver(step.name, step.data);
        ASSERT_TRUE(bus.waitForPublished(++published, std::chrono::seconds(10)));
    }
    ASSERT_EQ(table->StopModule(handle), 0u);
    const std::vector<std::string> actual = payloads();
    ASSERT_EQ(actual.size(), std::size(kSteps));

    const fs::path file = GoldenFile(GetParam().tag);
    if (const char* record = std::getenv("GP_RECORD_GOLDEN_PAYLOADS"); record != nullptr && *record == '1') {
        fs::create_directories(file.parent_path());
        std::ofstream out(file, std::ios::binary);
        for (const std::string& payload : actual) out << payload << '\n';
        GTEST_SKIP() << "recorded " << file;
    }
    std::ifstream in(file, std::ios::binary);
    ASSERT_TRUE(in) << file;
    std::vector<std::string> expected;
    for (std::string line; std::getline(in, line);) expected.push_back(line);
    ASSERT_EQ(expected.size(), actual.size());
    for (size_t i = 0; i < actual.size(); ++i) EXPECT_EQ(actual[i], expected[i]) << "step " << i;
}

INSTANTIATE_TEST_SUITE_P(Languages, PayloadGolden, ::testing::ValuesIn(kLanguages),
                         [](const auto& info) { return std::string(info.param.tag).replace(2, 1, "_"); });

}  // namespace
