// CLoggingIf.cpp - the shared formatting operations of the logger interface.
#include "etwlogging/CLoggingIf.h"

#include "base/WideFormat.h"

namespace ETWLogging {

using glimmerpane::base::FormatWide;
using glimmerpane::base::FormatWideCappedV;
using glimmerpane::base::FormatWideV;

uint32_t CLoggingIf::LogShortcutV(LogSeverity severity, const wchar_t* file, const wchar_t* function, uint32_t line,
                                  const wchar_t* format, va_list args) {
    if (format == nullptr) return kStatusInvalidParameter;
    const std::wstring message = FormatWideCappedV(kFormatBufferLength, format, args);
    return Log(file, function, line, severity, message.c_str());
}

uint32_t CLoggingIf::LogFormatted(LogSeverity severity, const wchar_t* file, const wchar_t* function, uint32_t line,
                                  const wchar_t* format, ...) {
    if (!IsEnabled() || !IsSeverityEnabled(severity)) return kStatusSuccess;
    va_list args;
    va_start(args, format);
    const uint32_t status = LogShortcutV(severity, file, function, line, format, args);
    va_end(args);
    return status;
}

#define GP_DEFINE_SHORTCUT(name, severity)                                                                  \
    uint32_t CLoggingIf::name(const wchar_t* file, const wchar_t* function, uint32_t line, const wchar_t* format, \
                              ...) {                                                                        \
        va_list args;                                                                                       \
        va_start(args, format);                                                                             \
        const uint32_t status = LogShortcutV(severity, file, function, line, format, args);                 \
        va_end(args);                                                                                       \
        return status;                                                                                      \
    }

GP_DEFINE_SHORTCUT(LogNormal, LogSeverity::Normal)
GP_DEFINE_SHORTCUT(LogError, LogSeverity::Error)
GP_DEFINE_SHORTCUT(LogWarning, LogSeverity::Warning)
GP_DEFINE_SHORTCUT(LogCritical, LogSeverity::Critical)
GP_DEFINE_SHORTCUT(LogInformation, LogSeverity::Information)

#undef GP_DEFINE_SHORTCUT

}  // namespace ETWLogging
