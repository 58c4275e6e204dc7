// Tests of base initialisation through the entry functions, direct messages and the
// container.
#include <gtest/gtest.h>

#include "message/MessageBusClient.h"
#include "message/MessageBusShimImpl.h"
#include "module/BaseModule.h"
#include "module/ModuleFunctions.h"
#include "module/ModuleHandle.h"
#include "module/ModuleStatus.h"
#include "support/FakeBus.h"
#include "support/RecordingLogger.h"

namespace Vornik {
namespace {

using ETWLogging::LogSeverity;
using gptest::FakeBus;
using gptest::LogCapture;

// A module that subscribes to one name and counts what reaches it.
class ProbeModule : public BaseModule {
public:
    int initializeCalls = 0;
    int received = 0;
    ModuleStatus initialize() override {
        ++initializeCalls;
        return subscribe(L"probe.message", [this](const std::shared_ptr<Message>&) -> uint32_t { return ++received; });
    }
    using BaseModule::messageBus;
    using BaseModule::releaseMessageBus;
};

ModuleManagerFunction NoManager() {
    return [](void*, void*, void*, void*) -> ModuleStatus { return 0; };
}

class BaseModuleTest : public ::testing::Test {
protected:
    ModuleStatus initializeV2(void* busHandle, const MessageBusFunctions* functions, uint32_t count = 0,
                              const wchar_t* const* names = nullptr, const wchar_t* const* values = nullptr) {
        return GetModuleFunctionTable()->InitializeModuleV2(&handle, L"Glimmerpane", L"second", count, names, values,
                                                            &managerContext, NoManager(), busHandle, functions);
    }
    void SetUp() override { handle.module = &module; }
    void TearDown() override { handle.module = nullptr; }

    FakeBus bus;
    ProbeModule module;
    Vornik::ModuleHandle handle;
    int managerContext = 0;
};

TEST_F(BaseModuleTest, InitializeV2BindsTheHostBusAndKeepsTheFirstOfDuplicateProperties) {
    const wchar_t* names[] = {L"a", L"b", L"a"};
    const wchar_t* values[] = {L"1", L"2", L"3"};
    ASSERT_EQ(initializeV2(bus.handle(), FakeBus::functions(), 3, names, values), MODULE_STATUS_SUCCESS);
    EXPECT_EQ(module.initializeCalls, 1);
    EXPECT_EQ(module.name(), L"Glimmerpane");
    EXPECT_EQ(module.secondName(), L"second");
    EXPECT_EQ(module.properties().size(), 2u);
    EXPECT_EQ(module.properties().at(L"a"), L"1");
    EXPECT_EQ(module.moduleManager()->context(), &managerContext);
    EXPECT_EQ(module.container()->resolve<MessageBus>(), module.messageBus());
    EXPECT_EQ(bus.subscribedNames(), std::vector<std::wstring>{L"probe.message"});
    bus.deliver(L"probe.message", L"");
    EXPECT_EQ(module.received, 1);
}

TEST_F(BaseModuleTest, ReleasingTheBusWithdrawsEverySubscriptionAtOnce) {
    ASSERT_EQ(initializeV2(bus.handle(), FakeBus::functions()), MODULE_STATUS_SUCCESS);
    ASSERT_EQ(bus.subscriptionCount(), 1u);
    module.releaseMessageBus();
    // Nothing, not even the container's registration, keeps the client alive.
    EXPECT_EQ(bus.subscriptionCount(), 0u);
    EXPECT_EQ(module.container()->resolve<MessageBus>(), nullptr);
}

TEST_F(BaseModuleTest, NullBusHandleOrTableEndsAsUnknownExceptionWithoutInitialize) {
    {
        LogCapture capture;
        EXPECT_EQ(initializeV2(nullptr, FakeBus::functions()), MODULE_STATUS_UNKNOWN_EXCEPTION);
        const auto records = capture.records();
        ASSERT_EQ(records.size(), 1u);  // the throw site's record, none from the boundary
        EXPECT_EQ(records[0].severity, LogSeverity::Error);
        EXPECT_EQ(records[0].message, L"Invalid message bus handle. Throwing ModuleException.");
    }
    EXPECT_EQ(initializeV2(bus.handle(), nullptr), MODULE_STATUS_UNKNOWN_EXCEPTION);
    EXPECT_EQ(module.initializeCalls, 0);
}

// The test binary lies beside the built BusBroker library, so the module loads it itself;
// the refusals of that load are the loader's tests (tests/dll, tests/message/MessageBusLibTest).
TEST_F(BaseModuleTest, InitializeLoadsTheBusLibraryBesideTheHost) {
    LogCapture capture;
    EXPECT_EQ(GetModuleFunctionTable()->InitializeModule(&handle, L"n", L"s", 0, nullptr, nullptr, &managerContext,
                                                         NoManager()),
              MODULE_STATUS_SUCCESS);
    EXPECT_EQ(module.initializeCalls, 1);
    EXPECT_NE(std::dynamic_pointer_cast<MessageBusClient>(module.messageBus()), nullptr);
    EXPECT_TRUE(capture.containing(L"Throwing ModuleException.").empty());
}

TEST_F(BaseModuleTest, MissingPropertyArraysAreRefused) {
    EXPECT_EQ(initializeV2(bus.handle(), FakeBus::functions(), 2, nullptr, nullptr), MODULE_STATUS_INVALID_PARAMETER);
    EXPECT_EQ(module.initializeCalls, 0);
}

TEST_F(BaseModuleTest, BaseInitializeRefusesMissingManagerOrBus) {
    auto shim = std::make_shared<MessageBusShimImpl>(bus.handle(), FakeBus::functions());
    auto client = std::make_shared<MessageBusClient>(shim, nullptr);
    auto manager = std::make_shared<internal::ModuleManagerShim>(nullptr, NoManager());
    {
        LogCapture capture;
        EXPECT_EQ(module.baseInitialize(L"n", L"s", {}, nullptr, client), MODULE_STATUS_INVALID_PARAMETER);
        EXPECT_TRUE(capture.has(LogSeverity::Error, L"Invalid module manager object passed to base initialize."));
        EXPECT_EQ(module.name(), L"n");  // what was set so far stays
    }
    LogCapture capture;
    EXPECT_EQ(module.baseInitialize(L"n", L"s", {}, manager, nullptr), MODULE_STATUS_INVALID_PARAMETER);
    EXPECT_TRUE(capture.has(LogSeverity::Error, L"Invalid message bus object passed to base initialize."));
    EXPECT_EQ(module.moduleManager(), manager);
    EXPECT_EQ(module.messageBus(), nullptr);
}

TEST_F(BaseModuleTest, DirectMessagesReachSubscriptionsAndUnmatchedNamesAreFine) {
    ASSERT_EQ(initializeV2(bus.handle(), FakeBus::functions()), MODULE_STATUS_SUCCESS);
    EXPECT_EQ(GetModuleFunctionTable()->DirectMessage(&handle, nullptr, L"probe.message", L"host", L"{}"), 0u);
    EXPECT_EQ(module.received, 1);
    EXPECT_EQ(GetModuleFunctionTable()->DirectMessage(&handle, nullptr, L"nobody.listens", L"host", L""), 0u);
    EXPECT_EQ(module.received, 1);
}

TEST_F(BaseModuleTest, DirectMessageWithoutAClientIsAnInvalidState) {
    LogCapture capture;
    EXPECT_EQ(GetModuleFunctionTable()->DirectMessage(&handle, nullptr, L"probe.message", L"host", L""),
              MODULE_STATUS_INVALID_STATE);
    EXPECT_TRUE(capture.has(LogSeverity::Error, L"Failed to process direct message. Invalid message bus client."));
}

TEST(IOCContainer, RegisteringAgainReplacesAndNamesAreSeparate) {
    Kestrix::IOCContainer container;
    auto first = std::make_shared<int>(1), second = std::make_shared<int>(2), other = std::make_shared<int>(3);
    container.registerInstance<int>(Kestrix::kDefaultRegistrationName, first);
    container.registerInstance<int>(Kestrix::kDefaultRegistrationName, second);
    container.registerInstance<int>(L"other", other);
    EXPECT_EQ(container.resolve<int>(), second);
    EXPECT_EQ(container.resolve<int>(L"other"), other);
    EXPECT_EQ(container.resolve<long>(), nullptr);
    EXPECT_EQ(container.resolve<int>(L"missing"), nullptr);
}

TEST(ModuleManagerShim, ForwardsContextFirstAndDropsTheSecondArgument) {
    static void* seen[4];
    ModuleManagerFunction record = [](void* c, void* a1, void* a2, void* a3) -> ModuleStatus {
        seen[0] = c, seen[1] = a1, seen[2] = a2, seen[3] = a3;
        return 9;
    };
    int context = 0, a = 0, b = 0, c = 0;
    internal::ModuleManagerShim shim(&context, record);
    EXPECT_EQ(shim.call(&a, &b, &c), 9u);
    EXPECT_EQ(seen[0], &context);
    EXPECT_EQ(seen[1], &a);
    EXPECT_EQ(seen[2], nullptr);
    EXPECT_EQ(seen[3], &c);
}

}  // namespace
}  // namespace Vornik
