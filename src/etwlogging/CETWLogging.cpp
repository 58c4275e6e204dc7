// CETWLogging.cpp - the event-tracing back end, its properties and its listener.
#include "etwlogging/CETWLogging.h"

#include "base/CaseFold.h"

#include <cwctype>
#include <vector>

#include "base/WideFormat.h"
#include "platform/KnownFolders.h"
#include "platform/LogFile.h"
#include "platform/Process.h"
#include "utility/CObfuscatedRegKey.h"
#include "utility/FileVersionInfo.h"

namespace ETWLogging {

using glimmerpane::base::FormatWide;
using glimmerpane::base::FormatWideCappedV;
using glimmerpane::base::FormatWideV;

namespace platform = glimmerpane::platform;

namespace {

std::wstring FileNameOf(const std::wstring& path) {
    const size_t slash = path.find_last_of(L"\\/");
    return slash == std::wstring::npos ? path : path.substr(slash + 1);
}

std::wstring ModulePath(void* handle) { return platform::LoadedModulePath(handle); }

// "1,6,0,0" -> "1.6.0.0"; any other form as it is.
std::wstring NormaliseVersion(const std::wstring& text) {
    unsigned a, b, c, d;
    wchar_t tail;
    if (std::swscanf(text.c_str(), L"%u,%u,%u,%u%lc", &a, &b, &c, &d, &tail) == 4)
        return FormatWide(L"%u.%u.%u.%u", a, b, c, d);
    return text;
}

}  // namespace

namespace internal {

ETWAppProperties::ETWAppProperties(std::shared_ptr<platform::RegistryStore> registry, std::wstring commonFolder)
    : registry_(std::move(registry)), commonFolderOverride_(std::move(commonFolder)) {}

uint32_t ETWAppProperties::GetCommonAppDataFolder(std::wstring& folder) {
    if (!commonFolderOverride_.empty()) {
        folder = commonFolderOverride_;
        return 0;
    }
    return platform::ProgramDataFolder(&folder, true);
}

void ETWAppProperties::BuildKeyPath(std::wstring& out, const wchar_t* suffix) const {
    out = GetLoggingKeyBase() + L"\\" + applicationName;
    if (suffix != nullptr) out += std::wstring(L"\\") + suffix;
}

bool ETWAppProperties::Initialize(const wchar_t* name) {
    if (!applicationName.empty()) return false;
    applicationName = (name != nullptr && *name != 0) ? name : kDefaultApplicationName;
    if (GetCommonAppDataFolder(commonAppDataFolder) != 0) return false;
    std::wstring keyPath;
    BuildKeyPath(keyPath);
    Kestrix::CObfuscatedRegKey key(registry_);
    if (key.Open(registryRoot, keyPath.c_str(), platform::kKeyRead) == 0) return ReadFromRegistry(commonAppDataFolder, key);
    return SetDefaults(commonAppDataFolder);
}

bool ETWAppProperties::ReadFromRegistry(const std::wstring& common, Kestrix::CRegKey& applicationKey) {
    Kestrix::CObfuscatedRegKey session(registry_), provider(registry_), controller(registry_);
    const platform::RegKeyHandle app = applicationKey.GetHandle();
    const bool sessionOpen = session.Open(app, L"Session", platform::kKeyRead) == 0;
    const bool providerOpen = provider.Open(app, L"Provider", platform::kKeyRead) == 0;
    const bool controllerOpen = controller.Open(app, L"Controller", platform::kKeyRead) == 0;
    BuildKeyPath(applicationKeyPath);
    BuildKeyPath(controllerKeyPath, L"Controller");
    BuildKeyPath(providerKeyPath, L"Provider");
    applicationKeyPathCopy = applicationKeyPath;

    std::wstring value;
    logFolder = common + (applicationKey.QueryStringValue(L"Log Path", &value) == 0 ? value : L"\\Corvane\\CVLOGS");
    etlFolder = common + (applicationKey.QueryStringValue(L"ETL Path", &value) == 0 ? value
                                                                                    : L"\\Corvane\\CVLOGS\\ETW");
    etlFilePath = etlFolder + L"\\" + GetEtlFileName();
    bool complete = controllerOpen && sessionOpen && providerOpen;
    if (controllerOpen) {
        complete = controller.QueryStringValue(L"Controller Path", &controllerPath) == 0 && complete;
        complete = controller.QueryStringValue(L"Owner Mutex Name", &ownerMutexName) == 0 && complete;
    }
    if (sessionOpen) {
        complete = session.QueryGuidValue(L"Session ID Guid", &sessionGuid) == 0 && complete;
        complete = session.QueryStringValue(L"Session Name", &sessionName) == 0 && complete;
    }
    if (providerOpen) complete = provider.QueryGuidValue(L"Provider Guid", &providerGuid) == 0 && complete;
    return complete;
}

bool ETWAppProperties::SetDefaults(const std::wstring& common) {
    if (!glimmerpane::base::EqualsIgnoreCase(applicationName, kDefaultApplicationName)) return false;
    applicationKeyPath = L"SOFTWARE\\Corvane\\Logging";
    controllerKeyPath = L"SOFTWARE\\Corvane\\Logging\\Controller";
    providerKeyPath = L"SOFTWARE\\Corvane\\Logging\\Provider";
    applicationKeyPathCopy = applicationKeyPath;
    logFolder = common + L"\\Corvane\\CVLOGS";
    etlFolder = common + L"\\Corvane\\CVLOGS\\ETW";
    etlFilePath = etlFolder + L"\\" + GetEtlFileName();
    ownerMutexName = L"Global\\Corvane.{0696D115-BE52-46c3-BFEE-D73A305B6581}";
    Kestrix::GuidFromString(L"{491FB070-54CC-11E0-B8AF-0800200C9A66}", &sessionGuid);
    sessionName = L"Corvane.{E4367DA7-2B80-47f3-86D2-7626A18FC6F4}";
    providerGuid = kDefaultProviderGuid;
    controllerPath.clear();
    return true;
}

}  // namespace internal

// ---- listener ----
CETWConfigurationListener::CETWConfigurationListener(const internal::ETWAppProperties& properties,
                                                     CLoggingIf* logger)
    : properties_(properties), logger_(logger) {}

bool CETWConfigurationListener::Attach(CLoggingIf* logger) {
    if (logger_ != nullptr) return false;
    logger_ = logger;
    return true;
}

void CETWConfigurationListener::GetProviderKey(void** root, std::wstring* path) {
    if (root) *root = properties_.registryRoot;
    if (path) *path = properties_.providerKeyPath;
}

void CETWConfigurationListener::ReadSettings(void* root, const std::wstring& keyPath) {
    if (logger_ == nullptr) return;
    Kestrix::CRegKey key(std::make_shared<Kestrix::internal::CRegKeyImpl>(properties_.Registry()));
    if (key.Open(static_cast<platform::RegKeyHandle>(root), keyPath.c_str(), platform::kKeyRead) != 0) return;
    uint32_t value = 0;
    if (key.QueryDwordValue(L"Enable", &value) == 0) logger_->SetEnabled(value != 0);
    if (key.QueryDwordValue(L"Severity", &value) == 0) logger_->SetSeverity(value);
}

void CETWConfigurationListener::OnConfigChange(bool enabled, uint32_t level, uint32_t /*flags*/) {
    if (logger_ == nullptr) return;
    logger_->SetEnabled(enabled);
    logger_->SetSeverity(level);
    void* root = nullptr;
    std::wstring path;
    GetProviderKey(&root, &path);
    if (path.empty()) return;
    std::wstring group, qualified;
    logger_->GetGroupName(group);
    logger_->GetQualifiedName(qualified);
    ReadSettings(root, path);
    if (!group.empty()) ReadSettings(root, path + L"\\" + group);
    if (!qualified.empty() && qualified != group) ReadSettings(root, path + L"\\" + qualified);
}

// ---- CETWLogging ----
CETWLogging::CETWLogging(std::shared_ptr<platform::RegistryStore> registry, std::wstring commonFolder)
    : properties_(std::move(registry), std::move(commonFolder)) {}

CETWLogging::~CETWLogging() { Shutdown(); }

uint32_t CETWLogging::Initialize(const wchar_t* groupName, void* moduleHandle, const wchar_t* hostName,
                                 LoggingConfigListenerIf* listener) {
    return InitializeEx(nullptr, groupName, moduleHandle, hostName, listener);
}

uint32_t CETWLogging::InitializeEx(const wchar_t* applicationName, const wchar_t* groupName, void* moduleHandle,
                                   const wchar_t* hostName, LoggingConfigListenerIf* listener) {
    if (registered_) return kStatusAlreadyInitialized;
    if ((groupName != nullptr && *groupName == 0) || (hostName != nullptr && *hostName == 0))
        return kStatusInvalidParameter;
    groupName_ = groupName ? groupName : L"";
    hostName_ = hostName ? hostName : L"";
    if (!properties_.Initialize(applicationName)) return kStatusInvalidParameter;
    imageName_ = FileNameOf(platform::ProcessImagePath());
    GetModuleName(moduleBaseName_, moduleHandle, true);
    BuildQualifiedName();
    if (listener != nullptr) {
        ownedListener_.reset();
        listener_ = listener;
    } else {
        ownedListener_ = std::make_unique<CETWConfigurationListener>(properties_, this);
        listener_ = ownedListener_.get();
    }
    listener_->OnConfigChange(true, 3, 0);
    processId_ = platform::CurrentProcessId();
    ComputeModuleVersion();
    eventClassGuid_ = kEventClassGuid;
    initialized_ = true;
    return kStatusSuccess;
}

void CETWLogging::GetModuleName(std::wstring& name, void* moduleHandle, bool stripExtension) {
    name = FileNameOf(moduleHandle != nullptr ? ModulePath(moduleHandle) : platform::ProcessImagePath());
    if (stripExtension) {
        const size_t dot = name.rfind(L'.');
        if (dot != std::wstring::npos && dot != 0) name.resize(dot);
    }
}

void CETWLogging::BuildQualifiedName() {
    qualifiedName_ = groupName_;
    if (!moduleBaseName_.empty()) qualifiedName_ += L"\\" + moduleBaseName_;
}

void CETWLogging::ComputeModuleVersion() {
    // The module that holds this code does not change while the process runs.
    struct Identity {
        std::wstring file, version;
    };
    static const Identity identity = [] {
        Identity id;
        const std::wstring path = ModulePath(platform::ModuleOfAddress(reinterpret_cast<const void*>(
            &CETWLogging::ControlEntry)));
        id.file = FileNameOf(path);
        Kestrix::FileVersionInfo info;
        if (!path.empty() && info.Load(path)) {
            std::wstring version;
            info.GetString(version, L"FileVersion");
            id.version = NormaliseVersion(version);
        }
        return id;
    }();
    moduleFileName_ = identity.file;
    moduleVersion_ = identity.version;
}

uint32_t CETWLogging::RegisterProvider() {
    if (registered_) return kStatusSuccess;
    std::lock_guard lock(registration_);
    if (registered_) return kStatusSuccess;
    platform::TraceRegistrationHandle handle = 0;
    const uint32_t status = platform::RegisterTraceProvider(&CETWLogging::ControlEntry, this,
                                                            properties_.providerGuid, eventClassGuid_,
                                                            &handle);
    if (registrationHandle_ != 0) platform::UnregisterTraceProvider(registrationHandle_);
    registrationHandle_ = status == 0 ? handle : 0;
    registered_ = true;
    return status;
}

uint32_t CETWLogging::UnregisterProvider() {
    std::lock_guard lock(registration_);
    if (registrationHandle_ != 0) {
        const uint32_t status = platform::UnregisterTraceProvider(registrationHandle_);
        registrationHandle_ = 0;
        registered_ = false;
        return status;
    }
    return kStatusSuccess;
}

void CETWLogging::Shutdown() {
    SetEnabled(false);
    UnregisterProvider();
}

uint32_t CETWLogging::Uninitialize() {
    if (registered_) Shutdown();
    return kStatusSuccess;
}

bool CETWLogging::IsSeverityEnabled(LogSeverity severity) {
    const uint32_t s = static_cast<uint32_t>(severity);
    return s >= threshold_ || s == 3;
}

void CETWLogging::SetSeverity(uint32_t threshold) { threshold_ = threshold == 0 ? 1 : threshold > 6 ? 6 : threshold; }

uint32_t CETWLogging::ControlEntry(uint32_t requestCode, void* context, uint32_t* /*reserved*/, void* buffer) {
    if (context == nullptr) return kStatusInvalidParameter;
    return static_cast<CETWLogging*>(context)->ControlCallback(requestCode, buffer);
}

uint32_t CETWLogging::ControlCallback(uint32_t requestCode, void* buffer) {
    uint32_t error = 0;
    if (requestCode == platform::kWmiEnableEvents) {
        const platform::TraceHandle session = platform::TraceLoggerHandleOf(buffer, &error);
        if (session == platform::kInvalidTraceHandle) return error;
        uint64_t stored = session_;
        if (stored != 0 && stored != session) return kStatusSuccess;  // the first session keeps the provider
        session_ = session;
        if (listener_ != nullptr) {
            const uint8_t level = platform::TraceEnableLevel(session, &error);
            if (level == 0) return error;
            const uint32_t flags = platform::TraceEnableFlags(session, &error);
            listener_->OnConfigChange(true, level, flags);
        }
        return kStatusSuccess;
    }
    if (requestCode == platform::kWmiDisableEvents) {
        const platform::TraceHandle session = platform::TraceLoggerHandleOf(buffer, &error);
        // A session that was ignored when it enabled us has no say when it goes away.
        if (session != platform::kInvalidTraceHandle && session_ != 0 && session != session_) return kStatusSuccess;
        if (listener_ != nullptr) listener_->OnConfigChange(false, threshold_, 0);
        if (session != platform::kInvalidTraceHandle && session_ != 0 && session == session_) session_ = 0;
        return kStatusSuccess;
    }
    return kStatusInvalidParameter;
}

void CETWLogging::FillRecord(const wchar_t* file, const wchar_t* function, uint32_t line, void* out) {
    auto* record = static_cast<LogEventRecord*>(out);
    record->processId = processId_;
    record->threadId = platform::CurrentTraceThreadId();
    record->imageName = imageName_;
    record->file = file ? file : L"";
    record->line = line;
    record->function = function ? function : L"";
    record->moduleName = moduleFileName_;
    record->moduleVersion = moduleVersion_;
    record->groupName = groupName_;
}

uint32_t CETWLogging::LogEx(LogSeverity severity, const wchar_t* file, const wchar_t* function, uint32_t line,
                            const wchar_t* message) {
    if (!enabled_ || !IsSeverityEnabled(severity) || message == nullptr || *message == 0) return kStatusSuccess;
    const uint32_t level = MapSeverityToLevel(static_cast<uint32_t>(severity));
    LogEventRecord record;
    FillRecord(file, function, line, &record);
    record.message = message;
    if (record.message.size() > kFormatBufferLength) record.message.resize(kFormatBufferLength / 2);
    std::vector<uint8_t> payload;
    if (!SerializeLogEventRecord(record, payload)) return kStatusSuccess;
    platform::TraceEventHeader header;
    header.size = 64;
    header.classType = 1;
    header.classLevel = static_cast<uint8_t>(level >= 1 && level <= 5 ? level : 3);
    header.classVersion = 1;
    header.flags = platform::kWnodeFlagTracedGuid | platform::kWnodeFlagUseMofPtr;
    header.guid = eventClassGuid_;
    header.mofData = payload.data();
    header.mofLength = static_cast<uint32_t>(payload.size());
    platform::SendTraceEvent(session_, &header);  // no session: dropped
    return kStatusSuccess;
}

uint32_t CETWLogging::Log(const wchar_t* file, const wchar_t* function, uint32_t line, LogSeverity severity,
                          const wchar_t* message) {
    return LogEx(severity, file, function, line, message);
}

}  // namespace ETWLogging
