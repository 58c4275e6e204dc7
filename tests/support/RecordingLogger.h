// RecordingLogger.h - a logger that keeps every record for tests to assert on.
//
// The test main installs one process-wide RecordingLogger through the logger builder
// seam; LogCapture clears it at the start of a test and finds records afterwards.
#pragma once

#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "etwlogging/CLoggingIf.h"
#include "etwlogging/LogCall.h"

namespace gptest {

struct LogRecord {
    ETWLogging::LogSeverity severity;
    std::wstring source;
    std::wstring function;
    uint32_t line;
    std::wstring message;
};

class RecordingLogger : public ETWLogging::CLoggingIf_ex {
public:
    uint32_t RegisterProvider() override { return 0; }
    uint32_t Log(const wchar_t* file, const wchar_t* function, uint32_t line, ETWLogging::LogSeverity severity,
                 const wchar_t* message) override;
    uint32_t LogEx(ETWLogging::LogSeverity severity, const wchar_t* file, const wchar_t* function, uint32_t line,
                   const wchar_t* message) override;
    bool IsSeverityEnabled(ETWLogging::LogSeverity) override { return true; }

    std::vector<LogRecord> records() const;
    void clear();

private:
    mutable std::mutex mutex_;
    std::vector<LogRecord> records_;
};

// The process-wide recording logger, or null if the holder was built without it.
RecordingLogger* ProcessRecordingLogger();

// The identity the process logger was built with (captured by the test builder).
const ETWLogging::LoggerParameters& BuiltLoggerIdentity();

// Clears the records on construction; queries afterwards.
class LogCapture {
public:
    LogCapture();
    std::vector<LogRecord> records() const;
    // Records whose message equals text exactly.
    std::vector<LogRecord> withMessage(const std::wstring& text) const;
    // Records whose message contains the fragment.
    std::vector<LogRecord> containing(const std::wstring& fragment) const;
    bool has(ETWLogging::LogSeverity severity, const std::wstring& message) const;
};

}  // namespace gptest
