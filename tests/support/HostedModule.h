// HostedModule.h - the built module run through its C ABI as a host runs it: a copy of the
// module file in a folder of its own with a chosen resource library beside it (the module
// looks for GPNResources beside its own file), GLIMMERPANE_PREFIX pointing at a temporary
// prefix whose registry the test fills, and the recording fake bus.
//
//   gptest::HostedModule module;
//   ASSERT_TRUE(module.Start(GP_MODULE_PATH, GP_RESOURCES_PATH, L"MyTest"));
//   module.SetStatistic(L"SOFTWARE\\...\\TotalItemScanned", 5);
//   module.bus.deliver(L"Core.Update.State", LR"({"state":"on"})");
//
// The destructor stops, uninitializes and destroys the module and unloads it.
#pragma once

#include <gtest/gtest.h>

#include <glimmerpane/abi.h>

#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "support/TestEnvironment.h"
#include "support/FakeBus.h"
#include "support/TempRegistry.h"
#include "support/TestLibrary.h"

namespace gptest {

class HostedModule {
public:
    HostedModule() = default;
    ~HostedModule();
    HostedModule(const HostedModule&) = delete;
    HostedModule& operator=(const HostedModule&) = delete;

    // Copies the module and the resource library into <prefix>/module, loads the copy and
    // runs NewModule and InitializeModuleV2 on the fake bus.
    ::testing::AssertionResult Start(const std::filesystem::path& modulePath, const std::filesystem::path& resources,
                                     const wchar_t* instanceName);

    // The statistic's value (SDSValue under HKLM\key) in the prefix's registry; nullopt
    // removes the value and leaves the key.
    void SetStatistic(const std::wstring& key, std::optional<uint32_t> value);

    // The tile payloads published so far ("messaging.message.processed"), in order.
    std::vector<RecordedMessage> Payloads() const;

    TempFolder prefix;
    ScopedEnvironment environment;
    FakeBus bus;
    const ModuleFunctionTable* table = nullptr;
    ModuleHandle handle = nullptr;

private:
    std::optional<TestLibrary> library_;
    int context_ = 0;
};

}  // namespace gptest
