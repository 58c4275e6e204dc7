// Tests of the tile module's lifecycle, queue and status handlers, driven through the
// entry functions over the recording fake bus.
#include <gtest/gtest.h>

#include <atomic>
#include <functional>
#include <thread>

#include "module/ModuleFactory.h"
#include "module/ModuleFunctions.h"
#include "module/ModuleHandle.h"
#include "module/ModuleStatus.h"
#include "support/CaseNames.h"
#include "support/FakeBus.h"
#include "support/TableResources.h"
#include "support/RecordingLogger.h"
#include "tiles/GlimmerpaneImpl.h"
#include "tiles/MessageQueue.h"

namespace Vornik {
namespace {

using ETWLogging::LogSeverity;
using gptest::FakeBus;
using gptest::LogCapture;

// A registry without any statistics.
class NoRegistry : public RegistryAPI {
public:
    ModuleStatus readDword(const wchar_t*, const wchar_t*, uint32_t&) override { return MODULE_STATUS_UNSUCCESSFUL; }
};

// Counts the tile selections instead of rendering them.
class CountingModule : public GlimmerpaneImpl {
public:
    explicit CountingModule(std::shared_ptr<ProcState> state)
        : GlimmerpaneImpl(std::move(state), gptest::MakeFakeFormatter(), std::make_shared<NoRegistry>()) {}
    std::atomic<int> tileRuns{0};

protected:
    void createTiles() override { ++tileRuns; }
};

ModuleStatus NoManager(void*, void*, void*, void*) { return 0; }

class ModuleFixture : public ::testing::Test {
protected:
    void SetUp() override {
        state = std::make_shared<ProcState>();
        module = new CountingModule(state);
        handle = new Vornik::ModuleHandle();
        handle->module = module;
        handle->deleter = [](Module* m) { destroyModule(m); };
    }
    void TearDown() override { GetModuleFunctionTable()->DestroyModule(handle); }

    ModuleStatus initialize() {
        return GetModuleFunctionTable()->InitializeModuleV2(handle, L"Glimmerpane", L"", 0, nullptr, nullptr, &context,
                                                            NoManager, bus.handle(), FakeBus::functions());
    }
    ModuleStatus start() { return GetModuleFunctionTable()->StartModule(handle); }
    ModuleStatus stop() { return GetModuleFunctionTable()->StopModule(handle); }

    FakeBus bus;
    std::shared_ptr<ProcState> state;
    CountingModule* module = nullptr;
    Vornik::ModuleHandle* handle = nullptr;
    int context = 0;
};

TEST_F(ModuleFixture, ConstructionResetsAHandedInState) {
    auto dirty = std::make_shared<ProcState>();
    dirty->rtsState = 2;
    dirty->pupScanEnabled = false;
    CountingModule other(dirty);
    EXPECT_EQ(dirty->rtsState, 0u);
    EXPECT_TRUE(dirty->pupScanEnabled);
}

TEST_F(ModuleFixture, InitializeSubscribesToExactlyTheEightStatusMessages) {
    ASSERT_EQ(initialize(), MODULE_STATUS_SUCCESS);
    auto names = bus.subscribedNames();
    std::sort(names.begin(), names.end());
    std::vector<std::wstring> expected = {
        L"Core.Antivirus.DATState",
        L"Core.Antivirus.LastScanTime",
        L"Core.Antivirus.RTSState",
        L"Core.Firewall.State",
        L"Core.ProductState.3rdPartyListChange",
        L"Core.ProductState.ProductListChange",
        L"Core.Protection.State",
        L"Core.Update.State",
    };
    EXPECT_EQ(names, expected);
}

TEST_F(ModuleFixture, ARefusedSubscriptionFailsInitialize) {
    bus.refuseSubscriptionNamed(L"Core.Firewall.State");
    LogCapture capture;
    EXPECT_EQ(initialize(), MODULE_STATUS_UNSUCCESSFUL);
    EXPECT_TRUE(capture.has(LogSeverity::Error, L"Failed to subscribe to all messages"));
    EXPECT_TRUE(capture.has(LogSeverity::Error, L"Could not subscribe to required messages"));
}

TEST_F(ModuleFixture, MessagesQueuedBeforeStartAreHandledInArrivalOrderAndStopWaitsForThem) {
    ASSERT_EQ(initialize(), MODULE_STATUS_SUCCESS);
    LogCapture capture;
    bus.deliver(L"Core.Protection.State", LR"({"state":"red"})");
    bus.deliver(L"Core.Firewall.State", LR"({"state":"off","off_by_user":true})");
    bus.deliver(L"Core.Protection.State", LR"({"state":"gray"})");
    EXPECT_EQ(module->tileRuns, 0);  // nothing handled before start
    ASSERT_EQ(start(), MODULE_STATUS_SUCCESS);
    ASSERT_EQ(stop(), MODULE_STATUS_SUCCESS);
    EXPECT_EQ(module->tileRuns, 3);
    EXPECT_EQ(state->protectionState, 2u);  // the later message won
    EXPECT_EQ(state->firewallState, 2u);
    std::vector<std::wstring> handled;
    for (auto& r : capture.records())
        if (r.message.rfind(L"Handled message ", 0) == 0) handled.push_back(r.message.substr(16));
    EXPECT_EQ(handled, (std::vector<std::wstring>{L"Core.Protection.State", L"Core.Firewall.State",
                                                  L"Core.Protection.State"}));
}

// Keeps the first subscription callback so that a test can hand the worker a message
// whose name has no handler.
class CallbackKeepingModule : public CountingModule {
public:
    using CountingModule::CountingModule;
    using BaseModule::subscribe;
    ModuleStatus subscribe(const std::wstring& name, MessageHandler handler) override {
        if (!kept) kept = handler;
        return BaseModule::subscribe(name, std::move(handler));
    }
    MessageHandler kept;
};

TEST_F(ModuleFixture, AMessageWithoutHandlerLeavesNoRecordAndNoTiles) {
    auto* keeping = new CallbackKeepingModule(state);
    GetModuleFunctionTable()->DestroyModule(handle);
    handle = new Vornik::ModuleHandle();
    handle->module = keeping;
    handle->deleter = [](Module* m) { destroyModule(m); };
    ASSERT_EQ(initialize(), MODULE_STATUS_SUCCESS);
    ASSERT_TRUE(keeping->kept);
    ASSERT_EQ(start(), MODULE_STATUS_SUCCESS);
    LogCapture capture;
    keeping->kept(std::make_shared<Message>(L"Core.Unknown.State", L"FakeBus", LR"({"state":"red"})"));
    ASSERT_EQ(stop(), MODULE_STATUS_SUCCESS);
    EXPECT_EQ(keeping->tileRuns, 0);
    EXPECT_TRUE(capture.records().empty());
    EXPECT_EQ(state->protectionState, 0u);
}

TEST_F(ModuleFixture, AMessageAfterStopIsNeitherHandledNorLogged) {
    ASSERT_EQ(initialize(), MODULE_STATUS_SUCCESS);
    ASSERT_EQ(start(), MODULE_STATUS_SUCCESS);
    ASSERT_EQ(stop(), MODULE_STATUS_SUCCESS);
    LogCapture capture;
    bus.deliver(L"Core.Protection.State", LR"({"state":"red"})");
    EXPECT_EQ(module->tileRuns, 0);
    EXPECT_TRUE(capture.records().empty());
    EXPECT_EQ(state->protectionState, 0u);
    // A start after stop launches a worker that ends at once.
    EXPECT_EQ(start(), MODULE_STATUS_SUCCESS);
    EXPECT_EQ(stop(), MODULE_STATUS_SUCCESS);
}

TEST_F(ModuleFixture, HostileUserDataFailsItsMessageAndTheWorkerGoesOn) {
    ASSERT_EQ(initialize(), MODULE_STATUS_SUCCESS);
    ASSERT_EQ(start(), MODULE_STATUS_SUCCESS);
    LogCapture capture;
    const std::wstring deep = std::wstring(100000, L'[') + std::wstring(100000, L']');
    std::wstring large = LR"({"state":"off","padding":")" + std::wstring(1 << 20, L'x') + LR"("})";
    bus.deliver(L"Core.Update.State", deep);
    bus.deliver(L"Core.Update.State", std::wstring(100000, L'['));  // unterminated
    bus.deliver(L"Core.Update.State", large);
    bus.deliver(L"Core.Protection.State", LR"({"state":"red"})");
    ASSERT_EQ(stop(), MODULE_STATUS_SUCCESS);
    EXPECT_EQ(module->tileRuns, 4);
    EXPECT_EQ(capture.withMessage(L"Message handling failed for message: Core.Update.State").size(), 2u);
    EXPECT_TRUE(state->updatesOff);  // the 1 MiB document is valid and handled
    EXPECT_EQ(state->protectionState, 1u);
}

TEST_F(ModuleFixture, ASecondStartKeepsTheRunningWorker) {
    ASSERT_EQ(initialize(), MODULE_STATUS_SUCCESS);
    ASSERT_EQ(start(), MODULE_STATUS_SUCCESS);
    LogCapture capture;
    EXPECT_EQ(start(), MODULE_STATUS_SUCCESS);
    EXPECT_TRUE(capture.has(LogSeverity::Warning, L"Module is already started."));
    bus.deliver(L"Core.Update.State", LR"({"state":"off"})");
    EXPECT_EQ(stop(), MODULE_STATUS_SUCCESS);
    EXPECT_EQ(module->tileRuns, 1);
}

TEST_F(ModuleFixture, StopWithoutStartReturnsPromptlyAndSaysWhatItDiscarded) {
    ASSERT_EQ(initialize(), MODULE_STATUS_SUCCESS);
    for (int i = 0; i < 3; ++i) bus.deliver(L"Core.Update.State", LR"({"state":"off"})");
    LogCapture capture;
    EXPECT_EQ(stop(), MODULE_STATUS_SUCCESS);
    EXPECT_TRUE(capture.has(LogSeverity::Warning, L"Stopped without a running worker: 3 queued messages discarded."));
    EXPECT_EQ(module->tileRuns, 0);
}

TEST_F(ModuleFixture, DestroyingAStartedModuleStopsItFirst) {
    ASSERT_EQ(initialize(), MODULE_STATUS_SUCCESS);
    ASSERT_EQ(start(), MODULE_STATUS_SUCCESS);
    bus.deliver(L"Core.Update.State", LR"({"state":"off"})");
    ASSERT_EQ(GetModuleFunctionTable()->DestroyModule(handle), MODULE_STATUS_SUCCESS);
    handle = new Vornik::ModuleHandle();  // TearDown destroys an empty handle
    EXPECT_EQ(bus.subscriptionCount(), 0u);
    EXPECT_TRUE(state->updatesOff);  // the queued message was handled before the worker ended
}

TEST_F(ModuleFixture, HundredThousandMessagesFromFourBusThreadsAreAllHandled) {
    ASSERT_EQ(initialize(), MODULE_STATUS_SUCCESS);
    LogCapture capture;
    ASSERT_EQ(start(), MODULE_STATUS_SUCCESS);
    constexpr int kThreads = 4, kPerThread = 25000;
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([&, t] {
            for (int i = 0; i < kPerThread; ++i)
                bus.deliver(L"Core.Antivirus.LastScanTime", (t + i) % 2 ? LR"({"scan_out_of_date":true})" : L"{}");
        });
    }
    for (auto& t : threads) t.join();
    ASSERT_EQ(stop(), MODULE_STATUS_SUCCESS);
    // A message taken while the queue was at its catch-up depth has no payload of its own;
    // each burst says how many it left out. Together they account for every message.
    uint64_t leftOut = 0;
    for (const auto& record : capture.containing(L"payloads left out"))
        leftOut += std::stoull(record.message.substr(record.message.find(L": ") + 2));
    EXPECT_EQ(static_cast<uint64_t>(module->tileRuns) + leftOut, static_cast<uint64_t>(kThreads * kPerThread));
}

// One status message against a fresh module: the handler's verdict, its records, and
// the snapshot afterwards.
struct HandlerCase {
    const char* label;
    const wchar_t* name;
    const wchar_t* userData;
    bool handled;
    const wchar_t* errorRecord;  // the handler's own record, or null
    std::function<void(ProcState&)> before;
    std::function<bool(const ProcState&)> expect;
    const wchar_t* secondErrorRecord = nullptr;
};

void PrintTo(const HandlerCase& c, std::ostream* os) {
    *os << c.label << ": " << gptest::Show(c.name) << " with " << gptest::Show(c.userData)
        << (c.handled ? " is handled" : " fails");
}

class HandlerTable : public ModuleFixture, public ::testing::WithParamInterface<HandlerCase> {};

TEST_P(HandlerTable, HandlesAsDescribed) {
    const HandlerCase& c = GetParam();
    ASSERT_EQ(initialize(), MODULE_STATUS_SUCCESS);
    if (c.before) c.before(*state);
    LogCapture capture;
    ASSERT_EQ(start(), MODULE_STATUS_SUCCESS);
    bus.deliver(c.name, c.userData);
    ASSERT_EQ(stop(), MODULE_STATUS_SUCCESS);
    EXPECT_EQ(module->tileRuns, 1) << "every handled message is followed by one tile selection";
    const std::wstring verdict = (c.handled ? L"Handled message " : L"Message handling failed for message: ") +
                                 std::wstring(c.name);
    EXPECT_TRUE(capture.has(c.handled ? LogSeverity::Normal : LogSeverity::Error, verdict));
    // Besides the verdict, exactly the handler's own records: one per failure.
    std::vector<std::wstring> errors, expectedErrors;
    for (const auto& r : capture.records())
        if (r.function != L"Vornik::GlimmerpaneImpl::listenForUpdates" &&
            r.function != L"Vornik::GlimmerpaneImpl::readStatKeyDword")
            errors.push_back(r.message);
    for (const wchar_t* record : {c.errorRecord, c.secondErrorRecord})
        if (record) expectedErrors.emplace_back(record);
    EXPECT_EQ(errors, expectedErrors);
    EXPECT_TRUE(c.expect(*state));
}

const ProcState kDefaults{};
bool Unchanged(const ProcState& s) {
    const ProcState& d = kDefaults;
    return s.threatsResolved == d.threatsResolved && s.threatsDetected == d.threatsDetected &&
           s.filesScanned == d.filesScanned && s.connectionsBlocked == d.connectionsBlocked &&
           s.threatsUnresolved == d.threatsUnresolved && s.scanOutOfDate == d.scanOutOfDate &&
           s.rtsState == d.rtsState && s.rtsStarting == d.rtsStarting && s.rtsRepairing == d.rtsRepairing &&
           s.pupScanEnabled == d.pupScanEnabled && s.firewallState == d.firewallState &&
           s.datOutOfDate == d.datOutOfDate && s.updatesOff == d.updatesOff &&
           s.firewallProductEnabled == d.firewallProductEnabled &&
           s.antivirusProductEnabled == d.antivirusProductEnabled && s.antivirusActive == d.antivirusActive &&
           s.firewallActive == d.firewallActive && s.protectionState == d.protectionState;
}

INSTANTIATE_TEST_SUITE_P(
    StatusMessages, HandlerTable,
    ::testing::Values(
        HandlerCase{"red", L"Core.Protection.State", LR"({"state":"red"})", true, nullptr, nullptr,
                    [](auto& s) { return s.protectionState == 1; }},
        HandlerCase{"gray", L"Core.Protection.State", LR"({"state":"gray"})", true, nullptr, nullptr,
                    [](auto& s) { return s.protectionState == 2; }},
        HandlerCase{"Red is not red", L"Core.Protection.State", LR"({"state":"Red"})", true, nullptr,
                    [](auto& s) { s.protectionState = 1; }, [](auto& s) { return s.protectionState == 0; }},
        HandlerCase{"state as number", L"Core.Protection.State", LR"({"state":1})", false,
                    L"Missing state from protection status", nullptr, Unchanged},
        HandlerCase{"top level array", L"Core.Protection.State", LR"([{"state":"red"}])", false,
                    L"Missing state from protection status", nullptr, Unchanged},
        HandlerCase{"not JSON", L"Core.Update.State", L"state=off", false,
                    L"Invalid message: Core.Update.State with UserData state=off", nullptr, Unchanged},
        HandlerCase{"scan empty object", L"Core.Antivirus.LastScanTime", L"{}", true, nullptr, nullptr, Unchanged},
        HandlerCase{"scan out of date", L"Core.Antivirus.LastScanTime", LR"({"scan_out_of_date":true})", true,
                    nullptr, nullptr, [](auto& s) { return s.scanOutOfDate; }},
        HandlerCase{"rts off", L"Core.Antivirus.RTSState",
                    LR"({"state":"off","repair":"off","starting":false,"pup_scan_enabled":true})", true, nullptr,
                    nullptr, [](auto& s) { return s.rtsState == 1 && !s.rtsRepairing && s.pupScanEnabled; }},
        HandlerCase{"rts off repairing", L"Core.Antivirus.RTSState",
                    LR"({"state":"off","repair":"on","starting":false,"pup_scan_enabled":true})", true, nullptr,
                    nullptr, [](auto& s) { return s.rtsState == 2 && s.rtsRepairing; }},
        HandlerCase{"rts off starting", L"Core.Antivirus.RTSState",
                    LR"({"state":"off","repair":"off","starting":true,"pup_scan_enabled":true})", true, nullptr,
                    nullptr, [](auto& s) { return s.rtsState == 2 && s.rtsStarting; }},
        HandlerCase{"rts on without pup scan", L"Core.Antivirus.RTSState",
                    LR"({"state":"on","repair":"off","starting":false,"pup_scan_enabled":false})", true, nullptr,
                    nullptr, [](auto& s) { return s.rtsState == 1 && !s.pupScanEnabled; }},
        HandlerCase{"rts odd repair", L"Core.Antivirus.RTSState",
                    LR"({"state":"off","repair":"maybe","starting":true,"pup_scan_enabled":false})", false, nullptr,
                    nullptr, Unchanged},
        HandlerCase{"rts odd state keeps repair and starting", L"Core.Antivirus.RTSState",
                    LR"({"state":"paused","repair":"on","starting":true,"pup_scan_enabled":false})", false, nullptr,
                    nullptr,
                    [](auto& s) { return s.rtsRepairing && s.rtsStarting && s.rtsState == 0 && s.pupScanEnabled; }},
        HandlerCase{"rts missing state", L"Core.Antivirus.RTSState",
                    LR"({"state":true,"repair":"off","starting":false,"pup_scan_enabled":true})", false,
                    L"Missing state from RTSState", nullptr, Unchanged},
        HandlerCase{"rts missing repair", L"Core.Antivirus.RTSState",
                    LR"({"state":"off","starting":false,"pup_scan_enabled":true})", false,
                    L"Missing repair from RTSState", nullptr, Unchanged},
        HandlerCase{"rts missing starting", L"Core.Antivirus.RTSState",
                    LR"({"state":"off","repair":"off","pup_scan_enabled":true})", false,
                    L"Missing starting from RTSState", nullptr, Unchanged},
        HandlerCase{"rts missing pup scan", L"Core.Antivirus.RTSState",
                    LR"({"state":"off","repair":"off","starting":false,"pup_scan_enabled":null})", false,
                    L"Missing pup_scan_enabled from RTSState", nullptr, Unchanged},
        HandlerCase{"rts first missing key is named", L"Core.Antivirus.RTSState", LR"({"starting":false})", false,
                    L"Missing state from RTSState", nullptr, Unchanged},
        HandlerCase{"firewall off by user", L"Core.Firewall.State", LR"({"state":"off","off_by_user":true})", true,
                    nullptr, nullptr, [](auto& s) { return s.firewallState == 2; }},
        HandlerCase{"firewall off", L"Core.Firewall.State", LR"({"state":"off","off_by_user":false})", true, nullptr,
                    nullptr, [](auto& s) { return s.firewallState == 1; }},
        HandlerCase{"firewall odd state", L"Core.Firewall.State", LR"({"state":"x","off_by_user":false})", false,
                    nullptr, nullptr, Unchanged},
        HandlerCase{"firewall missing state", L"Core.Firewall.State", LR"({"off_by_user":false})", false,
                    L"Missing state from PelmorState", nullptr, Unchanged},
        HandlerCase{"firewall missing off_by_user", L"Core.Firewall.State", LR"({"state":"off"})", false,
                    L"Missing off_by_user from PelmorState", nullptr, Unchanged},
        HandlerCase{"dat", L"Core.Antivirus.DATState", LR"({"dat_out_of_date":true})", true, nullptr, nullptr,
                    [](auto& s) { return s.datOutOfDate; }},
        HandlerCase{"dat as string", L"Core.Antivirus.DATState", LR"({"dat_out_of_date":"true"})", false,
                    L"Missing dat_out_of_date from DATState", nullptr, Unchanged},
        HandlerCase{"updates off", L"Core.Update.State", LR"({"state":"off"})", true, nullptr, nullptr,
                    [](auto& s) { return s.updatesOff; }},
        HandlerCase{"updates missing state", L"Core.Update.State", LR"({"State":"off"})", false,
                    L"Missing state from Update Status", nullptr, Unchanged},
        HandlerCase{"updates odd", L"Core.Update.State", LR"({"state":"OFF"})", false, nullptr, nullptr, Unchanged},
        HandlerCase{"products only pelmor", L"Core.ProductState.ProductListChange",
                    LR"({"default":{"pelmor":"enabled"}})", true, L"Missing dravix from product list", nullptr,
                    [](auto& s) { return s.firewallProductEnabled && !s.antivirusProductEnabled; }},
        HandlerCase{"products default is a string", L"Core.ProductState.ProductListChange",
                    LR"({"default":"enabled"})", true, L"Missing pelmor from product list", nullptr,
                    [](auto& s) { return !s.firewallProductEnabled && !s.antivirusProductEnabled; },
                    L"Missing dravix from product list"},
        HandlerCase{"third party own vendor off", L"Core.ProductState.3rdPartyListChange",
                    LR"({"firewall_state":"off","antivirus_state":"on","firewall":"Corvane Pelmor","antivirus":"X"})",
                    true, nullptr, nullptr, [](auto& s) { return s.firewallActive && s.antivirusActive; }},
        HandlerCase{"third party none off", L"Core.ProductState.3rdPartyListChange",
                    LR"({"firewall_state":"off","antivirus_state":"off","firewall":"","antivirus":"corvane"})", true,
                    nullptr, [](auto& s) { s.firewallActive = s.antivirusActive = true; },
                    [](auto& s) { return !s.firewallActive && !s.antivirusActive; }},
        HandlerCase{"third party other vendor in another state stays active",
                    L"Core.ProductState.3rdPartyListChange",
                    LR"({"firewall_state":"snoozed","antivirus_state":"starting","firewall":"Acme","antivirus":"Acme"})",
                    true, nullptr, nullptr, [](auto& s) { return s.firewallActive && s.antivirusActive; }},
        HandlerCase{"third party other vendor on", L"Core.ProductState.3rdPartyListChange",
                    LR"({"firewall_state":"on","antivirus_state":"off","firewall":"Acme","antivirus":"Acme"})", true,
                    nullptr, nullptr, [](auto& s) { return s.firewallActive && !s.antivirusActive; }},
        HandlerCase{"third party missing firewall_state", L"Core.ProductState.3rdPartyListChange",
                    LR"({"antivirus_state":"off","firewall":"","antivirus":""})", false,
                    L"Missing firewall_state from 3rd party product list", nullptr, Unchanged},
        HandlerCase{"third party missing antivirus_state", L"Core.ProductState.3rdPartyListChange",
                    LR"({"firewall_state":"off","firewall":"","antivirus":""})", false,
                    L"Missing antivirus_state from 3rd party product list", nullptr, Unchanged},
        HandlerCase{"third party missing firewall", L"Core.ProductState.3rdPartyListChange",
                    LR"({"firewall_state":"off","antivirus_state":"off","firewall":7,"antivirus":""})", false,
                    L"Missing firewall from 3rd party product list", nullptr, Unchanged},
        HandlerCase{"third party missing antivirus", L"Core.ProductState.3rdPartyListChange",
                    LR"({"firewall_state":"off","antivirus_state":"off","firewall":""})", false,
                    L"Missing antivirus from 3rd party product list", nullptr, Unchanged},
        HandlerCase{"characters above U+FFFF and NUL", L"Core.Protection.State",
                    L"{\"state\":\"\U0001F600red\"}", true, nullptr, [](auto& s) { s.protectionState = 1; },
                    [](auto& s) { return s.protectionState == 0; }}),
    [](const ::testing::TestParamInfo<HandlerCase>& info) { return gptest::TestNameFrom(info.param.label); });

TEST(MessageQueue, ShutdownWaitsForTheConsumerAndClosePopsNothing) {
    MessageQueue queue;
    for (int i = 0; i < 3; ++i) queue.push(std::make_shared<Message>(L"m", L"", L""));
    std::atomic<int> taken{0};
    std::thread consumer([&] {
        std::shared_ptr<Message> m;
        while (queue.pop(m)) ++taken;
    });
    queue.shutdown();
    consumer.join();
    EXPECT_EQ(taken, 3);
    queue.push(std::make_shared<Message>(L"late", L"", L""));
    EXPECT_EQ(queue.size(), 0u);

    MessageQueue other;
    other.push(std::make_shared<Message>(L"m", L"", L""));
    EXPECT_EQ(other.close(), 1u);
    std::shared_ptr<Message> m;
    EXPECT_FALSE(other.pop(m));
}

}  // namespace
}  // namespace Vornik
