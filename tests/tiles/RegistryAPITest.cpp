// RegistryAPI over an in-memory store, and over a store that fails on request.
#include <gtest/gtest.h>

#include <optional>

#include "support/FailingRegistryStore.h"
#include "support/MemoryRegistryStore.h"
#include "tiles/RegistryAPI.h"
#include "utility/CRegKey.h"

namespace {

using namespace glimmerpane::platform;
using Vornik::MODULE_STATUS_SUCCESS;
using Vornik::MODULE_STATUS_UNSUCCESSFUL;
using gptest::RegOp;

constexpr wchar_t kStats[] = L"SOFTWARE\\Corvane\\Tavrel\\Settings\\Stats\\Dravix\\Activity\\ScanReport\\VirusResolved";

class RegistryAPITest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_EQ(writer_.Create(HkeyLocalMachine(), kStats), kErrorSuccess);
        ASSERT_EQ(writer_.SetDwordValue(L"SDSValue", 4294967295u), kErrorSuccess);
        ASSERT_EQ(writer_.SetQwordValue(L"Wide", 1), kErrorSuccess);
    }
    std::shared_ptr<RegistryStore> store_ = gptest::MakeMemoryRegistryStore();
    std::shared_ptr<gptest::FailingRegistryStore> faults_ = std::make_shared<gptest::FailingRegistryStore>(store_);
    Vornik::RegistryAPI api_{faults_};
    Kestrix::CRegKey writer_{std::make_shared<Kestrix::internal::CRegKeyImpl>(store_)};
};

TEST_F(RegistryAPITest, ReadsADwordBelowLocalMachineWithReadAccess) {
    uint32_t value = 0;
    EXPECT_EQ(api_.readDword(kStats, L"SDSValue", value), MODULE_STATUS_SUCCESS);
    EXPECT_EQ(value, 4294967295u);
    const auto open = faults_->Last(RegOp::OpenKey);
    EXPECT_EQ(open.access, 0x20019u);
    EXPECT_EQ(open.key, HkeyLocalMachine());
    EXPECT_EQ(open.name, kStats);
    EXPECT_EQ(faults_->OpenHandles(), 0u) << "the read closes its key";
}

TEST_F(RegistryAPITest, EveryFailureIsUnsuccessfulAndLeavesTheValue) {
    const struct {
        const wchar_t* key;
        const wchar_t* name;
        std::optional<RegOp> failing;  // fails its first call
    } cases[] = {
        {L"SOFTWARE\\Corvane\\Missing", L"SDSValue", {}},
        {kStats, L"Missing", {}},
        {kStats, L"Wide", {}},  // a QWORD is not a DWORD
        {kStats, L"SDSValue", RegOp::QueryValue},
        {kStats, L"SDSValue", RegOp::OpenKey},
        {nullptr, L"SDSValue", {}},
    };
    for (const auto& c : cases) {
        if (c.failing) {
            faults_->Fail({.times = 1, .only = {*c.failing}});
        } else {
            faults_->Heal();
        }
        uint32_t value = 42;
        const std::wstring what = std::wstring(c.key ? c.key : L"null") + L" " + c.name;
        EXPECT_EQ(api_.readDword(c.key, c.name, value), MODULE_STATUS_UNSUCCESSFUL) << what;
        EXPECT_EQ(value, 42u) << what;
        EXPECT_EQ(faults_->OpenHandles(), 0u) << what;
    }
}

TEST_F(RegistryAPITest, ReadsStringsOfUpTo260Characters) {
    const std::wstring fits(259, L'f');  // 259 + terminator = 260
    const std::wstring tooLong(260, L'x');
    ASSERT_EQ(writer_.SetStringValue(L"Install Dir", fits.c_str()), kErrorSuccess);
    ASSERT_EQ(writer_.SetStringValue(L"Too Long", tooLong.c_str()), kErrorSuccess);
    std::wstring text = L"before";
    EXPECT_EQ(api_.readString(kStats, L"Install Dir", text), MODULE_STATUS_SUCCESS);
    EXPECT_EQ(text, fits);
    text = L"before";
    EXPECT_EQ(api_.readString(kStats, L"Too Long", text), MODULE_STATUS_UNSUCCESSFUL);
    EXPECT_EQ(text, L"before");
    EXPECT_EQ(api_.readString(kStats, L"SDSValue", text), MODULE_STATUS_UNSUCCESSFUL);
}

TEST_F(RegistryAPITest, ASnapshotAnswersEveryKeyOfItsSetFromOneRead) {
    constexpr wchar_t kOther[] = L"SOFTWARE\\Corvane\\Tavrel\\Settings\\Stats\\Dravix\\Activity\\ScanReport\\VirusDetected";
    constexpr wchar_t kMissing[] = L"SOFTWARE\\Corvane\\Tavrel\\Settings\\Stats\\Dravix\\Activity\\ScanReport\\Nothing";
    Kestrix::CRegKey other{std::make_shared<Kestrix::internal::CRegKeyImpl>(store_)};
    ASSERT_EQ(other.Create(HkeyLocalMachine(), kOther), kErrorSuccess);
    ASSERT_EQ(other.SetDwordValue(L"SDSValue", 1), kErrorSuccess);
    Vornik::RegistryAPI::DwordSet set({kStats, kOther, kMissing}, L"SDSValue");
    uint32_t first = 0, second = 0, missing = 9;
    {
        Vornik::RegistryAPI::Snapshot snapshot(api_, set);
        EXPECT_EQ(api_.readDword(kStats, L"SDSValue", first), MODULE_STATUS_SUCCESS);
        ASSERT_EQ(other.SetDwordValue(L"SDSValue", 2), kErrorSuccess);  // a writer between two reads
        EXPECT_EQ(api_.readDword(kOther, L"SDSValue", second), MODULE_STATUS_SUCCESS);
        EXPECT_EQ(api_.readDword(kMissing, L"SDSValue", missing), MODULE_STATUS_UNSUCCESSFUL);
    }
    EXPECT_EQ(first, 4294967295u);
    EXPECT_EQ(second, 1u);
    EXPECT_EQ(missing, 9u);
    EXPECT_EQ(api_.readDword(kOther, L"SDSValue", second), MODULE_STATUS_SUCCESS);
    EXPECT_EQ(second, 2u);
}

}  // namespace
