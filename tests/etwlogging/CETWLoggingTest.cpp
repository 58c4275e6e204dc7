// Tests of the event-tracing back end: thresholds and levels, sessions, registry
// configuration and application properties.
#include <gtest/gtest.h>

#include "support/TraceConsumerProbe.h"

#include <mutex>

#include "etwlogging/CETWLogging.h"
#include "support/TempRegistry.h"
#include "utility/CObfuscatedRegKey.h"

namespace ETWLogging {
namespace {

namespace platform = glimmerpane::platform;

struct Captured {
    std::mutex mutex;
    std::vector<LogEventRecord> records;
    std::vector<uint8_t> levels;
    platform::TraceEventSink Sink() {
        return [this](const platform::DeliveredTraceEvent& e) {
            auto r = DecodeLogEventRecord(e.payload, e.payloadSize);
            std::lock_guard lock(mutex);
            if (r) records.push_back(*r);
            levels.push_back(e.level);
        };
    }
};

class EtwLogging : public ::testing::Test {
protected:
    gptest::TempRegistry registry;
    std::unique_ptr<CETWLogging> Make(const wchar_t* app = nullptr, const wchar_t* group = L"grp") {
        auto logger = std::make_unique<CETWLogging>(registry.store, registry.folder.wide("common"));
        EXPECT_EQ(logger->InitializeEx(app, group, nullptr, L"host", nullptr), 0u);
        return logger;
    }
    void SetDword(const std::wstring& path, const wchar_t* name, uint32_t value) {
        Kestrix::CRegKey key(std::make_shared<Kestrix::internal::CRegKeyImpl>(registry.store));
        ASSERT_EQ(key.Create(platform::HkeyLocalMachine(), path.c_str()), 0u);
        ASSERT_EQ(key.SetDwordValue(name, value), 0u);
    }
};

TEST_F(EtwLogging, DefaultsForXvtWithoutAnyRegistryKey) {
    auto logger = Make();
    const auto& p = logger->Properties();
    EXPECT_EQ(p.applicationName, L"XVT");
    EXPECT_EQ(p.providerKeyPath, L"SOFTWARE\\Corvane\\Logging\\Provider");
    EXPECT_EQ(Kestrix::GuidToString(p.providerGuid), L"{E16CA450-55CC-11E0-B8AF-0800200C9A66}");
    EXPECT_EQ(Kestrix::GuidToString(p.sessionGuid), L"{491FB070-54CC-11E0-B8AF-0800200C9A66}");
    EXPECT_EQ(p.ownerMutexName, L"Global\\Corvane.{0696D115-BE52-46c3-BFEE-D73A305B6581}");
    EXPECT_EQ(p.etlFilePath, registry.folder.wide("common") + L"\\Corvane\\CVLOGS\\ETW\\cvlogs.etl");
    EXPECT_EQ(logger->GetSeverity(), 3u);
    EXPECT_TRUE(logger->IsEnabled());
    std::wstring qualified;
    logger->GetQualifiedName(qualified);
    EXPECT_EQ(qualified.rfind(L"grp\\", 0), 0u);
}

TEST_F(EtwLogging, OtherApplicationWithoutItsKeyFailsAndTheRetryFailsToo) {
    CETWLogging logger(registry.store, registry.folder.wide("common"));
    EXPECT_EQ(logger.InitializeEx(L"OtherApp", L"grp", nullptr, nullptr, nullptr), 87u);
    EXPECT_EQ(logger.Initialize(L"grp", nullptr, nullptr, nullptr), 87u);
    CETWLogging fresh(registry.store, registry.folder.wide("common"));
    EXPECT_EQ(fresh.InitializeEx(L"xvt", L"grp", nullptr, nullptr, nullptr), 0u);  // the name ignores case
    EXPECT_EQ(fresh.InitializeEx(L"XVT", L"", nullptr, nullptr, nullptr), 87u);
}

TEST_F(EtwLogging, ApplicationKeyIsReadAndNeedsEveryRequiredValue) {
    const std::wstring app = L"SOFTWARE\\Corvane.logging\\Suite";
    Kestrix::CObfuscatedRegKey key(registry.store);
    ASSERT_EQ(key.Create(platform::HkeyLocalMachine(), app.c_str()), 0u);
    ASSERT_EQ(key.SetStringValue(L"Log Path", L"/logs"), 0u);
    Kestrix::CObfuscatedRegKey session(registry.store), provider(registry.store), controller(registry.store);
    ASSERT_EQ(session.Create(platform::HkeyLocalMachine(), (app + L"\\Session").c_str()), 0u);
    ASSERT_EQ(provider.Create(platform::HkeyLocalMachine(), (app + L"\\Provider").c_str()), 0u);
    ASSERT_EQ(controller.Create(platform::HkeyLocalMachine(), (app + L"\\Controller").c_str()), 0u);
    ASSERT_EQ(session.SetStringValue(L"Session ID Guid", L"{11111111-2222-3333-4444-555555555555}"), 0u);
    ASSERT_EQ(session.SetStringValue(L"Session Name", L"S"), 0u);
    ASSERT_EQ(provider.SetStringValue(L"Provider Guid", L"{AAAAAAAA-2222-3333-4444-555555555555}"), 0u);
    ASSERT_EQ(controller.SetStringValue(L"Controller Path", L"c"), 0u);
    {
        CETWLogging logger(registry.store, L"/common");
        EXPECT_EQ(logger.InitializeEx(L"Suite", L"grp", nullptr, nullptr, nullptr), 87u);  // no owner mutex name
    }
    ASSERT_EQ(controller.SetStringValue(L"Owner Mutex Name", L"m"), 0u);
    CETWLogging logger(registry.store, L"/common");
    ASSERT_EQ(logger.InitializeEx(L"Suite", L"grp", nullptr, nullptr, nullptr), 0u);
    EXPECT_EQ(logger.Properties().logFolder, L"/common/logs");
    EXPECT_EQ(logger.Properties().providerKeyPath, app + L"\\Provider");
    EXPECT_EQ(Kestrix::GuidToString(logger.Properties().providerGuid), L"{AAAAAAAA-2222-3333-4444-555555555555}");
}

TEST_F(EtwLogging, ThresholdLevelsAndInformationAlwaysPasses) {
    auto logger = Make();
    logger->SetSeverity(5);
    EXPECT_TRUE(logger->IsSeverityEnabled(LogSeverity::Information));
    EXPECT_FALSE(logger->IsSeverityEnabled(LogSeverity::Error));
    EXPECT_TRUE(logger->IsSeverityEnabled(LogSeverity::InformationLegacy));
    logger->SetSeverity(3);
    EXPECT_FALSE(logger->IsSeverityEnabled(LogSeverity::Normal));
    EXPECT_FALSE(logger->IsSeverityEnabled(LogSeverity::Warning));
    logger->SetSeverity(0);
    EXPECT_EQ(logger->GetSeverity(), 1u);
    logger->SetSeverity(60);
    EXPECT_EQ(logger->GetSeverity(), 6u);
    EXPECT_EQ(logger->MapSeverityToLevel(6), 3u);
    EXPECT_EQ(logger->MapSeverityToLevel(4), 4u);
}

TEST_F(EtwLogging, EventsCarryTheRecordAtTheMappedLevelOnlyWhileASessionIsAttached) {
    GP_SKIP_WITHOUT_TRACE_CONSUMER();
    auto logger = Make();
    ASSERT_EQ(logger->RegisterProvider(), 0u);
    EXPECT_EQ(logger->LogEx(LogSeverity::Error, L"f", L"fn", 1, L"dropped"), 0u);  // no session yet
    Captured captured;
    platform::TraceHandle session = 0;
    ASSERT_EQ(platform::StartTraceSession(kDefaultProviderGuid, 3, 0, captured.Sink(), &session), 0u);
    EXPECT_EQ(logger->SessionHandle(), session);
    EXPECT_EQ(logger->GetSeverity(), 3u);
    logger->LogEx(LogSeverity::InformationLegacy, L"dll\\SharedLibrary", L"Vornik::X::y", 12, L"six");
    logger->LogEx(LogSeverity::Error, L"a", L"b", 2, L"four");
    logger->LogEx(LogSeverity::Normal, L"a", L"b", 2, L"below threshold");
    logger->LogEx(LogSeverity::Error, L"a", L"b", 2, L"");
    logger->LogEx(static_cast<LogSeverity>(9), L"a", L"b", 2, L"nine");
    const std::wstring long5000(5000, L'm');
    logger->Log(L"a", L"b", 3, LogSeverity::Error, long5000.c_str());
    ASSERT_EQ(platform::StopTraceSession(session), 0u);
    ASSERT_EQ(captured.records.size(), 4u);
    EXPECT_EQ(captured.records[0].message, L"six");
    EXPECT_EQ(captured.levels[0], 3);
    EXPECT_EQ(captured.records[0].file, L"dll\\SharedLibrary");
    EXPECT_EQ(captured.records[0].function, L"Vornik::X::y");
    EXPECT_EQ(captured.records[0].line, 12u);
    EXPECT_EQ(captured.records[0].groupName, L"grp");
    EXPECT_EQ(captured.levels[1], 4);
    EXPECT_EQ(captured.levels[2], 3);  // severity 9 has no level of its own
    EXPECT_EQ(captured.records[3].message.size(), 2080u);
    EXPECT_EQ(logger->SessionHandle(), 0u);
}

TEST_F(EtwLogging, SessionLevelAndRegistryOverrides) {
    GP_SKIP_WITHOUT_TRACE_CONSUMER();
    SetDword(L"SOFTWARE\\Corvane\\Logging\\Provider", L"Severity", 5);
    auto logger = Make();
    EXPECT_EQ(logger->GetSeverity(), 5u);  // read at initialisation
    ASSERT_EQ(logger->RegisterProvider(), 0u);
    Captured captured;
    platform::TraceHandle session = 0;
    SetDword(L"SOFTWARE\\Corvane\\Logging\\Provider\\grp", L"Severity", 2);
    ASSERT_EQ(platform::StartTraceSession(kDefaultProviderGuid, 1, 0, captured.Sink(), &session), 0u);
    EXPECT_EQ(logger->GetSeverity(), 2u);  // the group key overrides the provider key
    logger->LogEx(LogSeverity::Information, L"a", L"b", 1, L"three passes");
    logger->LogEx(LogSeverity::Normal, L"a", L"b", 1, L"one does not");
    ASSERT_EQ(platform::StopTraceSession(session), 0u);
    ASSERT_EQ(captured.records.size(), 1u);
    EXPECT_EQ(captured.records[0].message, L"three passes");
}

TEST_F(EtwLogging, ThresholdFiveLetsSeverityThreeThroughToTheSession) {
    GP_SKIP_WITHOUT_TRACE_CONSUMER();
    auto logger = Make();
    ASSERT_EQ(logger->RegisterProvider(), 0u);
    Captured captured;
    platform::TraceHandle session = 0;
    ASSERT_EQ(platform::StartTraceSession(kDefaultProviderGuid, 5, 0, captured.Sink(), &session), 0u);
    EXPECT_EQ(logger->GetSeverity(), 5u);
    logger->LogEx(LogSeverity::Information, L"a", L"b", 1, L"three");
    logger->LogEx(LogSeverity::Error, L"a", L"b", 1, L"four");
    logger->LogEx(LogSeverity::InformationLegacy, L"a", L"b", 1, L"six");
    ASSERT_EQ(platform::StopTraceSession(session), 0u);
    ASSERT_EQ(captured.records.size(), 2u);
    EXPECT_EQ(captured.records[0].message, L"three");
    EXPECT_EQ(captured.records[1].message, L"six");
    EXPECT_EQ(captured.levels[1], 3);
}

TEST_F(EtwLogging, ASecondSessionIsIgnoredWhileTheFirstIsAttached) {
    GP_SKIP_WITHOUT_TRACE_CONSUMER();
    auto logger = Make();
    ASSERT_EQ(logger->RegisterProvider(), 0u);
    Captured first, second;
    platform::TraceHandle s1 = 0, s2 = 0;
    ASSERT_EQ(platform::StartTraceSession(kDefaultProviderGuid, 4, 0, first.Sink(), &s1), 0u);
    ASSERT_EQ(platform::StartTraceSession(kDefaultProviderGuid, 1, 0, second.Sink(), &s2), 0u);
    EXPECT_EQ(logger->SessionHandle(), s1);
    EXPECT_EQ(logger->GetSeverity(), 4u);
    logger->LogEx(LogSeverity::Error, L"a", L"b", 1, L"to the first");
    // The second session leaving does not switch the first one off.
    ASSERT_EQ(platform::StopTraceSession(s2), 0u);
    EXPECT_TRUE(logger->IsEnabled());
    logger->LogEx(LogSeverity::Error, L"a", L"b", 1, L"still the first");
    ASSERT_EQ(platform::StopTraceSession(s1), 0u);
    EXPECT_FALSE(logger->IsEnabled());
    EXPECT_EQ(first.records.size(), 2u);
    EXPECT_TRUE(second.records.empty());
    // Once the first has gone, a new session is served.
    Captured third;
    platform::TraceHandle s3 = 0;
    ASSERT_EQ(platform::StartTraceSession(kDefaultProviderGuid, 2, 0, third.Sink(), &s3), 0u);
    EXPECT_EQ(logger->SessionHandle(), s3);
    logger->LogEx(LogSeverity::Warning, L"a", L"b", 1, L"third");
    ASSERT_EQ(platform::StopTraceSession(s3), 0u);
    EXPECT_EQ(third.records.size(), 1u);
}

TEST_F(EtwLogging, ControlEntryRefusesMissingContextAndUnknownRequests) {
    auto logger = Make();
    EXPECT_EQ(CETWLogging::ControlEntry(4, nullptr, nullptr, nullptr), 87u);
    EXPECT_EQ(logger->ControlCallback(99, nullptr), 87u);
    EXPECT_EQ(logger->ControlCallback(4, nullptr), 6u);  // no session in the buffer
}

TEST_F(EtwLogging, RegistrationIsAttemptedOnceAndShutdownUnregisters) {
    GP_SKIP_WITHOUT_TRACE_CONSUMER();
    auto logger = Make();
    EXPECT_EQ(logger->RegisterProvider(), 0u);
    EXPECT_EQ(logger->RegisterProvider(), 0u);
    EXPECT_EQ(logger->InitializeEx(nullptr, L"grp", nullptr, nullptr, nullptr), 20001u);
    logger->Shutdown();
    EXPECT_FALSE(logger->IsEnabled());
    Captured captured;
    platform::TraceHandle session = 0;
    ASSERT_EQ(platform::StartTraceSession(kDefaultProviderGuid, 3, 0, captured.Sink(), &session), 0u);
    EXPECT_EQ(logger->SessionHandle(), 0u);  // no longer registered: not enabled
    ASSERT_EQ(platform::StopTraceSession(session), 0u);
}

}  // namespace
}  // namespace ETWLogging
