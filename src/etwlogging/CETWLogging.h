// CETWLogging.h - the event-tracing back end, its application properties and its
// configuration listener.
//
// CETWLogging is a classic trace provider (platform/EventTrace.h). It registers on the
// first record, is enabled by a trace session through its control callback and sends each
// record as one event whose payload is a LogEventRecord. Only the first session that
// enables it is served; a second one is ignored until the first disables it. Without a
// session events are dropped. Its threshold comes from the session's level, overridden by
// the registry values "Enable" and "Severity" under the provider key (then the key of the
// group, then of the qualified name).
//
// ETWAppProperties reads the application's tracing configuration from
// HKLM "SOFTWARE\Corvane.logging\<application>" (the default application "XVT" has
// built-in defaults when its key is missing; any other application needs its key).
//
// LogEx, IsSeverityEnabled and the control callback may run on any thread.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>

#include "etwlogging/CLoggingIf.h"
#include "etwlogging/LogRecordFormat.h"
#include "platform/EventTrace.h"
#include "platform/Registry.h"
#include "utility/CRegKey.h"

namespace ETWLogging {

inline constexpr wchar_t kDefaultApplicationName[] = L"XVT";
// {CD1DAAD0-54CC-11E0-B8AF-0800200C9A66}
inline constexpr glimmerpane::platform::TraceGuid kEventClassGuid = {
    0xCD1DAAD0, 0x54CC, 0x11E0, {0xB8, 0xAF, 0x08, 0x00, 0x20, 0x0C, 0x9A, 0x66}};
// {E16CA450-55CC-11E0-B8AF-0800200C9A66}
inline constexpr glimmerpane::platform::TraceGuid kDefaultProviderGuid = {
    0xE16CA450, 0x55CC, 0x11E0, {0xB8, 0xAF, 0x08, 0x00, 0x20, 0x0C, 0x9A, 0x66}};

namespace internal {

class ETWAppProperties {
public:
    // registry: the store to read (empty = the process registry). commonFolder: the common
    // application data folder to use instead of asking the platform (tests).
    explicit ETWAppProperties(std::shared_ptr<glimmerpane::platform::RegistryStore> registry = {},
                              std::wstring commonFolder = {});
    virtual ~ETWAppProperties() = default;
    ETWAppProperties(const ETWAppProperties&) = default;
    ETWAppProperties& operator=(const ETWAppProperties&) = default;

    // False when a name is set already, the common folder cannot be had, or the
    // application's key is missing (for any name but "XVT") or lacks a required value.
    virtual bool Initialize(const wchar_t* applicationName);
    virtual uint32_t GetCommonAppDataFolder(std::wstring& folder);
    virtual bool ReadFromRegistry(const std::wstring& commonFolder, Kestrix::CRegKey& applicationKey);
    virtual bool SetDefaults(const std::wstring& commonFolder);
    virtual std::wstring GetEtlFileName() const { return L"cvlogs.etl"; }
    virtual std::wstring GetLoggingKeyBase() const { return L"SOFTWARE\\Corvane.logging"; }
    virtual void BuildKeyPath(std::wstring& out, const wchar_t* suffix = nullptr) const;

    std::wstring applicationName;
    std::wstring commonAppDataFolder;
    Kestrix::GUID sessionGuid;
    std::wstring sessionName;
    Kestrix::GUID providerGuid;
    std::wstring ownerMutexName;
    std::wstring logFolder;
    std::wstring etlFolder;
    std::wstring etlFilePath;
    std::wstring controllerPath;
    glimmerpane::platform::RegKeyHandle registryRoot = glimmerpane::platform::HkeyLocalMachine();
    std::wstring applicationKeyPath;
    std::wstring controllerKeyPath;
    std::wstring providerKeyPath;
    std::wstring applicationKeyPathCopy;

    const std::shared_ptr<glimmerpane::platform::RegistryStore>& Registry() const { return registry_; }

private:
    std::shared_ptr<glimmerpane::platform::RegistryStore> registry_;
    std::wstring commonFolderOverride_;
};

}  // namespace internal

class CETWConfigurationListener : public LoggingConfigListenerIf {
public:
    CETWConfigurationListener(const internal::ETWAppProperties& properties, CLoggingIf* logger);

    void OnConfigChange(bool enabled, uint32_t level, uint32_t flags) override;
    bool Attach(CLoggingIf* logger) override;
    void GetProviderKey(void** root, std::wstring* path) override;
    void ReadSettings(void* root, const std::wstring& keyPath) override;

private:
    internal::ETWAppProperties properties_;
    CLoggingIf* logger_ = nullptr;
};

class CETWLogging : public CLoggingIf_ex {
public:
    explicit CETWLogging(std::shared_ptr<glimmerpane::platform::RegistryStore> registry = {},
                         std::wstring commonFolder = {});
    ~CETWLogging() override;

    uint32_t Initialize(const wchar_t* groupName, void* moduleHandle, const wchar_t* hostName,
                        LoggingConfigListenerIf* listener) override;
    uint32_t RegisterProvider() override;
    void GetQualifiedName(std::wstring& name) override { name = qualifiedName_; }
    void GetGroupName(std::wstring& name) override { name = groupName_; }
    uint32_t Uninitialize() override;
    void SetEnabled(bool enabled) override { enabled_ = enabled; }
    bool IsEnabled() override { return enabled_; }
    uint32_t Log(const wchar_t* file, const wchar_t* function, uint32_t line, LogSeverity severity,
                 const wchar_t* message) override;
    // severity >= threshold, and Information (3) always.
    bool IsSeverityEnabled(LogSeverity severity) override;
    void SetSeverity(uint32_t threshold) override;
    uint32_t GetSeverity() override { return threshold_; }

    // 20001 once registered; 87 for an empty group or host, or properties that cannot be had.
    uint32_t InitializeEx(const wchar_t* applicationName, const wchar_t* groupName, void* moduleHandle,
                          const wchar_t* hostName, LoggingConfigListenerIf* listener) override;
    uint32_t LogEx(LogSeverity severity, const wchar_t* file, const wchar_t* function, uint32_t line,
                   const wchar_t* message) override;
    bool IsSessionHandle(uint64_t handle) override { return handle != 0 && handle == session_; }
    uint32_t ControlCallback(uint32_t requestCode, void* buffer) override;
    void ComputeModuleVersion() override;
    void GetModuleName(std::wstring& name, void* moduleHandle, bool stripExtension) override;
    void BuildQualifiedName() override;
    uint32_t UnregisterProvider() override;
    void Shutdown() override;
    uint32_t MapSeverityToLevel(uint32_t severity) override { return severity == 6 ? 3 : severity; }
    void FillRecord(const wchar_t* file, const wchar_t* function, uint32_t line, void* record) override;

    // The system's entry: 87 without a context, else forwards to ControlCallback.
    static uint32_t ControlEntry(uint32_t requestCode, void* context, uint32_t* reserved, void* buffer);

    const internal::ETWAppProperties& Properties() const { return properties_; }
    uint64_t SessionHandle() const { return session_; }
    const std::wstring& ModuleFileName() const { return moduleFileName_; }
    const std::wstring& ModuleVersion() const { return moduleVersion_; }

private:
    std::atomic<bool> registered_{false};
    std::mutex registration_;
    uint32_t processId_ = 0;
    glimmerpane::platform::TraceGuid eventClassGuid_{};
    std::unique_ptr<LoggingConfigListenerIf> ownedListener_;
    LoggingConfigListenerIf* listener_ = nullptr;
    std::atomic<bool> enabled_{true};
    std::atomic<uint32_t> threshold_{3};
    std::wstring groupName_;
    std::wstring hostName_;
    std::wstring imageName_;
    std::wstring moduleBaseName_;
    std::wstring qualifiedName_;
    std::wstring moduleFileName_;
    std::wstring moduleVersion_;
    std::atomic<uint64_t> session_{0};
    glimmerpane::platform::TraceRegistrationHandle registrationHandle_ = 0;
    internal::ETWAppProperties properties_;
    bool initialized_ = false;
};

}  // namespace ETWLogging
