// LogSeverity.h - the severities of a log record.
//
// The module itself uses Normal (progress and success), Warning (failures the caller
// survives) and Error (failures). Values outside 1..6 have no name.
#pragma once

#include <cstdint>

namespace ETWLogging {

enum class LogSeverity : uint32_t {
    Normal = 1,
    Warning = 2,
    Information = 3,
    Error = 4,
    Critical = 5,
    // A second "Information" level kept for compatibility with older configuration;
    // it maps to the same ETW level 3.
    InformationLegacy = 6,
};

// The severity's name as the file back end writes it, or nullptr outside 1..6.
const wchar_t* SeverityName(LogSeverity severity);

// The ETW level of a severity (1..5), or 0 outside 1..6.
uint8_t SeverityToEtwLevel(LogSeverity severity);

}  // namespace ETWLogging
