// Tests of the entry functions through the function table, with their log records.
#include <gtest/gtest.h>

#include <stdexcept>

#include "etwlogging/LogCall.h"
#include "module/ModuleFactory.h"
#include "module/ModuleFunctions.h"
#include "module/ModuleHandle.h"
#include "module/ModuleStatus.h"
#include "support/RecordingLogger.h"

namespace Vornik {
namespace {

using ETWLogging::LogSeverity;
using gptest::LogCapture;

const ModuleFunctionTable& Table() { return *GetModuleFunctionTable(); }

// A module whose every operation throws or succeeds on request.
class ScriptedModule : public Module {
public:
    bool throwing = false;
    int calls = 0;
    ModuleStatus initialize() override { return act(); }
    ModuleStatus start() override { return act(); }
    ModuleStatus stop() override { return act(); }
    ModuleStatus uninitialize() override { return act(); }
    ModuleStatus baseInitialize(const std::wstring&, const std::wstring&, const ModuleProperties&,
                                std::shared_ptr<internal::ModuleManagerShim>, std::shared_ptr<MessageBus>) override {
        return act();
    }

private:
    ModuleStatus act() {
        ++calls;
        if (throwing) throw std::runtime_error("scripted failure");
        return MODULE_STATUS_SUCCESS;
    }
};

TEST(ModuleFunctions, TableIsStaticAndInContractOrder) {
    EXPECT_EQ(GetModuleFunctionTable(), GetModuleFunctionTable());
    EXPECT_NE(Table().NewModule, nullptr);
    EXPECT_NE(Table().InitializeModuleV2, nullptr);
    // InitializeModuleV2 is the eighth pointer, after DirectMessage.
    EXPECT_EQ(offsetof(ModuleFunctionTable, InitializeModuleV2), 7 * sizeof(void*));
    EXPECT_EQ(offsetof(ModuleFunctionTable, DirectMessage), 6 * sizeof(void*));
}

TEST(ModuleFunctions, NewModuleRefusesNullAddress) {
    LogCapture capture;
    EXPECT_EQ(Table().NewModule(nullptr, L"group"), MODULE_STATUS_INVALID_PARAMETER);
    auto records = capture.withMessage(L"Invalid handle address.");
    ASSERT_EQ(records.size(), 1u);
    EXPECT_EQ(records[0].severity, LogSeverity::Error);
    EXPECT_EQ(records[0].source, L"ModuleFunctions");
    EXPECT_EQ(records[0].function, L"NewModule");
}

TEST(ModuleFunctions, EveryEntryRefusesNullAndEmptyHandles) {
    Vornik::ModuleHandle withoutModule;  // module pointer null, no deleter
    struct Entry {
        const wchar_t* name;
        std::function<ModuleStatus(::ModuleHandle)> call;
    };
    const std::wstring empty;
    const Entry entries[] = {
        {L"InitializeModule", [&](::ModuleHandle h) {
             return Table().InitializeModule(h, L"", L"", 0, nullptr, nullptr, nullptr, nullptr); }},
        {L"InitializeModuleV2", [&](::ModuleHandle h) {
             return Table().InitializeModuleV2(h, L"", L"", 0, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr); }},
        {L"StartModule", [](::ModuleHandle h) { return Table().StartModule(h); }},
        {L"StopModule", [](::ModuleHandle h) { return Table().StopModule(h); }},
        {L"UninitializeModule", [](::ModuleHandle h) { return Table().UninitializeModule(h); }},
        {L"DirectMessage", [](::ModuleHandle h) { return Table().DirectMessage(h, nullptr, L"n", L"s", L""); }},
    };
    for (const Entry& entry : entries) {
        for (::ModuleHandle handle : {static_cast<::ModuleHandle>(nullptr), static_cast<::ModuleHandle>(&withoutModule)}) {
            LogCapture capture;
            EXPECT_EQ(entry.call(handle), MODULE_STATUS_INVALID_PARAMETER) << entry.name;
            auto records = capture.withMessage(L"Invalid handle.");
            ASSERT_EQ(records.size(), 1u) << entry.name;
            EXPECT_EQ(records[0].function, entry.name);
            EXPECT_EQ(records[0].source, L"ModuleFunctions");
            EXPECT_EQ(records[0].severity, LogSeverity::Error);
        }
    }
}

TEST(ModuleFunctions, DestroyRefusesOnlyANullHandle) {
    LogCapture capture;
    EXPECT_EQ(Table().DestroyModule(nullptr), MODULE_STATUS_INVALID_PARAMETER);
    ASSERT_EQ(capture.withMessage(L"Invalid handle.").size(), 1u);
    EXPECT_EQ(capture.withMessage(L"Invalid handle.")[0].function, L"DestroyModule");

    auto* withoutModule = new Vornik::ModuleHandle();
    withoutModule->deleter = [](Module* m) { delete m; };
    EXPECT_EQ(Table().DestroyModule(withoutModule), MODULE_STATUS_SUCCESS);
}

TEST(ModuleFunctions, ThrowingBodiesBecomeUnknownExceptionAndTheHostGoesOn) {
    ScriptedModule module;
    module.throwing = true;
    Vornik::ModuleHandle handle;
    handle.module = &module;
    EXPECT_EQ(Table().StartModule(&handle), MODULE_STATUS_UNKNOWN_EXCEPTION);
    EXPECT_EQ(Table().StopModule(&handle), MODULE_STATUS_UNKNOWN_EXCEPTION);
    EXPECT_EQ(Table().UninitializeModule(&handle), MODULE_STATUS_UNKNOWN_EXCEPTION);
    module.throwing = false;
    EXPECT_EQ(Table().StartModule(&handle), MODULE_STATUS_SUCCESS);
    EXPECT_EQ(module.calls, 4);
}

TEST(ModuleFunctions, NewModuleWithoutItsResourceLibraryFailsAndStoresNothing) {
    // The test binary is not the module library, so the resource library beside the
    // module cannot be found: creation must fail cleanly (the host goes on).
    LogCapture capture;
    ::ModuleHandle handle = reinterpret_cast<::ModuleHandle>(0x1);
    EXPECT_EQ(Table().NewModule(&handle, nullptr), MODULE_STATUS_UNSUCCESSFUL);
    EXPECT_EQ(handle, reinterpret_cast<::ModuleHandle>(0x1));
    // The cause (a Warning where it is found) and the creation failure: one Error in all.
    std::vector<std::wstring> errors;
    for (const auto& r : capture.records())
        if (r.severity == LogSeverity::Error) errors.push_back(r.message);
    EXPECT_EQ(errors, std::vector<std::wstring>{L"Failed to create Glimmerpane Module"});
}

TEST(ModuleFunctions, DestroyRunsTheDeleterOnceAndLogsIt) {
    LogCapture capture;
    auto* handle = new Vornik::ModuleHandle();
    handle->module = new ScriptedModule();
    handle->deleter = [](Module* m) {
        if (m != nullptr) destroyModule(m);
    };
    EXPECT_EQ(Table().DestroyModule(handle), MODULE_STATUS_SUCCESS);
    auto destroyed = capture.withMessage(L"Glimmerpane Module destroyed");
    ASSERT_EQ(destroyed.size(), 1u);
    EXPECT_EQ(destroyed[0].function, L"Vornik::destroyModule");
}

TEST(ModuleFunctions, DestroyContainsAThrowingStopAndStillDestroys) {
    struct Watched : ScriptedModule {
        explicit Watched(bool* gone) : gone(gone) {}
        ~Watched() override { *gone = true; }
        bool* gone;
    };
    bool gone = false;
    auto* module = new Watched(&gone);
    module->throwing = true;
    auto* handle = new Vornik::ModuleHandle();
    handle->module = module;
    handle->deleter = [](Module* m) {
        if (m != nullptr) destroyModule(m);
    };
    LogCapture capture;
    EXPECT_EQ(Table().DestroyModule(handle), MODULE_STATUS_UNKNOWN_EXCEPTION);
    EXPECT_TRUE(gone);
    const auto records = capture.records();
    std::vector<std::wstring> texts;
    for (const auto& r : records) texts.push_back(r.message);
    EXPECT_EQ(texts, (std::vector<std::wstring>{L"Exception caught at the module boundary: scripted failure",
                                                L"Glimmerpane Module destroyed"}));
}

TEST(ModuleFunctions, NewModuleTakesTheLoggingGroupOnlyWhenNonEmpty) {
    ETWLogging::LoggerParameters& parameters = ETWLogging::CurrentLoggerParameters();
    const ETWLogging::LoggerParameters saved = parameters;
    static const wchar_t kGroup[] = L"HostGroup";

    // Whether creation itself succeeds here does not matter: the group is taken first.
    parameters.hostName = L"host";
    ::ModuleHandle handle = nullptr;
    Table().NewModule(&handle, L"");
    EXPECT_STREQ(parameters.hostName, L"host");
    if (handle) {
        EXPECT_EQ(Table().DestroyModule(handle), MODULE_STATUS_SUCCESS);
    }

    handle = nullptr;
    Table().NewModule(&handle, kGroup);
    EXPECT_EQ(parameters.groupName, kGroup);  // the pointer is kept, not a copy
    EXPECT_EQ(parameters.hostName, nullptr);
    EXPECT_EQ(parameters.applicationName, nullptr);
    EXPECT_EQ(parameters.mechanism, 0);
    if (handle) {
        EXPECT_EQ(Table().DestroyModule(handle), MODULE_STATUS_SUCCESS);
    }
    parameters = saved;
}

}  // namespace
}  // namespace Vornik
