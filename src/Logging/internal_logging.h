// internal_logging.h - the utility library's own small logger, Kestrix::CLogger.
//
// One handler per process receives the utility library's records. The slot starts empty,
// takes the default handler (debugger output) on the first record when nothing else was
// registered, and takes the bridge into the main logger when that logger is built.
// Registration is meant to happen while one thread runs (the first log call); the slot is
// atomic so that records on other threads always see a whole pointer.
// Statuses: 0, 87 (null handler), 5023 (another handler is registered / none to unregister).
#pragma once

#include <cstdint>
#include <string>

namespace Kestrix {

enum KestrixLevel : uint32_t { KESTRIX_LEVEL_NONE = 0, KESTRIX_LEVEL_INFO = 1, KESTRIX_LEVEL_ERROR = 2 };

class ILoggingHandler {
public:
    virtual ~ILoggingHandler() = default;
    virtual void Log(uint32_t level, const wchar_t* file, const wchar_t* function, uint32_t line,
                     const wchar_t* message) = 0;
};

// Writes "file(line): [INFO|ERROR|UNKNOWN]: [function]: message\n" to the debugger output;
// level 0 writes nothing.
class CDefaultLoggingHandler : public ILoggingHandler {
public:
    void Log(uint32_t level, const wchar_t* file, const wchar_t* function, uint32_t line,
             const wchar_t* message) override;
    static CDefaultLoggingHandler& Instance();
    // The line the handler sends (empty for level 0).
    static std::wstring FormatLine(uint32_t level, const wchar_t* file, const wchar_t* function, uint32_t line,
                                   const wchar_t* message);
};

class CLogger {
public:
    static uint32_t RegisterHandler(ILoggingHandler* handler);
    static uint32_t UnregisterHandler(ILoggingHandler* handler);
    // printf-style wide format ("%ls" for wide strings).
    static void Log(uint32_t level, const wchar_t* file, const wchar_t* function, uint32_t line,
                    const wchar_t* format, ...);
    // The handler now registered (null when none).
    static ILoggingHandler* RegisteredHandler();
};

}  // namespace Kestrix
