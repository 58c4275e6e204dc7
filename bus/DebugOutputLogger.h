// DebugOutputLogger.h - where the bus library's own records go: the debugger output.
//
// The bus library builds no logger from the registry (it carries no registry store and no
// logging back end, and a second registry store in the host's process would be one too
// many). Its warnings and errors go to the debugger output instead: OutputDebugStringW on
// Windows, standard error on POSIX when GLIMMERPANE_DEBUG_OUTPUT is set. One line a record:
//   BusBroker Warning bus\Broker BusBroker::Broker::close(119): Unknown bus handle 7.
#pragma once

#include "etwlogging/CLoggingIf.h"
#include "etwlogging/LogCall.h"

namespace BusBroker {

class DebugOutputLogger : public ETWLogging::CLoggingIf {
public:
    uint32_t RegisterProvider() override { return ETWLogging::kStatusSuccess; }
    // Normal records (progress) stay out: the channel is for what went wrong.
    bool IsSeverityEnabled(ETWLogging::LogSeverity severity) override;
    uint32_t Log(const wchar_t* file, const wchar_t* function, uint32_t line, ETWLogging::LogSeverity severity,
                 const wchar_t* message) override;
};

// The bus library's default logger builder (installed when the library is loaded; a host
// or a test that chose a builder keeps it).
void BuildDebugOutputLogger(ETWLogging::LoggerHolder& holder, const ETWLogging::LoggerParameters& identity);

}  // namespace BusBroker
