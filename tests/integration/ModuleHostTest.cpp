// The host's contract, end to end: load the built module with the platform loader,
// resolve its four exports and drive every entry in the host's order and out of it.
#include <gtest/gtest.h>

#include <glimmerpane/abi.h>

#include "support/FakeBus.h"
#include "support/TestLibrary.h"

namespace {

constexpr ModuleStatus kSuccess = 0;
constexpr ModuleStatus kInvalidParameter = 0x80000008;
constexpr ModuleStatus kUnknownException = 0x8000000F;

ModuleStatus NoManager(void*, void*, void*, void*) { return 0; }

class ModuleHost : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(library_.loaded()) << library_.error();
        createObject_ = library_.function<CreateObjectFn>("CreateObject");
        releaseObject_ = library_.function<ReleaseObjectFn>("ReleaseObject");
        versionStr_ = library_.function<GetVersionStrFn>("GetVersionStr");
        versionNum_ = library_.function<GetVersionNumFn>("GetVersionNum");
        ASSERT_TRUE(createObject_ && releaseObject_ && versionStr_ && versionNum_);
        table_ = library_.create<ModuleFunctionTable>();
        ASSERT_NE(table_, nullptr);
    }

    gptest::TestLibrary library_{GP_MODULE_PATH};
    CreateObjectFn createObject_ = nullptr;
    ReleaseObjectFn releaseObject_ = nullptr;
    GetVersionStrFn versionStr_ = nullptr;
    GetVersionNumFn versionNum_ = nullptr;
    const ModuleFunctionTable* table_ = nullptr;
};

TEST_F(ModuleHost, ReportsItsVersion) {
    EXPECT_EQ(versionNum_(), 1006000u);
    EXPECT_STREQ(versionStr_(), "1.6.0");
}

TEST_F(ModuleHost, CreateObjectIgnoresItsArgumentAndAlwaysReturnsTheSameTable) {
    EXPECT_EQ(createObject_(0), table_);
    EXPECT_EQ(createObject_(0xFFFFFFFF), table_);
    releaseObject_(nullptr);
    releaseObject_(reinterpret_cast<void*>(0x1234));
    EXPECT_EQ(createObject_(1006000), table_);
}

TEST_F(ModuleHost, ExportsNothingButTheFourFunctions) {
    EXPECT_EQ(library_.symbol("_ZN6Vornik22GetModuleFunctionTableEv"), nullptr);
    EXPECT_EQ(library_.symbol("_ZN6Vornik12createModuleEPPNS_6ModuleE"), nullptr);
}

TEST_F(ModuleHost, DrivesTheModuleInTheHostsOrder) {
    gptest::FakeBus bus;
    ModuleHandle handle = nullptr;
    ASSERT_EQ(table_->NewModule(&handle, L"IntegrationGroup"), kSuccess);
    ASSERT_NE(handle, nullptr);
    const wchar_t* names[] = {L"a", L"b"};
    const wchar_t* values[] = {L"1", L"2"};
    int context = 0;
    EXPECT_EQ(table_->InitializeModuleV2(handle, L"Glimmerpane", L"second", 2, names, values, &context, NoManager,
                                         bus.handle(), gptest::FakeBus::functions()),
              kSuccess);
    EXPECT_EQ(table_->DirectMessage(handle, nullptr, L"nobody.listens", L"host", L""), kSuccess);
    EXPECT_EQ(table_->StartModule(handle), kSuccess);
    EXPECT_EQ(table_->StopModule(handle), kSuccess);
    EXPECT_EQ(table_->UninitializeModule(handle), kSuccess);
    EXPECT_EQ(table_->DestroyModule(handle), kSuccess);
}

TEST_F(ModuleHost, InitializeV2WithoutABusHandleIsContained) {
    gptest::FakeBus bus;
    ModuleHandle handle = nullptr;
    ASSERT_EQ(table_->NewModule(&handle, nullptr), kSuccess);
    int context = 0;
    EXPECT_EQ(table_->InitializeModuleV2(handle, L"Glimmerpane", L"", 0, nullptr, nullptr, &context, NoManager,
                                         nullptr, gptest::FakeBus::functions()),
              kUnknownException);
    EXPECT_EQ(table_->InitializeModuleV2(handle, L"Glimmerpane", L"", 0, nullptr, nullptr, &context, NoManager,
                                         bus.handle(), nullptr),
              kUnknownException);
    EXPECT_EQ(table_->DestroyModule(handle), kSuccess);
}

TEST_F(ModuleHost, RefusesMissingHandlesAtEveryEntry) {
    EXPECT_EQ(table_->NewModule(nullptr, L"g"), kInvalidParameter);
    EXPECT_EQ(table_->DestroyModule(nullptr), kInvalidParameter);
    EXPECT_EQ(table_->InitializeModule(nullptr, L"", L"", 0, nullptr, nullptr, nullptr, nullptr), kInvalidParameter);
    EXPECT_EQ(table_->InitializeModuleV2(nullptr, L"", L"", 0, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr),
              kInvalidParameter);
    EXPECT_EQ(table_->StartModule(nullptr), kInvalidParameter);
    EXPECT_EQ(table_->StopModule(nullptr), kInvalidParameter);
    EXPECT_EQ(table_->UninitializeModule(nullptr), kInvalidParameter);
    EXPECT_EQ(table_->DirectMessage(nullptr, nullptr, L"n", L"s", L""), kInvalidParameter);
}

TEST_F(ModuleHost, OutOfOrderCallsOnALiveHandleDoNotCrash) {
    ModuleHandle handle = nullptr;
    ASSERT_EQ(table_->NewModule(&handle, nullptr), kSuccess);
    // Stop and uninitialise before start, a direct message before initialisation.
    EXPECT_EQ(table_->StopModule(handle), kSuccess);
    EXPECT_EQ(table_->UninitializeModule(handle), kSuccess);
    // Without a bus client a direct message is an invalid state, not a crash.
    EXPECT_EQ(table_->DirectMessage(handle, nullptr, L"n", L"s", L"{}"), 0x800000FFu);
    EXPECT_EQ(table_->DestroyModule(handle), kSuccess);
}

}  // namespace
