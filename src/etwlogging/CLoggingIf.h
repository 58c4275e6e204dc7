// CLoggingIf.h - the logger class tree: the interface every logger implements, its
// extended form, and the listener that feeds a logger its configuration.
//
// The virtual operations stand in their contractual slot order. The log call (LogCall.h)
// drives only IsSeverityEnabled, RegisterProvider, Log and, on a CLoggingIf_ex, LogEx; the
// rest give the back ends (CLogging: rolling files, CETWLogging: event tracing) their common
// shape. Operations that only one back end gives a meaning have neutral defaults here, so a
// small logger (the tests' recording logger) implements just the four it needs.
// Statuses are Win32 error codes, 0 = success.
#pragma once

#include <cstdarg>
#include <cstdint>
#include <string>

#include "base/Win32Error.h"
#include "etwlogging/LogSeverity.h"

namespace ETWLogging {

// The back ends' statuses, by the code each one is (base/Win32Error.h).
inline constexpr uint32_t kStatusSuccess = glimmerpane::base::kErrorSuccess;
inline constexpr uint32_t kStatusOutOfMemory = glimmerpane::base::kErrorOutOfMemory;
inline constexpr uint32_t kStatusInvalidParameter = glimmerpane::base::kErrorInvalidParameter;
inline constexpr uint32_t kStatusAlreadyExists = glimmerpane::base::kErrorAlreadyExists;  // file already open
inline constexpr uint32_t kStatusAlreadyInitialized = glimmerpane::base::kErrorAlreadyInitialized;
inline constexpr uint32_t kStatusNotInitialized = glimmerpane::base::kErrorNotInitialized;

// Buffer of the severity shortcuts and of LogFormatted, terminator included.
inline constexpr size_t kFormatBufferLength = 4160;

class CLoggingIf;

// Feeds a logger its enabled state and threshold (the ETW back end's configuration listener).
class LoggingConfigListenerIf {
public:
    virtual ~LoggingConfigListenerIf() = default;
    // A session enabled (enabled = true) or disabled the provider with this level and flags.
    virtual void OnConfigChange(bool enabled, uint32_t level, uint32_t flags) = 0;
    // Binds the listener to its logger; false when one is bound already.
    virtual bool Attach(CLoggingIf* logger) = 0;
    virtual void GetProviderKey(void** root, std::wstring* path) = 0;
    // Applies "Enable" and "Severity" of the key, when it opens, to the bound logger.
    virtual void ReadSettings(void* root, const std::wstring& keyPath) = 0;
};

class CLoggingIf {
public:
    virtual ~CLoggingIf() = default;

    // 20001 when already initialised.
    virtual uint32_t Initialize(const wchar_t* /*groupName*/, void* /*moduleHandle*/, const wchar_t* /*hostName*/,
                                LoggingConfigListenerIf* /*listener*/) {
        return kStatusSuccess;
    }
    // Called before every record; the ETW back end registers its provider on the first call.
    virtual uint32_t RegisterProvider() = 0;
    virtual void GetQualifiedName(std::wstring& /*name*/) {}
    virtual void GetGroupName(std::wstring& /*name*/) {}
    virtual uint32_t Uninitialize() { return kStatusSuccess; }
    virtual void SetEnabled(bool /*enabled*/) {}
    virtual bool IsEnabled() { return true; }
    // Tests the enabled flag and the severity, formats into 4160 characters, then logs.
    virtual uint32_t LogFormatted(LogSeverity severity, const wchar_t* file, const wchar_t* function, uint32_t line,
                                  const wchar_t* format, ...);
    virtual uint32_t Log(const wchar_t* file, const wchar_t* function, uint32_t line, LogSeverity severity,
                         const wchar_t* message) = 0;
    virtual bool IsSeverityEnabled(LogSeverity severity) = 0;
    virtual void SetMaxEntries(uint32_t /*count*/) {}
    virtual uint32_t GetMaxEntries() { return 0; }
    virtual void SetMaxSize(uint32_t /*bytes*/) {}
    virtual uint32_t GetMaxSize() { return 0; }
    // 0 becomes 1, values above 6 become 6.
    virtual void SetSeverity(uint32_t /*threshold*/) {}
    virtual uint32_t GetSeverity() { return 0; }
    virtual uint32_t AddRef() { return 0; }
    virtual uint32_t Release() { return 0; }
    // Each formats into 4160 characters (at most 4159 kept) and calls Log.
    virtual uint32_t LogNormal(const wchar_t* file, const wchar_t* function, uint32_t line, const wchar_t* format, ...);
    virtual uint32_t LogError(const wchar_t* file, const wchar_t* function, uint32_t line, const wchar_t* format, ...);
    virtual uint32_t LogWarning(const wchar_t* file, const wchar_t* function, uint32_t line, const wchar_t* format,
                                ...);
    virtual uint32_t LogCritical(const wchar_t* file, const wchar_t* function, uint32_t line, const wchar_t* format,
                                 ...);
    virtual uint32_t LogInformation(const wchar_t* file, const wchar_t* function, uint32_t line,
                                    const wchar_t* format, ...);

protected:
    uint32_t LogShortcutV(LogSeverity severity, const wchar_t* file, const wchar_t* function, uint32_t line,
                          const wchar_t* format, va_list args);
};

class CLoggingIf_ex : public CLoggingIf {
public:
    virtual uint32_t InitializeEx(const wchar_t* /*applicationName*/, const wchar_t* groupName, void* moduleHandle,
                                  const wchar_t* hostName, LoggingConfigListenerIf* listener) {
        return Initialize(groupName, moduleHandle, hostName, listener);
    }
    // Tests the enabled state, the severity and an empty message itself.
    virtual uint32_t LogEx(LogSeverity severity, const wchar_t* file, const wchar_t* function, uint32_t line,
                           const wchar_t* message) = 0;
    virtual bool IsSessionHandle(uint64_t /*handle*/) { return false; }
    virtual uint32_t ControlCallback(uint32_t /*requestCode*/, void* /*context*/) { return kStatusInvalidParameter; }
    virtual void ComputeModuleVersion() {}
    virtual void GetModuleName(std::wstring& /*name*/, void* /*moduleHandle*/, bool /*stripExtension*/) {}
    virtual void BuildQualifiedName() {}
    virtual uint32_t UnregisterProvider() { return kStatusSuccess; }
    virtual void Shutdown() {}
    virtual uint32_t MapSeverityToLevel(uint32_t severity) { return severity == 6 ? 3 : severity; }
    virtual void FillRecord(const wchar_t* /*file*/, const wchar_t* /*function*/, uint32_t /*line*/,
                            void* /*record*/) {}
};

}  // namespace ETWLogging
