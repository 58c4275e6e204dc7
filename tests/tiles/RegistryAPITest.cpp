// RegistryAPI over a temporary store, and over a store that fails on request.
#include <gtest/gtest.h>

#include "support/TempRegistry.h"
#include "tiles/RegistryAPI.h"
#include "utility/CRegKey.h"

namespace {

using namespace glimmerpane::platform;
using Vornik::MODULE_STATUS_SUCCESS;
using Vornik::MODULE_STATUS_UNSUCCESSFUL;

constexpr wchar_t kStats[] = L"SOFTWARE\\Corvane\\Tavrel\\Settings\\Stats\\Dravix\\Activity\\ScanReport\\VirusResolved";

// Passes everything to a real store; records how keys are opened and fails the Nth value query.
class FaultStore : public RegistryStore {
public:
    explicit FaultStore(std::shared_ptr<RegistryStore> inner) : inner_(std::move(inner)) {}
    int failQueryAt = -1;
    int queries = 0;
    uint32_t lastAccess = 0;
    RegKeyHandle lastRoot = nullptr;

    uint32_t OpenKey(RegKeyHandle k, std::wstring_view s, uint32_t a, RegKeyHandle* r) override {
        lastAccess = a;
        lastRoot = k;
        return inner_->OpenKey(k, s, a, r);
    }
    uint32_t QueryValue(RegKeyHandle k, std::wstring_view n, uint32_t* t, uint8_t* d, uint32_t* s) override {
        return queries++ == failQueryAt ? kErrorRegistryIoFailed : inner_->QueryValue(k, n, t, d, s);
    }
    uint32_t CreateKey(RegKeyHandle k, std::wstring_view s, uint32_t o, uint32_t a, RegKeyHandle* r, uint32_t* d) override {
        return inner_->CreateKey(k, s, o, a, r, d);
    }
    uint32_t CloseKey(RegKeyHandle k) override { return inner_->CloseKey(k); }
    uint32_t DeleteKey(RegKeyHandle k, std::wstring_view s, uint32_t v) override { return inner_->DeleteKey(k, s, v); }
    uint32_t DeleteTree(RegKeyHandle k, std::wstring_view s) override { return inner_->DeleteTree(k, s); }
    uint32_t SetValue(RegKeyHandle k, std::wstring_view n, uint32_t t, const uint8_t* d, uint32_t s) override {
        return inner_->SetValue(k, n, t, d, s);
    }
    uint32_t DeleteValue(RegKeyHandle k, std::wstring_view n) override { return inner_->DeleteValue(k, n); }
    uint32_t EnumKey(RegKeyHandle k, uint32_t i, std::wstring* n, RegFileTime* t) override { return inner_->EnumKey(k, i, n, t); }
    uint32_t EnumValue(RegKeyHandle k, uint32_t i, std::wstring* n, uint32_t* t, std::string* d) override {
        return inner_->EnumValue(k, i, n, t, d);
    }
    uint32_t QueryInfoKey(RegKeyHandle k, RegKeyInfo* i) override { return inner_->QueryInfoKey(k, i); }
    uint32_t KeyPath(RegKeyHandle k, std::wstring* p) override { return inner_->KeyPath(k, p); }
    uint32_t FlushKey(RegKeyHandle k) override { return inner_->FlushKey(k); }
    uint32_t GetKeySecurity(RegKeyHandle k, uint32_t i, void* d, uint32_t* s) override { return inner_->GetKeySecurity(k, i, d, s); }
    uint32_t SetKeySecurity(RegKeyHandle k, uint32_t i, void* d) override { return inner_->SetKeySecurity(k, i, d); }
    uint32_t GrantEveryoneFullAccess(RegKeyHandle k) override { return inner_->GrantEveryoneFullAccess(k); }
    uint32_t NotifyChange(RegKeyHandle k, bool w, uint32_t f, void* e, bool a) override {
        return inner_->NotifyChange(k, w, f, e, a);
    }

private:
    std::shared_ptr<RegistryStore> inner_;
};

class RegistryAPITest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_EQ(writer_.Create(HkeyLocalMachine(), kStats), kErrorSuccess);
        ASSERT_EQ(writer_.SetDwordValue(L"SDSValue", 4294967295u), kErrorSuccess);
        ASSERT_EQ(writer_.SetQwordValue(L"Wide", 1), kErrorSuccess);
    }
    gptest::TempRegistry registry_;
    std::shared_ptr<FaultStore> faults_ = std::make_shared<FaultStore>(registry_.store);
    Vornik::RegistryAPI api_{faults_};
    Kestrix::CRegKey writer_{std::make_shared<Kestrix::internal::CRegKeyImpl>(registry_.store)};
};

TEST_F(RegistryAPITest, ReadsADwordBelowLocalMachineWithReadAccess) {
    uint32_t value = 0;
    EXPECT_EQ(api_.readDword(kStats, L"SDSValue", value), MODULE_STATUS_SUCCESS);
    EXPECT_EQ(value, 4294967295u);
    EXPECT_EQ(faults_->lastAccess, 0x20019u);
    EXPECT_EQ(faults_->lastRoot, HkeyLocalMachine());
}

TEST_F(RegistryAPITest, EveryFailureIsUnsuccessfulAndLeavesTheValue) {
    const struct {
        const wchar_t* key;
        const wchar_t* name;
        int failQueryAt;
    } cases[] = {
        {L"SOFTWARE\\Corvane\\Missing", L"SDSValue", -1},
        {kStats, L"Missing", -1},
        {kStats, L"Wide", -1},  // a QWORD is not a DWORD
        {kStats, L"SDSValue", 0},
        {nullptr, L"SDSValue", -1},
    };
    for (const auto& c : cases) {
        faults_->queries = 0;
        faults_->failQueryAt = c.failQueryAt;
        uint32_t value = 42;
        EXPECT_EQ(api_.readDword(c.key, c.name, value), MODULE_STATUS_UNSUCCESSFUL) << (c.key ? c.key : L"null");
        EXPECT_EQ(value, 42u);
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

}  // namespace
