// LogRecordFormat.h - the two record formats of the logging back ends.
//
// Format 1, the text line of the file back end:
//   "MM/DD/YYYY hh:mm:ss AM$ -- (Severity)$" then, per option bit in the order 16, 4, 8, 32,
//   a blank and "[image         ]$", "[PID:%5d TID:%5d]$", "[file:%5d]$", "[function()]$",
//   then a blank, the message and "\r\n" unless the message already ends with "\n".
// Format 2, LogEventRecord, the payload of one trace event: ten items, each a 32-bit LE tag,
//   a 32-bit LE type, a 16-bit LE byte length and the value (types 2 and 5: 32-bit LE
//   number; type 4: UTF-16LE text without terminator).
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "etwlogging/LogSeverity.h"

namespace ETWLogging {

// LogOptions bits of the text line.
enum LogOptions : uint32_t {
    kLogOptionDebugger = 1,     // also send the line to the debugger output
    kLogOptionProcessIds = 4,   // "[PID:%5d TID:%5d]$"
    kLogOptionSourceLine = 8,   // "[%20s:%5d]$"
    kLogOptionImageName = 16,   // "[%15s]$"
    kLogOptionFunction = 32,    // "[%40s()]$"
};
inline constexpr uint32_t kDefaultLogOptions = kLogOptionImageName;

struct LocalTime {
    uint16_t year = 0, month = 0, day = 0, hour = 0, minute = 0, second = 0;
};

LocalTime CurrentLocalTime();

struct LineFields {
    LocalTime time;
    LogSeverity severity = LogSeverity::Normal;
    uint32_t options = kDefaultLogOptions;
    std::wstring imageName;
    uint32_t processId = 0;
    uint32_t threadId = 0;
    const wchar_t* file = nullptr;      // null: no source piece
    uint32_t line = 0;
    const wchar_t* function = nullptr;  // null: no function piece
    std::wstring message;
};

// The time stamp and severity piece: "%02hu/%02hu/%hu %02hu:%02hu:%02hu %s$ -- (%s)$".
std::wstring FormatTimeAndSeverity(const LocalTime& time, const wchar_t* severityName);

// The whole line; empty when the severity has no name (outside 1..6).
std::wstring FormatLogLine(const LineFields& fields);

// ---- LogEventRecord ----
struct LogEventRecord {
    uint32_t processId = 0;
    uint32_t threadId = 0;
    std::wstring imageName;
    std::wstring file;
    uint32_t line = 0;
    std::wstring function;
    std::wstring moduleName;
    std::wstring moduleVersion;
    std::wstring groupName;
    std::wstring message;
};

enum LogEventTag : uint32_t {
    kTagProcessId = 4, kTagThreadId = 5, kTagFile = 6, kTagLine = 7, kTagFunction = 8, kTagModuleName = 9,
    kTagModuleVersion = 10, kTagGroupName = 11, kTagMessage = 12, kTagImageName = 13,
};
enum LogEventType : uint32_t { kTypeNumber = 2, kTypeString = 4, kTypeLine = 5 };

// Serialises in the fixed order. False when a string does not fit the 16-bit length
// (more than 32767 UTF-16 units); out is then unchanged.
bool SerializeLogEventRecord(const LogEventRecord& record, std::vector<uint8_t>& out);

// Reads a payload back; tolerates unknown tags and any order, refuses truncated items,
// wrong lengths for numbers and odd string lengths (nullopt).
std::optional<LogEventRecord> DecodeLogEventRecord(const uint8_t* data, size_t size);

}  // namespace ETWLogging
