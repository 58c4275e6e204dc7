// DebugOutputLogger.cpp - the bus library's records on the debugger output.
#include "DebugOutputLogger.h"

#include <memory>
#include <string>

#include "platform/DebugOutput.h"

namespace BusBroker {

bool DebugOutputLogger::IsSeverityEnabled(ETWLogging::LogSeverity severity) {
    return severity != ETWLogging::LogSeverity::Normal && glimmerpane::platform::DebugOutputEnabled();
}

uint32_t DebugOutputLogger::Log(const wchar_t* file, const wchar_t* function, uint32_t line,
                                ETWLogging::LogSeverity severity, const wchar_t* message) {
    if (!IsSeverityEnabled(severity)) return ETWLogging::kStatusSuccess;
    std::wstring text = L"BusBroker ";
    text += ETWLogging::SeverityName(severity);
    text += L' ';
    text += file ? file : L"";
    text += L' ';
    text += function ? function : L"";
    text += L'(' + std::to_wstring(line) + L"): ";
    text += message ? message : L"";
    text += L'\n';
    glimmerpane::platform::OutputDebugText(text);
    return ETWLogging::kStatusSuccess;
}

void BuildDebugOutputLogger(ETWLogging::LoggerHolder& holder, const ETWLogging::LoggerParameters&) {
    holder.setLogger(std::make_unique<DebugOutputLogger>());
}

}  // namespace BusBroker
