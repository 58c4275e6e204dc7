// RecordingLogger.cpp - the recording logger and its capture helper.
#include "support/RecordingLogger.h"

namespace gptest {

namespace {
RecordingLogger* g_processLogger = nullptr;
ETWLogging::LoggerParameters g_builtIdentity;
}  // namespace

uint32_t RecordingLogger::Log(const wchar_t* file, const wchar_t* function, uint32_t line,
                              ETWLogging::LogSeverity severity, const wchar_t* message) {
    std::lock_guard lock(mutex_);
    records_.push_back({severity, file ? file : L"", function ? function : L"", line, message ? message : L""});
    return 0;
}

uint32_t RecordingLogger::LogEx(ETWLogging::LogSeverity severity, const wchar_t* file, const wchar_t* function,
                                uint32_t line, const wchar_t* message) {
    return Log(file, function, line, severity, message);
}

std::vector<LogRecord> RecordingLogger::records() const {
    std::lock_guard lock(mutex_);
    return records_;
}

void RecordingLogger::clear() {
    std::lock_guard lock(mutex_);
    records_.clear();
}

RecordingLogger* ProcessRecordingLogger() { return g_processLogger; }
const ETWLogging::LoggerParameters& BuiltLoggerIdentity() { return g_builtIdentity; }

void InstallRecordingLoggerBuilder() {
    ETWLogging::SetLoggerBuilder([](ETWLogging::LoggerHolder& holder, const ETWLogging::LoggerParameters& identity) {
        auto logger = std::make_unique<RecordingLogger>();
        g_processLogger = logger.get();
        g_builtIdentity = identity;
        holder.setLogger(std::move(logger));
    });
}

LogCapture::LogCapture() {
    ETWLogging::CurrentLoggerHolder();  // builds the process logger on first use
    if (g_processLogger) g_processLogger->clear();
}

std::vector<LogRecord> LogCapture::records() const {
    return g_processLogger ? g_processLogger->records() : std::vector<LogRecord>{};
}

std::vector<LogRecord> LogCapture::withMessage(const std::wstring& text) const {
    std::vector<LogRecord> found;
    for (auto& r : records())
        if (r.message == text) found.push_back(r);
    return found;
}

std::vector<LogRecord> LogCapture::containing(const std::wstring& fragment) const {
    std::vector<LogRecord> found;
    for (auto& r : records())
        if (r.message.find(fragment) != std::wstring::npos) found.push_back(r);
    return found;
}

bool LogCapture::has(ETWLogging::LogSeverity severity, const std::wstring& message) const {
    for (auto& r : records())
        if (r.severity == severity && r.message == message) return true;
    return false;
}

}  // namespace gptest
