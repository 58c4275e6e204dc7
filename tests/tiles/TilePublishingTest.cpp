// Tests of the statistics read, the refresh requests and the tile publish of the module,
// over the fake bus, a table-backed registry and a resource table whose strings name
// their own ids.
#include <gtest/gtest.h>

#include <map>
#include <mutex>

#ifndef _WIN32
#include <sys/wait.h>
#include <unistd.h>
#endif

#include "module/ModuleStatus.h"
#include "render/TileCatalogue.h"
#include "support/FakeBus.h"
#include "support/TableResources.h"
#include "support/RecordingLogger.h"
#include "support/TempRegistry.h"
#include "utility/CRegKey.h"
#include "tiles/GlimmerpaneImpl.h"
#include "message/MessageBusClient.h"
#include "message/MessageBusShimImpl.h"

namespace Vornik {
namespace {

using ETWLogging::LogSeverity;
using gptest::FakeBus;
using gptest::LogCapture;

const std::wstring kScanReport = L"SOFTWARE\\Corvane\\Tavrel\\Settings\\Stats\\Dravix\\Activity\\ScanReport\\";
const std::wstring kConnections = L"SOFTWARE\\Corvane\\Tavrel\\Settings\\Stats\\Pelmor\\Activity\\TotalInboundConnectionBlocked";

class TableRegistry : public RegistryAPI {
public:
    ModuleStatus readDword(const wchar_t* key, const wchar_t* valueName, uint32_t& value) override {
        std::lock_guard lock(mutex);
        if (std::wstring(valueName) != L"SDSValue") return MODULE_STATUS_UNSUCCESSFUL;
        auto found = values.find(key);
        if (found == values.end()) return MODULE_STATUS_UNSUCCESSFUL;
        value = found->second;
        return MODULE_STATUS_SUCCESS;
    }
    void set(const std::wstring& name, uint32_t value) {
        std::lock_guard lock(mutex);
        values[name.find(L'\\') == std::wstring::npos ? kScanReport + name : name] = value;
    }
    void erase(const std::wstring& name) {
        std::lock_guard lock(mutex);
        values.erase(kScanReport + name);
    }
    std::mutex mutex;
    std::map<std::wstring, uint32_t> values;
};

const std::vector<std::wstring> kRefreshRequests = {
    L"Core.Antivirus.RefreshLastScanTime", L"Core.ProductState.RefreshProductList",
    L"Core.ProductState.Refresh3rdPartyList", L"Core.Antivirus.RefreshRTSState",
    L"Core.Firewall.RefreshState", L"Core.Antivirus.RefreshDATState",
    L"Core.Update.RefreshState", L"Core.Protection.RefreshState",
};

class OpenModule : public GlimmerpaneImpl {
public:
    OpenModule(std::shared_ptr<ProcState> state, std::shared_ptr<RegistryAPI> registry)
        : GlimmerpaneImpl(std::move(state), gptest::MakeFakeFormatter(), std::move(registry)) {}
    using GlimmerpaneImpl::readStatKeyDword;
    using GlimmerpaneImpl::updateStatistics;
};

class TilePublishing : public ::testing::Test {
protected:
    void SetUp() override {
        state = std::make_shared<ProcState>();
        registry = std::make_shared<TableRegistry>();
        module = std::make_unique<OpenModule>(state, registry);
    }
    void bind() {
        auto shim = std::make_shared<MessageBusShimImpl>(bus.handle(), FakeBus::functions());
        auto client = std::make_shared<MessageBusClient>(shim, nullptr);
        auto manager = std::make_shared<internal::ModuleManagerShim>(nullptr, nullptr);
        ASSERT_EQ(module->baseInitialize(L"Glimmerpane", L"", {}, manager, client), 0u);
        ASSERT_EQ(module->initialize(), 0u);
    }
    // The contents of one published payload, read back from the ids in the captions.
    static std::vector<TileContent> ContentsOf(const std::wstring& payload) {
        std::vector<TileContent> contents;
        size_t at = 0;
        while ((at = payload.find(L"<tile>", at)) != std::wstring::npos) {
            const size_t caption = payload.find(L"<text>[", at) + 7;
            const uint32_t id = static_cast<uint32_t>(std::stoul(payload.substr(caption)));
            for (const auto& [content, resources] : tileCatalogue)
                if (resources.mediumCaptionId == id) contents.push_back(content);
            at = caption;
        }
        return contents;
    }
    std::vector<gptest::RecordedMessage> tilePublishes() const {
        std::vector<gptest::RecordedMessage> tiles;
        for (auto& m : bus.published())
            if (m.name == L"messaging.message.processed") tiles.push_back(m);
        return tiles;
    }

    FakeBus bus;
    std::shared_ptr<ProcState> state;
    std::shared_ptr<TableRegistry> registry;
    std::unique_ptr<OpenModule> module;
};

TEST_F(TilePublishing, NoStatisticsKeysGiveTwelveRecordsAndZeros) {
    LogCapture capture;
    module->updateStatistics();
    EXPECT_EQ(capture.containing(L"Failed to read statistics from SOFTWARE\\Corvane\\Tavrel").size(), 12u);
    EXPECT_EQ(state->threatsResolved + state->threatsDetected + state->filesScanned + state->connectionsBlocked, 0u);
    EXPECT_FALSE(state->threatsUnresolved);
    LogCapture nullKey;
    uint64_t count = 5;
    EXPECT_FALSE(module->readStatKeyDword(nullptr, count));
    EXPECT_EQ(count, 5u);
    EXPECT_TRUE(nullKey.has(LogSeverity::Error, L"nullptr key is invalid"));
}

TEST_F(TilePublishing, SumsAndFlagsFollowTheKeys) {
    const wchar_t* kinds[] = {L"RootKits", L"TrackingCookies", L"Trojans", L"UnwantedProgram", L"Virus"};
    const uint32_t resolved[] = {1, 0, 2, 0, 3}, detected[] = {1, 0, 2, 0, 4};
    for (int i = 0; i < 5; ++i) {
        registry->set(std::wstring(kinds[i]) + L"Resolved", resolved[i]);
        registry->set(std::wstring(kinds[i]) + L"Detected", detected[i]);
    }
    module->updateStatistics();
    EXPECT_EQ(state->threatsResolved, 6u);
    EXPECT_EQ(state->threatsDetected, 7u);
    EXPECT_TRUE(state->threatsUnresolved);

    for (int i = 1; i < 5; ++i) registry->set(std::wstring(kinds[i]) + L"Resolved", 2);
    registry->erase(L"RootKitsResolved");
    module->updateStatistics();
    EXPECT_EQ(state->threatsResolved, 8u);

    for (int i = 0; i < 5; ++i) registry->set(std::wstring(kinds[i]) + L"Resolved", 4294967295u);
    module->updateStatistics();
    EXPECT_EQ(state->threatsResolved, 21474836475ull);
    EXPECT_FALSE(state->threatsUnresolved);
}

TEST_F(TilePublishing, CountsKeepTheirLastValueWhenAReadFails) {
    registry->set(L"TotalItemScanned", 1234);
    registry->set(kConnections, 7);
    module->updateStatistics();
    registry->erase(L"TotalItemScanned");
    registry->values.erase(kConnections);
    module->updateStatistics();
    EXPECT_EQ(state->filesScanned, 1234u);
    EXPECT_EQ(state->connectionsBlocked, 7u);
}

TEST_F(TilePublishing, StartPublishesTheEightRefreshRequestsInOrder) {
    bind();
    ASSERT_EQ(module->start(), 0u);
    ASSERT_EQ(module->stop(), 0u);
    auto published = bus.published();
    ASSERT_EQ(published.size(), 8u);
    for (size_t i = 0; i < 8; ++i) {
        EXPECT_EQ(published[i].name, kRefreshRequests[i]);
        EXPECT_EQ(published[i].sender, L"Glimmerpane Module");
        EXPECT_EQ(published[i].userData, L"");
    }
}

// Notes how many messages the bus had seen at each statistics read.
class WatchingRegistry : public TableRegistry {
public:
    explicit WatchingRegistry(const FakeBus& bus) : bus(bus) {}
    ModuleStatus readDword(const wchar_t* key, const wchar_t* valueName, uint32_t& value) override {
        publishedAtRead.push_back(bus.published().size());
        return TableRegistry::readDword(key, valueName, value);
    }
    const FakeBus& bus;
    std::vector<size_t> publishedAtRead;
};

TEST_F(TilePublishing, RefreshEndsWithAStatisticsRead) {
    auto watching = std::make_shared<WatchingRegistry>(bus);
    watching->set(L"TotalItemScanned", 42);
    module = std::make_unique<OpenModule>(state, watching);
    bind();
    ASSERT_EQ(module->start(), 0u);
    ASSERT_EQ(module->stop(), 0u);  // nothing answered: the worker read nothing
    EXPECT_EQ(watching->publishedAtRead, std::vector<size_t>(12, 8u));
    EXPECT_EQ(state->filesScanned, 42u);
}

TEST_F(TilePublishing, TheRedExampleNamesOneCausePerArea) {
    bind();
    const wchar_t* kinds[] = {L"RootKits", L"TrackingCookies", L"Trojans", L"UnwantedProgram", L"Virus"};
    for (int i = 0; i < 5; ++i) {
        registry->set(std::wstring(kinds[i]) + L"Detected", 1);
        registry->set(std::wstring(kinds[i]) + L"Resolved", i < 3 ? 1 : 0);
    }
    ASSERT_EQ(module->start(), 0u);
    bus.deliver(L"Core.Protection.State", LR"({"state":"red"})");
    bus.deliver(L"Core.Antivirus.RTSState", LR"({"state":"off","repair":"off","starting":false,"pup_scan_enabled":true})");
    bus.deliver(L"Core.Firewall.State", LR"({"state":"off","off_by_user":false})");
    bus.deliver(L"Core.Update.State", LR"({"state":"off"})");
    ASSERT_EQ(module->stop(), 0u);
    EXPECT_EQ(state->threatsDetected, 5u);
    EXPECT_EQ(state->threatsResolved, 3u);
    auto tiles = tilePublishes();
    ASSERT_EQ(tiles.size(), 4u);
    EXPECT_EQ(ContentsOf(tiles.back().userData),
              (std::vector<TileContent>{RTS_OFF, THREATS_UNRESOLVED, FIREWALL_OFF, UPDATES_OFF}));
}

TEST_F(TilePublishing, FailedRefreshPublishesAreEachLoggedAndStartStillSucceeds) {
    bind();
    bus.failPublishes(MODULE_STATUS_NO_SUBSCRIBERS);
    LogCapture capture;
    ASSERT_EQ(module->start(), 0u);
    ASSERT_EQ(module->stop(), 0u);
    std::vector<std::wstring> failed;
    for (auto& r : capture.records())
        if (r.message.rfind(L"Failed to publish refresh message ", 0) == 0) failed.push_back(r.message.substr(34));
    EXPECT_EQ(failed, kRefreshRequests);
}

TEST_F(TilePublishing, EveryHandledMessagePublishesOnePayloadOfTheSelection) {
    bind();
    registry->set(L"TotalItemScanned", 10);
    ASSERT_EQ(module->start(), 0u);
    const std::pair<const wchar_t*, const wchar_t*> messages[] = {
        {L"Core.Protection.State", LR"({"state":"green"})"},
        {L"Core.Protection.State", LR"({"state":"red"})"},
        {L"Core.Antivirus.RTSState", LR"({"state":"off","repair":"sometimes","starting":false,"pup_scan_enabled":true})"},
        {L"Core.Protection.State", LR"({"state":"gray"})"},
    };
    for (auto& [name, data] : messages) bus.deliver(name, data);
    ASSERT_EQ(module->stop(), 0u);
    auto tiles = tilePublishes();
    ASSERT_EQ(tiles.size(), 4u);  // the failed handler still republishes
    const std::vector<TileContent> expected[] = {
        {FILES_SCANNED, SECURE},
        {NO_ACTIVE_ANTIVIRUS, NO_ACTIVE_FIREWALL},
        {NO_ACTIVE_ANTIVIRUS, NO_ACTIVE_FIREWALL},
        {FILES_SCANNED, SECURE},
    };
    for (size_t i = 0; i < 4; ++i) {
        EXPECT_EQ(tiles[i].sender, L"GlimmerpaneImpl");
        EXPECT_EQ(ContentsOf(tiles[i].userData), expected[i]) << i;
        EXPECT_NE(tiles[i].userData.find(L"\"clear_existing\":true"), std::wstring::npos);
    }
}

TEST_F(TilePublishing, AFailedPayloadOrPublishIsLoggedAndNothingElseHappens) {
    // Without a template nothing renders.
    auto bare = std::make_unique<GlimmerpaneImpl>(state, gptest::MakeFakeFormatter({}), registry);
    module.reset();
    auto shim = std::make_shared<MessageBusShimImpl>(bus.handle(), FakeBus::functions());
    ASSERT_EQ(bare->baseInitialize(L"G", L"", {}, std::make_shared<internal::ModuleManagerShim>(nullptr, nullptr),
                                   std::make_shared<MessageBusClient>(shim, nullptr)),
              0u);
    ASSERT_EQ(bare->initialize(), 0u);
    ASSERT_EQ(bare->start(), 0u);
    LogCapture capture;
    bus.deliver(L"Core.Update.State", LR"({"state":"on"})");
    ASSERT_EQ(bare->stop(), 0u);
    EXPECT_TRUE(capture.has(LogSeverity::Error, L"Failed to generate tile payload."));
    EXPECT_TRUE(tilePublishes().empty());
}

TEST_F(TilePublishing, ARefusedTilePublishIsLogged) {
    bind();
    ASSERT_EQ(module->start(), 0u);
    bus.failPublishes(MODULE_STATUS_NO_SUBSCRIBERS);
    LogCapture capture;
    bus.deliver(L"Core.Update.State", LR"({"state":"on"})");
    ASSERT_EQ(module->stop(), 0u);
    EXPECT_TRUE(capture.has(LogSeverity::Error, L"Failed to publish tile payload."));
}

TEST_F(TilePublishing, StatisticsWrittenWhileTheWorkerRunsDoNotRace) {
    // The host thread's read at start overlaps the worker's handling of early answers.
    bind();
    for (int i = 0; i < 200; ++i) bus.deliver(L"Core.Update.State", LR"({"state":"off"})");
    registry->set(L"TotalItemScanned", 3);
    ASSERT_EQ(module->start(), 0u);
    ASSERT_EQ(module->stop(), 0u);
    EXPECT_EQ(tilePublishes().size(), 200u);
    EXPECT_EQ(state->filesScanned, 3u);
}

// The registry's own RegistryAPI reads the twelve keys through one snapshot: a key that is
// missing still logs its own record, and only that one.
TEST_F(TilePublishing, OverTheStoreAMissingKeyLogsItsOwnRecordAndTheOthersCount) {
    gptest::TempRegistry temp;
    const std::wstring kinds[] = {L"RootKits", L"TrackingCookies", L"Trojans", L"UnwantedProgram", L"Virus"};
    std::vector<std::wstring> keys;
    for (const auto& kind : kinds) keys.push_back(kScanReport + kind + L"Resolved");
    for (const auto& kind : kinds) keys.push_back(kScanReport + kind + L"Detected");
    keys.push_back(kConnections);  // TotalItemScanned is left out
    for (const auto& key : keys) {
        Kestrix::CRegKey writer(std::make_shared<Kestrix::internal::CRegKeyImpl>(temp.store));
        ASSERT_EQ(writer.Create(glimmerpane::platform::HkeyLocalMachine(), key.c_str()), 0u);
        ASSERT_EQ(writer.SetDwordValue(L"SDSValue", 3), 0u);
    }
    module = std::make_unique<OpenModule>(state, std::make_shared<RegistryAPI>(temp.store));
    for (int round = 0; round < 2; ++round) {
        LogCapture capture;
        module->updateStatistics();
        const auto records = capture.containing(L"Failed to read statistics from");
        ASSERT_EQ(records.size(), 1u);
        EXPECT_EQ(records[0].message, L"Failed to read statistics from " + kScanReport + L"TotalItemScanned");
    }
    EXPECT_EQ(state->threatsResolved, 15u);
    EXPECT_EQ(state->threatsDetected, 15u);
    EXPECT_EQ(state->connectionsBlocked, 3u);
    EXPECT_EQ(state->filesScanned, 0u);
}

// Status messages whose last ones decide the final state: the firewall, the updates and the
// protection state each turn on and off in turn.
std::vector<std::pair<std::wstring, std::wstring>> AlternatingStates(size_t count) {
    std::vector<std::pair<std::wstring, std::wstring>> messages;
    for (size_t i = 0; i < count; ++i) {
        const bool off = (i / 3) % 2 == 0;
        switch (i % 3) {
            case 0: messages.emplace_back(L"Core.Firewall.State", off ? LR"({"state":"off","off_by_user":false})" : LR"({"state":"on","off_by_user":false})"); break;
            case 1: messages.emplace_back(L"Core.Update.State", off ? LR"({"state":"off"})" : LR"({"state":"on"})"); break;
            default: messages.emplace_back(L"Core.Protection.State", off ? LR"({"state":"red"})" : LR"({"state":"gray"})");
        }
    }
    return messages;
}

TEST_F(TilePublishing, ABacklogAtTheCatchUpDepthLeavesPayloadsOutButEndsInTheExactState) {
    constexpr size_t kBeyond = 12;  // messages beyond the depth: that many payloads are left out
    const auto messages = AlternatingStates(GlimmerpaneImpl::kCatchUpDepth + kBeyond);
    registry->set(L"TotalItemScanned", 1234567);

    // What handling every message gives: the same messages, one at a time.
    FakeBus oneByOneBus;
    auto oneByOne = std::make_unique<OpenModule>(std::make_shared<ProcState>(), registry);
    ASSERT_EQ(oneByOne->baseInitialize(L"Glimmerpane", L"", {}, std::make_shared<internal::ModuleManagerShim>(nullptr, nullptr),
                                       std::make_shared<MessageBusClient>(std::make_shared<MessageBusShimImpl>(
                                                                              oneByOneBus.handle(), FakeBus::functions()),
                                                                          nullptr)),
              0u);
    ASSERT_EQ(oneByOne->initialize(), 0u);
    ASSERT_EQ(oneByOne->start(), 0u);
    for (size_t i = 0; i < messages.size(); ++i) {
        oneByOneBus.deliver(messages[i].first, messages[i].second);
        ASSERT_TRUE(oneByOneBus.waitForPublished(kRefreshRequests.size() + i + 1, std::chrono::seconds(10)));
    }
    ASSERT_EQ(oneByOne->stop(), 0u);
    const std::wstring expectedLast = oneByOneBus.published().back().userData;

    // The same messages waiting in the queue before the worker starts: the first ones are
    // taken while the depth or more wait behind them.
    bind();
    for (const auto& [name, data] : messages) bus.deliver(name, data);
    LogCapture capture;
    ASSERT_EQ(module->start(), 0u);
    ASSERT_EQ(module->stop(), 0u);
    const auto tiles = tilePublishes();
    ASSERT_EQ(tiles.size(), messages.size() - kBeyond);
    EXPECT_EQ(tiles.back().userData, expectedLast);
    const auto records = capture.containing(L"payloads left out");
    ASSERT_EQ(records.size(), 1u);
    EXPECT_EQ(records[0].severity, LogSeverity::Warning);
    EXPECT_NE(records[0].message.find(L": " + std::to_wstring(kBeyond) + L" payloads left out"), std::wstring::npos);
}

}  // namespace
}  // namespace Vornik

namespace Vornik {
namespace {

// One process writes all twelve statistics in a loop (every key the same, rising value)
// while this process reads them through updateStatistics: no read may fail and no count
// may go backwards or take a value that was never written.
#ifndef _WIN32  // a writer process made with fork(); the LMDB store's own concern
TEST(StatisticsAcrossProcesses, ReadsWhileAnotherProcessWrites) {
    gptest::TempRegistry registry;
    const std::wstring keys[] = {
        kScanReport + L"RootKitsResolved", kScanReport + L"TrackingCookiesResolved", kScanReport + L"TrojansResolved",
        kScanReport + L"UnwantedProgramResolved", kScanReport + L"VirusResolved", kScanReport + L"RootKitsDetected",
        kScanReport + L"TrackingCookiesDetected", kScanReport + L"TrojansDetected",
        kScanReport + L"UnwantedProgramDetected", kScanReport + L"VirusDetected", kScanReport + L"TotalItemScanned",
        kConnections,
    };
    auto writeAll = [&](const std::shared_ptr<glimmerpane::platform::RegistryStore>& store, uint32_t value) {
        for (const auto& key : keys) {
            Kestrix::CRegKey writer(std::make_shared<Kestrix::internal::CRegKeyImpl>(store));
            if (writer.Create(glimmerpane::platform::HkeyLocalMachine(), key.c_str()) != 0) return false;
            if (writer.SetDwordValue(L"SDSValue", value) != 0) return false;
        }
        return true;
    };
    ASSERT_TRUE(writeAll(registry.store, 1));
    constexpr uint32_t kRounds = 400;
    const pid_t writer = fork();
    ASSERT_GE(writer, 0);
    if (writer == 0) {
        auto store = glimmerpane::platform::OpenRegistryStore(registry.folder.wide("registry"));
        for (uint32_t value = 2; value <= kRounds; ++value)
            if (!writeAll(store, value)) _exit(1);
        _exit(0);
    }
    auto state = std::make_shared<ProcState>();
    OpenModule module(state, std::make_shared<RegistryAPI>(registry.store));
    LogCapture capture;
    uint64_t lastScanned = 0;
    int status = 0;
    bool writerDone = false;
    while (!writerDone) {
        writerDone = waitpid(writer, &status, WNOHANG) == writer;
        module.updateStatistics();
        ASSERT_GE(state->filesScanned, lastScanned);
        ASSERT_GE(state->filesScanned, 1u);
        ASSERT_LE(state->filesScanned, kRounds);
        ASSERT_GE(state->threatsResolved, 5u);
        ASSERT_LE(state->threatsResolved, 5u * kRounds);
        lastScanned = state->filesScanned;
    }
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    EXPECT_TRUE(capture.containing(L"Failed to read statistics").empty());
    module.updateStatistics();
    EXPECT_EQ(state->filesScanned, kRounds);
    EXPECT_EQ(state->threatsResolved, 5u * kRounds);
}

#endif

}  // namespace
}  // namespace Vornik
