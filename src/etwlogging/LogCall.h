// LogCall.h - the log call used at every log site.
//
// One process-wide LoggerHolder owns the logger. The first GetLogger creates the holder
// and has the logger built exactly once, from the five identity values as they stand
// at that moment; later calls return the same holder and ignore their arguments. The log
// call knows no back end: the module installs the configured one (LogBuilder.h) as its
// default, SetLoggerBuilder chooses another before the first record (tests install a
// recording logger). Without a builder, or with one that builds no logger, every site
// skips its record, which is a valid state of the process. A record written on the thread
// that is building the logger is skipped too, so nothing the builder calls can wait for
// the initialisation it runs in.
//
// A log site names its source as the project names the file ("dll\SharedLibrary") and
// the fully qualified function ("Vornik::SharedLibrary::loadLibrary"); the text is a
// printf-style wide format. Pass 32-bit statuses to "%lu" as unsigned long.
//
//   GP_LOG(LogSeverity::Error, L"ModuleFunctions", L"NewModule", L"Invalid handle address.");
#pragma once

#include <cstdint>
#include <functional>
#include <memory>

#include "base/Win32Error.h"
#include "etwlogging/CLoggingIf.h"
#include "etwlogging/LogSeverity.h"

namespace ETWLogging {

// The identity the logger is built with. NewModule rewrites it from the host's logging
// group before any other thread of the library exists; it is read without a lock.
struct LoggerParameters {
    const wchar_t* applicationName = nullptr;  // null selects the default configuration "XVT"
    const wchar_t* groupName = L"_no_group";
    void* moduleHandle = nullptr;              // null: the process image qualifies the group
    const wchar_t* hostName = L"_no_host";
    int32_t mechanism = 0;                     // 1 forces the file back end
};

LoggerParameters& CurrentLoggerParameters();

class LoggerHolder {
public:
    LoggerHolder() = default;
    LoggerHolder(const LoggerHolder&) = delete;
    LoggerHolder& operator=(const LoggerHolder&) = delete;
    ~LoggerHolder();

    CLoggingIf* logger() const { return logger_.get(); }
    void setLogger(std::unique_ptr<CLoggingIf> logger) { logger_ = std::move(logger); }

    // Runs at teardown, before the logger is destroyed (the logging back ends use it to
    // withdraw the bridge handler they registered).
    void setTeardownHook(std::function<void()> hook) { teardownHook_ = std::move(hook); }

private:
    std::unique_ptr<CLoggingIf> logger_;
    std::function<void()> teardownHook_;
};

// Builds the logger into the holder. Runs once, on the first GetLogger; a builder that
// throws leaves the first-use initialisation unfinished, so the next GetLogger retries.
using LoggerBuilder = std::function<void(LoggerHolder& holder, const LoggerParameters& identity)>;

// Installs the builder used by the first GetLogger. Call before the first log record;
// afterwards it has no effect on the existing holder.
void SetLoggerBuilder(LoggerBuilder builder);

// Installs builder unless SetLoggerBuilder has chosen one already: what a library calls to
// offer its back end without overriding a host's or a test's choice.
void SetDefaultLoggerBuilder(LoggerBuilder builder);

LoggerHolder* GetLogger(const wchar_t* applicationName, const wchar_t* groupName, void* moduleHandle,
                        const wchar_t* hostName, int32_t mechanism);

// GetLogger with the identity values as they currently stand.
LoggerHolder* CurrentLoggerHolder();

// The holder when the first GetLogger has made it, else null; never builds (the logging
// back ends' own handlers use it, since they may run while the logger is being built).
LoggerHolder* ExistingLoggerHolder();

bool ShouldLog(const LoggerHolder* holder, LogSeverity severity);

// 1627 without a logger; else RegisterProvider's status if non-zero; else the back end's.
// A formatted message longer than 4160 characters is cut to its first 2080.
uint32_t WriteLog(LoggerHolder* holder, LogSeverity severity, const wchar_t* file, const wchar_t* function,
                  uint32_t line, const wchar_t* format, ...);

// The variant for texts without arguments: the text still passes through the formatter
// ("%%" becomes "%") into a buffer of 2080 characters, so at most 2079 are kept.
uint32_t WriteLogText(LoggerHolder* holder, LogSeverity severity, const wchar_t* file, const wchar_t* function,
                      uint32_t line, const wchar_t* text);

using glimmerpane::base::kErrorFunctionFailed;
inline constexpr size_t kMaxMessageLength = 4160;
inline constexpr size_t kTruncatedMessageLength = 2080;

}  // namespace ETWLogging

#define GP_LOG(severity, source, function, ...)                                                        \
    do {                                                                                                 \
        ::ETWLogging::LoggerHolder* gpLogHolder_ = ::ETWLogging::CurrentLoggerHolder();                 \
        if (gpLogHolder_ != nullptr && ::ETWLogging::ShouldLog(gpLogHolder_, (severity))) {             \
            ::ETWLogging::WriteLog(::ETWLogging::CurrentLoggerHolder(), (severity), (source), (function), \
                                   __LINE__, __VA_ARGS__);                                               \
        }                                                                                                \
    } while (0)

#define GP_LOG_TEXT(severity, source, function, text)                                                      \
    do {                                                                                                     \
        ::ETWLogging::LoggerHolder* gpLogHolder_ = ::ETWLogging::CurrentLoggerHolder();                     \
        if (gpLogHolder_ != nullptr && ::ETWLogging::ShouldLog(gpLogHolder_, (severity))) {                 \
            ::ETWLogging::WriteLogText(::ETWLogging::CurrentLoggerHolder(), (severity), (source), (function), \
                                       __LINE__, (text));                                                    \
        }                                                                                                    \
    } while (0)

#define GP_LOG_NORMAL(source, function, ...) GP_LOG(::ETWLogging::LogSeverity::Normal, source, function, __VA_ARGS__)
#define GP_LOG_WARNING(source, function, ...) GP_LOG(::ETWLogging::LogSeverity::Warning, source, function, __VA_ARGS__)
#define GP_LOG_ERROR(source, function, ...) GP_LOG(::ETWLogging::LogSeverity::Error, source, function, __VA_ARGS__)
