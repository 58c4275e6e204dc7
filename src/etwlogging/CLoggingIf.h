// CLoggingIf.h - the logger interface that the log call drives.
//
// The log call (LogCall.h) uses only IsSeverityEnabled, RegisterProvider, Log and, on a
// logger that also implements CLoggingIf_ex, LogEx. Statuses are Win32 error codes,
// 0 = success. Back ends (ETW, rolling files) implement these interfaces; tests install
// a recording logger through the builder seam of LoggerHolder.
#pragma once

#include <cstdint>

#include "etwlogging/LogSeverity.h"

namespace ETWLogging {

class CLoggingIf {
public:
    virtual ~CLoggingIf() = default;

    // Called before every record; a back end may register itself lazily here.
    virtual uint32_t RegisterProvider() = 0;
    virtual uint32_t Log(const wchar_t* file, const wchar_t* function, uint32_t line,
                         LogSeverity severity, const wchar_t* message) = 0;
    virtual bool IsSeverityEnabled(LogSeverity severity) = 0;
};

class CLoggingIf_ex : public CLoggingIf {
public:
    // Tests the enabled state, the severity and an empty message itself.
    virtual uint32_t LogEx(LogSeverity severity, const wchar_t* file, const wchar_t* function,
                           uint32_t line, const wchar_t* message) = 0;
};

}  // namespace ETWLogging
