// LogSeverity.cpp - severity names and ETW levels.
#include "etwlogging/LogSeverity.h"

namespace ETWLogging {

const wchar_t* SeverityName(LogSeverity severity) {
    switch (severity) {
        case LogSeverity::Normal: return L"Normal";
        case LogSeverity::Warning: return L"Warning";
        case LogSeverity::Information: return L"Information";
        case LogSeverity::Error: return L"Error";
        case LogSeverity::Critical: return L"Critical";
        case LogSeverity::InformationLegacy: return L"Information";
    }
    return nullptr;
}

uint8_t SeverityToEtwLevel(LogSeverity severity) {
    switch (severity) {
        case LogSeverity::Normal: return 1;
        case LogSeverity::Warning: return 2;
        case LogSeverity::Information: return 3;
        case LogSeverity::Error: return 4;
        case LogSeverity::Critical: return 5;
        case LogSeverity::InformationLegacy: return 3;
    }
    return 0;
}

}  // namespace ETWLogging
