// LogCall.cpp - the process-wide logger holder and the log call.
#include "etwlogging/LogCall.h"

#include <cstdarg>
#include <atomic>
#include <mutex>
#include <new>

#include "base/WideFormat.h"

namespace ETWLogging {

using glimmerpane::base::FormatWide;
using glimmerpane::base::FormatWideCappedV;
using glimmerpane::base::FormatWideV;

namespace {

// The log call knows no back end: a library that wants one installs its builder (the
// module installs the configured back ends, tests a recording logger). With none, the
// holder is built empty and every site skips its record.
struct BuilderSlot {
    LoggerBuilder builder;
    bool chosen = false;  // set by SetLoggerBuilder: a default no longer replaces it
};

BuilderSlot& InstalledBuilder() {
    static BuilderSlot slot;
    return slot;
}

// True on the thread that is building the logger. A record written from inside the
// builder (through any layer it calls) must not wait for the very initialisation it is
// part of: that record is skipped instead.
thread_local bool t_buildingLogger = false;

std::once_flag g_holderOnce;
std::atomic<LoggerHolder*> g_holder{nullptr};

// Frees the holder at process exit (or when the library is unloaded), which in turn
// runs the teardown hook and destroys the logger.
struct HolderReaper {
    ~HolderReaper() {
        delete g_holder.exchange(nullptr);
    }
} g_holderReaper;

uint32_t Dispatch(CLoggingIf* logger, LogSeverity severity, const wchar_t* file, const wchar_t* function,
                  uint32_t line, const std::wstring& message) {
    if (auto* extended = dynamic_cast<CLoggingIf_ex*>(logger)) {
        return extended->LogEx(severity, file, function, line, message.c_str());
    }
    return logger->Log(file, function, line, severity, message.c_str());
}

}  // namespace

LoggerHolder::~LoggerHolder() {
    if (teardownHook_) teardownHook_();
    logger_.reset();
}

LoggerParameters& CurrentLoggerParameters() {
    static LoggerParameters parameters;
    return parameters;
}

void SetLoggerBuilder(LoggerBuilder builder) {
    InstalledBuilder().builder = std::move(builder);
    InstalledBuilder().chosen = true;
}

void SetDefaultLoggerBuilder(LoggerBuilder builder) {
    if (!InstalledBuilder().chosen) InstalledBuilder().builder = std::move(builder);
}

LoggerHolder* GetLogger(const wchar_t* applicationName, const wchar_t* groupName, void* moduleHandle,
                        const wchar_t* hostName, int32_t mechanism) {
    if (t_buildingLogger) return nullptr;
    std::call_once(g_holderOnce, [&] {
        auto* holder = new (std::nothrow) LoggerHolder();
        if (holder == nullptr) return;  // no logger for this process
        LoggerParameters identity{applicationName, groupName, moduleHandle, hostName, mechanism};
        if (const LoggerBuilder& build = InstalledBuilder().builder) {
            t_buildingLogger = true;
            try {
                build(*holder, identity);
            } catch (...) {
                t_buildingLogger = false;
                delete holder;
                throw;  // leaves the once-flag unset: the next call tries again
            }
            t_buildingLogger = false;
        }
        g_holder.store(holder, std::memory_order_release);
    });
    return g_holder;
}

LoggerHolder* ExistingLoggerHolder() { return g_holder.load(std::memory_order_acquire); }

LoggerHolder* CurrentLoggerHolder() {
    const LoggerParameters& p = CurrentLoggerParameters();
    return GetLogger(p.applicationName, p.groupName, p.moduleHandle, p.hostName, p.mechanism);
}

bool ShouldLog(const LoggerHolder* holder, LogSeverity severity) {
    if (holder == nullptr || holder->logger() == nullptr) return false;
    return holder->logger()->IsSeverityEnabled(severity);
}

uint32_t WriteLog(LoggerHolder* holder, LogSeverity severity, const wchar_t* file, const wchar_t* function,
                  uint32_t line, const wchar_t* format, ...) {
    if (holder == nullptr || holder->logger() == nullptr) return kErrorFunctionFailed;
    CLoggingIf* logger = holder->logger();
    if (const uint32_t status = logger->RegisterProvider(); status != 0) return status;

    va_list args;
    va_start(args, format);
    std::wstring message = FormatWideV(format, args);
    va_end(args);
    if (message.size() > kMaxMessageLength) message.resize(kTruncatedMessageLength);
    return Dispatch(logger, severity, file, function, line, message);
}

namespace {
std::wstring FormatTextCapped(const wchar_t* text, ...) {
    va_list args;
    va_start(args, text);
    std::wstring message = FormatWideCappedV(kTruncatedMessageLength, text, args);
    va_end(args);
    return message;
}
}  // namespace

uint32_t WriteLogText(LoggerHolder* holder, LogSeverity severity, const wchar_t* file, const wchar_t* function,
                      uint32_t line, const wchar_t* text) {
    if (holder == nullptr || holder->logger() == nullptr) return kErrorFunctionFailed;
    CLoggingIf* logger = holder->logger();
    if (const uint32_t status = logger->RegisterProvider(); status != 0) return status;
    if (!logger->IsSeverityEnabled(severity)) return 0;
    return Dispatch(logger, severity, file, function, line, FormatTextCapped(text));
}

}  // namespace ETWLogging
