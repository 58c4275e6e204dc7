// LogBuilder.h - choosing, creating and initialising the process logger, and the bridge
// that forwards the utility logger (Kestrix::CLogger) into it.
//
// The back end: the file back end when the mechanism is 1, or when the DWORD
// "Logging Mechanism" (from the configuration reader, else from HKLM
// "SOFTWARE\Corvane\Logging" through the scrambling key wrapper) is 1; the event-tracing
// back end otherwise, including when the key or value cannot be read. A back end is first
// initialised with InitializeEx (application name), then, when that fails or is missing,
// with Initialize; a back end that fails both is destroyed and no logger results.
//
// BuildConfiguredLogger is the builder the module library installs as its default
// (LogCall.h, SetDefaultLoggerBuilder): the first log call then builds the configured
// logger with it. Nothing it calls may log: the log call skips records written on the
// building thread, and the platform layer below never logs at all.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>

#include "Logging/internal_logging.h"
#include "etwlogging/CLoggingIf.h"
#include "etwlogging/LogCall.h"
#include "platform/Registry.h"

namespace ETWLogging {

// Reads configuration DWORDs by name (the process passes none).
class ConfigReaderIf {
public:
    virtual ~ConfigReaderIf() = default;
    virtual bool ReadDword(const wchar_t* name, uint32_t* value) = 0;
};

class CLogBuilderIf {
public:
    virtual ~CLogBuilderIf() = default;
    // 0 with out holding the initialised logger, else a Win32 code and out unchanged
    // (87 when out already holds a logger or a name is a non-null empty string).
    virtual uint32_t Build(const wchar_t* groupName, void* moduleHandle, const wchar_t* hostName, int32_t mechanism,
                           std::unique_ptr<CLoggingIf>& out, ConfigReaderIf* reader) = 0;
};

class CLogBuilderIf_ex : public CLogBuilderIf {
public:
    virtual uint32_t BuildEx(const wchar_t* applicationName, const wchar_t* groupName, void* moduleHandle,
                             const wchar_t* hostName, int32_t mechanism, std::unique_ptr<CLoggingIf>& out,
                             ConfigReaderIf* reader) = 0;
};

inline constexpr wchar_t kLoggingKeyPath[] = L"SOFTWARE\\Corvane\\Logging";
inline constexpr wchar_t kLoggingMechanismValue[] = L"Logging Mechanism";

class CDefaultLogBuilder : public CLogBuilderIf_ex {
public:
    using Factory = std::function<std::unique_ptr<CLoggingIf>()>;
    // registry: where "Logging Mechanism" is read (empty = the process registry).
    // makeEtw / makeFile create the back ends (empty = CETWLogging / CLogging over defaults).
    explicit CDefaultLogBuilder(std::shared_ptr<glimmerpane::platform::RegistryStore> registry = {},
                                Factory makeEtw = {}, Factory makeFile = {});

    uint32_t Build(const wchar_t* groupName, void* moduleHandle, const wchar_t* hostName, int32_t mechanism,
                   std::unique_ptr<CLoggingIf>& out, ConfigReaderIf* reader) override;
    uint32_t BuildEx(const wchar_t* applicationName, const wchar_t* groupName, void* moduleHandle,
                     const wchar_t* hostName, int32_t mechanism, std::unique_ptr<CLoggingIf>& out,
                     ConfigReaderIf* reader) override;

    // True when the configuration selects the file back end.
    bool WantsFileBackEnd(int32_t mechanism, ConfigReaderIf* reader) const;

private:
    std::shared_ptr<glimmerpane::platform::RegistryStore> registry_;
    Factory makeEtw_;
    Factory makeFile_;
};

// The bridge: utility-logger records into the process logger (levels 0, 1 -> Normal,
// 2 -> Error, others -> Warning), with the message unchanged.
class CKestrixLogHandler : public Kestrix::ILoggingHandler {
public:
    void Log(uint32_t level, const wchar_t* file, const wchar_t* function, uint32_t line,
             const wchar_t* message) override;
    static CKestrixLogHandler& Instance();
    static LogSeverity MapLevel(uint32_t level);
};

// Builds with a builder into the holder and registers the bridge (the holder's teardown
// withdraws it again).
void BuildLoggerInto(LoggerHolder& holder, const LoggerParameters& identity, CLogBuilderIf& builder);

// The default builder of the holder: the process-wide CDefaultLogBuilder.
void BuildConfiguredLogger(LoggerHolder& holder, const LoggerParameters& identity);

}  // namespace ETWLogging
