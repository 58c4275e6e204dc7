// The module's payloads do not depend on the bus that carries them: the same status
// messages, once through the real BusBroker.so and once through the recording FakeBus,
// give the same tile payloads in the same order.
#include <gtest/gtest.h>

#include <glimmerpane/abi.h>

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <thread>

#include "message/Message.h"
#include "platform/Environment.h"
#include "platform/Registry.h"
#include "support/FakeBus.h"
#include "support/TempRegistry.h"
#include "support/TestLibrary.h"
#include "utility/CRegKey.h"

namespace {

constexpr const wchar_t* kTiles = L"messaging.message.processed";

// Handled, failing and unhandled messages alike; every handled one (even a failed handler)
// must give one payload.
const std::vector<std::pair<std::wstring, std::wstring>> kSequence = {
    {L"Core.ProductState.ProductListChange", LR"({"default":{"pelmor":"enabled","dravix":"enabled"}})"},
    {L"Core.ProductState.3rdPartyListChange",
     LR"({"firewall_state":"on","antivirus_state":"on","firewall":"Corvane Firewall","antivirus":"Corvane AV"})"},
    {L"Core.Protection.State", LR"({"state":"green"})"},
    {L"Core.Firewall.State", LR"({"state":"off","off_by_user":true})"},
    {L"Core.Protection.State", LR"({"state":"gray"})"},
    {L"Core.Antivirus.RTSState", LR"({"state":"off","repair":"on","starting":false,"pup_scan_enabled":true})"},
    {L"Core.Antivirus.RTSState", LR"({"state":"off","repair":"maybe","starting":false,"pup_scan_enabled":true})"},
    {L"Core.Update.State", L"not json"},
    {L"Not.A.Status.Message", L"{}"},
    {L"Core.Update.State", LR"({"state":"off"})"},
    {L"Core.Antivirus.DATState", LR"({"dat_out_of_date":true})"},
    {L"Core.Protection.State", LR"({"state":"red"})"},
    {L"Core.Antivirus.LastScanTime", LR"({"scan_out_of_date":true})"},
    {L"Core.Firewall.State", LR"({"state":"off","off_by_user":false})"},
    {L"Core.Protection.State", LR"({"state":"green"})"},
};
constexpr size_t kHandled = 14;  // all but Not.A.Status.Message

ModuleStatus NoManager(void*, void*, void*, void*) { return 0; }

// Runs the module on a bus (handle + table), feeding kSequence through `send` and
// collecting payloads through `payloads` until `expected` came.
template <class Send, class Payloads>
std::vector<std::wstring> Drive(void* busHandle, const MessageBusFunctions* functions, Send send, Payloads payloads) {
    gptest::TestLibrary module(GP_MODULE_PATH);
    const ModuleFunctionTable* t = module.create<ModuleFunctionTable>();
    EXPECT_NE(t, nullptr) << module.error();
    if (!t) return {};
    ModuleHandle handle = nullptr;
    EXPECT_EQ(t->NewModule(&handle, L"Parity"), 0u);
    int context = 0;
    EXPECT_EQ(t->InitializeModuleV2(handle, L"Glimmerpane", L"Parity", 0, nullptr, nullptr, &context, NoManager,
                                    busHandle, functions),
              0u);
    EXPECT_EQ(t->StartModule(handle), 0u);
    size_t expected = 0;
    for (const auto& [name, data] : kSequence) {
        send(name, data);
        if (name.rfind(L"Core.", 0) == 0) ++expected;
        // One message at a time: each payload is waited for, so the two runs cannot differ
        // by how deliveries on different subscriptions interleave.
        EXPECT_TRUE(payloads(expected).size() >= expected) << "no payload after " << glimmerpane::base::Utf8FromWide(name);
    }
    EXPECT_EQ(t->StopModule(handle), 0u);
    EXPECT_EQ(t->UninitializeModule(handle), 0u);
    EXPECT_EQ(t->DestroyModule(handle), 0u);
    return payloads(expected);
}

struct BrokerViewer {
    static uint32_t OnMessage(void* context, const MessageHeader*, const wchar_t*, const wchar_t*, const wchar_t* data) {
        auto* self = static_cast<BrokerViewer*>(context);
        std::lock_guard lock(self->mutex);
        self->payloads.emplace_back(data);
        self->changed.notify_all();
        return 0;
    }
    std::vector<std::wstring> waitFor(size_t count) {
        std::unique_lock lock(mutex);
        changed.wait_for(lock, std::chrono::seconds(5), [&] { return payloads.size() >= count; });
        return payloads;
    }
    std::mutex mutex;
    std::condition_variable changed;
    std::vector<std::wstring> payloads;
};

TEST(BusParity, BusBrokerAndFakeBusCarryTheSamePayloads) {
    // English texts and grouping whatever the machine's settings, set before the module loads.
    const auto oldLanguage = glimmerpane::platform::GetEnvironmentValue("LANGUAGE");
    const auto oldLcAll = glimmerpane::platform::GetEnvironmentValue("LC_ALL");
    glimmerpane::platform::SetEnvironmentValue("LANGUAGE", "en_US");
    glimmerpane::platform::SetEnvironmentValue("LC_ALL", "en_US.UTF-8");
    // Statistics in a registry of our own, so that the counting tiles take part.
    gptest::TempFolder prefix;
    const auto oldPrefix = glimmerpane::platform::GetEnvironmentValue("GLIMMERPANE_PREFIX");
    ASSERT_TRUE(glimmerpane::platform::SetEnvironmentValue("GLIMMERPANE_PREFIX", prefix.path().string()));
    {
        Kestrix::CRegKey key;
        const std::wstring scan = L"SOFTWARE\\Corvane\\Tavrel\\Settings\\Stats\\Dravix\\Activity\\ScanReport\\";
        for (const auto& [name, value] : std::vector<std::pair<std::wstring, uint32_t>>{
                 {scan + L"TotalItemScanned", 1234}, {scan + L"VirusResolved", 2}, {scan + L"VirusDetected", 2}}) {
            ASSERT_EQ(key.Create(glimmerpane::platform::HkeyLocalMachine(), name.c_str()), 0u);
            ASSERT_EQ(key.SetDwordValue(L"SDSValue", value), 0u);
        }
    }

    // Through BusBroker.so, loaded as a host loads it.
    gptest::TestLibrary broker(GP_BUS_PATH);
    ASSERT_TRUE(broker.loaded()) << broker.error();
    const auto* bus = broker.create<MessageBusFunctions>();
    ASSERT_NE(bus, nullptr);
    void* moduleHandle = nullptr;
    void* hostHandle = nullptr;
    ASSERT_EQ(bus->open(&moduleHandle), 0u);
    ASSERT_EQ(bus->open(&hostHandle), 0u);
    BrokerViewer viewer;
    ASSERT_NE(bus->subscribe(hostHandle, &viewer, &BrokerViewer::OnMessage, kTiles), 0u);
    const std::vector<std::wstring> viaBroker = Drive(
        moduleHandle, bus,
        [&](const std::wstring& name, const std::wstring& data) {
            Vornik::Message m(name.c_str(), L"Parity host", data.c_str());
            EXPECT_EQ(bus->publish(hostHandle, m.getHeader(), m.getName().c_str(), m.getSender().c_str(),
                                   m.getUserData().c_str()),
                      0u);
        },
        [&](size_t count) { return viewer.waitFor(count); });
    EXPECT_EQ(bus->close(moduleHandle), 0u);
    EXPECT_EQ(bus->close(hostHandle), 0u);
    // As a host does: the table goes back before the unload, so the broker stops its
    // threads here rather than inside the loader (where Windows would wait for ever).
    broker.function<ReleaseObjectFn>("ReleaseObject")(const_cast<MessageBusFunctions*>(bus));
    broker.unload();

    // Through the recording fake.
    gptest::FakeBus fake;
    auto fakePayloads = [&](size_t count) {
        std::vector<std::wstring> out;
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
        do {
            out.clear();
            for (const auto& m : fake.published())
                if (m.name == kTiles) out.push_back(m.userData);
            if (out.size() >= count) break;
            fake.waitForPublished(fake.published().size() + 1, std::chrono::milliseconds(50));
        } while (std::chrono::steady_clock::now() < deadline);
        return out;
    };
    const std::vector<std::wstring> viaFake =
        Drive(fake.handle(), gptest::FakeBus::functions(),
              [&](const std::wstring& name, const std::wstring& data) { fake.deliver(name, data); }, fakePayloads);

    glimmerpane::platform::SetEnvironmentValue("GLIMMERPANE_PREFIX", oldPrefix);
    glimmerpane::platform::SetEnvironmentValue("LANGUAGE", oldLanguage);
    glimmerpane::platform::SetEnvironmentValue("LC_ALL", oldLcAll);

    ASSERT_EQ(viaBroker.size(), kHandled);
    ASSERT_EQ(viaFake.size(), kHandled);
    for (size_t i = 0; i < kHandled; ++i) EXPECT_EQ(viaBroker[i], viaFake[i]) << "payload " << i + 1;
    // The sequence went through the states it was meant to: gray with the repair, then red
    // with updates off, then the seeded statistics.
    EXPECT_NE(viaBroker[5].find(L"Repairing real-time scanning"), std::wstring::npos);
    EXPECT_NE(viaBroker[10].find(L"Automatic updates are off"), std::wstring::npos);
    EXPECT_NE(viaBroker[13].find(L"1,234"), std::wstring::npos);
}

}  // namespace
