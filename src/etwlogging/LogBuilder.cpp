// LogBuilder.cpp - the default log builder and the utility-logger bridge.
#include "etwlogging/LogBuilder.h"

#include "etwlogging/CETWLogging.h"
#include "etwlogging/CLogging.h"
#include "utility/CObfuscatedRegKey.h"

namespace ETWLogging {

namespace platform = glimmerpane::platform;

CDefaultLogBuilder::CDefaultLogBuilder(std::shared_ptr<platform::RegistryStore> registry, Factory makeEtw,
                                       Factory makeFile)
    : registry_(std::move(registry)), makeEtw_(std::move(makeEtw)), makeFile_(std::move(makeFile)) {
    if (!makeEtw_) makeEtw_ = [r = registry_] { return std::make_unique<CETWLogging>(r); };
    if (!makeFile_) makeFile_ = [] { return std::make_unique<CLogging>(); };
}

uint32_t CDefaultLogBuilder::Build(const wchar_t* groupName, void* moduleHandle, const wchar_t* hostName,
                                   int32_t mechanism, std::unique_ptr<CLoggingIf>& out, ConfigReaderIf* reader) {
    return BuildEx(nullptr, groupName, moduleHandle, hostName, mechanism, out, reader);
}

bool CDefaultLogBuilder::WantsFileBackEnd(int32_t mechanism, ConfigReaderIf* reader) const {
    if (mechanism == 1) return true;
    uint32_t value = 0;
    if (reader != nullptr) return reader->ReadDword(kLoggingMechanismValue, &value) && value == 1;
    Kestrix::CObfuscatedRegKey key(registry_);
    if (key.Open(platform::HkeyLocalMachine(), kLoggingKeyPath, platform::kKeyRead) != 0) return false;
    return key.QueryDwordValue(kLoggingMechanismValue, &value) == 0 && value == 1;
}

uint32_t CDefaultLogBuilder::BuildEx(const wchar_t* applicationName, const wchar_t* groupName, void* moduleHandle,
                                     const wchar_t* hostName, int32_t mechanism, std::unique_ptr<CLoggingIf>& out,
                                     ConfigReaderIf* reader) {
    if (out) return kStatusInvalidParameter;
    if ((groupName != nullptr && *groupName == 0) || (hostName != nullptr && *hostName == 0))
        return kStatusInvalidParameter;
    std::unique_ptr<CLoggingIf> logger = WantsFileBackEnd(mechanism, reader) ? makeFile_() : makeEtw_();
    if (!logger) return kStatusOutOfMemory;
    uint32_t status = 1627;
    if (auto* extended = dynamic_cast<CLoggingIf_ex*>(logger.get()))
        status = extended->InitializeEx(applicationName, groupName, moduleHandle, hostName, nullptr);
    if (status != 0) status = logger->Initialize(groupName, moduleHandle, hostName, nullptr);
    if (status != 0) return status;
    logger->AddRef();
    out = std::move(logger);
    return kStatusSuccess;
}

LogSeverity CKestrixLogHandler::MapLevel(uint32_t level) {
    if (level == Kestrix::KESTRIX_LEVEL_NONE || level == Kestrix::KESTRIX_LEVEL_INFO) return LogSeverity::Normal;
    if (level == Kestrix::KESTRIX_LEVEL_ERROR) return LogSeverity::Error;
    return LogSeverity::Warning;
}

void CKestrixLogHandler::Log(uint32_t level, const wchar_t* file, const wchar_t* function, uint32_t line,
                             const wchar_t* message) {
    LoggerHolder* holder = ExistingLoggerHolder();
    if (holder == nullptr || holder->logger() == nullptr) return;
    CLoggingIf* logger = holder->logger();
    if (logger->RegisterProvider() != 0) return;
    const LogSeverity severity = MapLevel(level);
    if (auto* extended = dynamic_cast<CLoggingIf_ex*>(logger))
        extended->LogEx(severity, file, function, line, message ? message : L"");
    else
        logger->Log(file, function, line, severity, message ? message : L"");
}

CKestrixLogHandler& CKestrixLogHandler::Instance() {
    static CKestrixLogHandler instance;
    return instance;
}

void BuildLoggerInto(LoggerHolder& holder, const LoggerParameters& id, CLogBuilderIf& builder) {
    std::unique_ptr<CLoggingIf> logger;
    uint32_t status;
    if (auto* extended = dynamic_cast<CLogBuilderIf_ex*>(&builder))
        status = extended->BuildEx(id.applicationName, id.groupName, id.moduleHandle, id.hostName, id.mechanism,
                                   logger, nullptr);
    else
        status = builder.Build(id.groupName, id.moduleHandle, id.hostName, id.mechanism, logger, nullptr);
    if (status == 0) holder.setLogger(std::move(logger));
    CKestrixLogHandler* bridge = &CKestrixLogHandler::Instance();
    if (Kestrix::CLogger::RegisterHandler(bridge) == 0)
        holder.setTeardownHook([bridge] { Kestrix::CLogger::UnregisterHandler(bridge); });
}

void BuildConfiguredLogger(LoggerHolder& holder, const LoggerParameters& identity) {
    // A static object, not a leaked one: the library that holds it may be unloaded.
    static CDefaultLogBuilder builder;
    BuildLoggerInto(holder, identity, builder);
    // Register the trace provider now rather than at the first record that passes the
    // filter: until a session's enable request arrives through the registration, the
    // threshold is the default one, and every lower-severity record before the first
    // higher one (the module's start-up records) would be filtered away unseen.
    if (CLoggingIf* logger = holder.logger()) logger->RegisterProvider();
}

}  // namespace ETWLogging
