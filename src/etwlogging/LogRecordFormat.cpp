// LogRecordFormat.cpp - the text line and the LogEventRecord payload.
#include "etwlogging/LogRecordFormat.h"

#include <chrono>
#include <ctime>

#include "base/WideFormat.h"
#include "base/Utf.h"
#include "base/ByteOrder.h"
#include "platform/LocalTime.h"

namespace ETWLogging {

using glimmerpane::base::FormatWide;
using glimmerpane::base::FormatWideCappedV;
using glimmerpane::base::FormatWideV;

namespace {

// Cut to width characters, then right-aligned in width (the "%*.*s" of the line).
std::wstring Fit(std::wstring_view text, size_t width) {
    std::wstring cut(text.substr(0, width));
    if (cut.size() < width) cut.insert(0, width - cut.size(), L' ');
    return cut;
}

std::wstring LastPathComponent(std::wstring_view path) {
    const size_t slash = path.find_last_of(L"\\/");
    return std::wstring(slash == std::wstring_view::npos ? path : path.substr(slash + 1));
}

void PutU16(std::vector<uint8_t>& out, uint16_t v) { glimmerpane::base::AppendLittleEndian(out, v); }
void PutU32(std::vector<uint8_t>& out, uint32_t v) { glimmerpane::base::AppendLittleEndian(out, v); }
uint32_t GetU32(const uint8_t* p) { return glimmerpane::base::LoadLe32(p); }

}  // namespace

LocalTime CurrentLocalTime() {
    const std::time_t now = std::chrono::system_clock::to_time_t(std::chrono::system_clock::now());
    const std::tm parts = glimmerpane::platform::LocalTimeOf(now);
    LocalTime t;
    t.year = static_cast<uint16_t>(parts.tm_year + 1900);
    t.month = static_cast<uint16_t>(parts.tm_mon + 1);
    t.day = static_cast<uint16_t>(parts.tm_mday);
    t.hour = static_cast<uint16_t>(parts.tm_hour);
    t.minute = static_cast<uint16_t>(parts.tm_min);
    t.second = static_cast<uint16_t>(parts.tm_sec);
    return t;
}

std::wstring FormatTimeAndSeverity(const LocalTime& time, const wchar_t* severityName) {
    const bool pm = time.hour >= 12;
    unsigned short hour12 = static_cast<unsigned short>(time.hour % 12);
    if (hour12 == 0) hour12 = 12;
    const std::wstring stamp = FormatWide(L"%02hu/%02hu/%hu %02hu:%02hu:%02hu %ls$", time.month, time.day, time.year,
                                          hour12, time.minute, time.second, pm ? L"PM" : L"AM");
    return FormatWide(L"%ls -- (%ls)$", stamp.c_str(), severityName);
}

std::wstring FormatLogLine(const LineFields& f) {
    const wchar_t* name = SeverityName(f.severity);
    if (name == nullptr) return {};
    std::wstring line = FormatTimeAndSeverity(f.time, name);
    if (f.options & kLogOptionImageName) line += L" [" + Fit(f.imageName, 15) + L"]$";
    if (f.options & kLogOptionProcessIds)
        line += FormatWide(L" [PID:%5d TID:%5d]$", static_cast<int>(f.processId), static_cast<int>(f.threadId));
    if ((f.options & kLogOptionSourceLine) && f.file != nullptr)
        line += L" [" + Fit(LastPathComponent(f.file), 20) + FormatWide(L":%5d]$", static_cast<int>(f.line));
    if ((f.options & kLogOptionFunction) && f.function != nullptr) line += L" [" + Fit(f.function, 40) + L"()]$";
    line += L' ';
    line += f.message;
    if (f.message.empty() || f.message.back() != L'\n') line += L"\r\n";
    return line;
}

bool SerializeLogEventRecord(const LogEventRecord& r, std::vector<uint8_t>& out) {
    std::vector<uint8_t> buffer;
    buffer.reserve(256 + 2 * r.message.size());
    bool fits = true;
    auto number = [&](uint32_t tag, uint32_t type, uint32_t value) {
        PutU32(buffer, tag);
        PutU32(buffer, type);
        PutU16(buffer, 4);
        PutU32(buffer, value);
    };
    auto text = [&](uint32_t tag, const std::wstring& value) {
        const std::u16string units = glimmerpane::base::Utf16FromWide(value);
        if (units.size() * 2 > 0xFFFF) {
            fits = false;
            return;
        }
        PutU32(buffer, tag);
        PutU32(buffer, kTypeString);
        PutU16(buffer, static_cast<uint16_t>(units.size() * 2));
        for (char16_t u : units) PutU16(buffer, static_cast<uint16_t>(u));
    };
    number(kTagProcessId, kTypeNumber, r.processId);
    number(kTagThreadId, kTypeNumber, r.threadId);
    text(kTagImageName, r.imageName);
    text(kTagFile, r.file);
    number(kTagLine, kTypeLine, r.line);
    text(kTagFunction, r.function);
    text(kTagModuleName, r.moduleName);
    text(kTagModuleVersion, r.moduleVersion);
    text(kTagGroupName, r.groupName);
    text(kTagMessage, r.message);
    if (!fits) return false;
    out = std::move(buffer);
    return true;
}

std::optional<LogEventRecord> DecodeLogEventRecord(const uint8_t* data, size_t size) {
    LogEventRecord r;
    size_t pos = 0;
    while (pos < size) {
        if (size - pos < 10) return std::nullopt;
        const uint32_t tag = GetU32(data + pos);
        const uint32_t type = GetU32(data + pos + 4);
        const uint16_t length = glimmerpane::base::LoadLe16(data + pos + 8);
        pos += 10;
        if (size - pos < length) return std::nullopt;
        const uint8_t* value = data + pos;
        pos += length;
        if (type == kTypeNumber || type == kTypeLine) {
            if (length != 4) return std::nullopt;
            const uint32_t n = GetU32(value);
            if (tag == kTagProcessId) r.processId = n;
            else if (tag == kTagThreadId) r.threadId = n;
            else if (tag == kTagLine) r.line = n;
        } else if (type == kTypeString) {
            if (length % 2 != 0) return std::nullopt;
            std::wstring s = glimmerpane::base::WideFromUtf16LeBytes(value, length);
            switch (tag) {
                case kTagImageName: r.imageName = std::move(s); break;
                case kTagFile: r.file = std::move(s); break;
                case kTagFunction: r.function = std::move(s); break;
                case kTagModuleName: r.moduleName = std::move(s); break;
                case kTagModuleVersion: r.moduleVersion = std::move(s); break;
                case kTagGroupName: r.groupName = std::move(s); break;
                case kTagMessage: r.message = std::move(s); break;
                default: break;
            }
        }
    }
    return r;
}

}  // namespace ETWLogging
