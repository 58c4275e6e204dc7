// CLogging.h - the file back end: rolling UTF-16LE log files under the ProgramData folder.
//
// Files: <ProgramData>/Corvane/CVLOGS/[<group>/]<process>/<process>[_<host>]NNN.log, each
// starting with the UTF-16LE byte order mark. A record is one text line (LogRecordFormat.h).
// Before every write the current index is read from "LastLogIdx" of the per-process
// "log.ini"; a file that has reached MaxSize moves the set on to the next index (wrapping at
// MaxEntries) and is created anew. "log.ini" files (per process, then global) configure the
// back end; invalid values are rewritten with the default where they were found.
//
// Writers of every process with the same process base name are serialised by a named
// mutex; when it cannot be had within 7 s the line is written anyway (one append call, so
// it never interleaves inside another line). The log folder is made on the first write;
// when that fails the back end turns itself off for the life of the object.
// Log and IsSeverityEnabled may be called from any thread once Initialize returned.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>

#include "etwlogging/CLoggingIf.h"
#include "etwlogging/LogRecordFormat.h"
#include "platform/NamedMutex.h"

namespace ETWLogging {

// The platform services the file back end uses; tests replace folders and the lock folder.
class FileLoggingPlatform {
public:
    virtual ~FileLoggingPlatform() = default;
    virtual uint32_t ProgramDataFolder(std::wstring* folder, bool create);
    virtual std::wstring ProcessImagePath();
    virtual std::wstring ModuleFilePath(void* moduleHandle);
    virtual std::unique_ptr<glimmerpane::platform::NamedMutex> CreateMutex(const std::wstring& name,
                                                                           uint32_t* error);
    virtual uint32_t CurrentProcessId();
    virtual uint32_t CurrentThreadId();
    virtual LocalTime Now();
};

inline constexpr uint32_t kDefaultMaxFileSize = 262144;
inline constexpr uint32_t kLargestMaxFileSize = 10485760;
inline constexpr uint32_t kDefaultMaxEntries = 3;
inline constexpr uint32_t kDefaultThreshold = 3;
inline constexpr uint32_t kMutexWaitMs = 7000;
inline constexpr uint32_t kDisabledThreshold = 10000;

class CLogging : public CLoggingIf {
public:
    explicit CLogging(std::shared_ptr<FileLoggingPlatform> platform = {});
    ~CLogging() override;

    uint32_t Initialize(const wchar_t* groupName, void* moduleHandle, const wchar_t* hostName,
                        LoggingConfigListenerIf* listener) override;
    uint32_t RegisterProvider() override { return kStatusSuccess; }
    uint32_t Uninitialize() override;
    void SetEnabled(bool enabled) override { enabled_ = enabled; }
    bool IsEnabled() override { return enabled_; }
    // Writes one line. 87 for an empty message or a severity outside 1..6, 20002 before
    // Initialize; else 0 or the Win32 error of the failing step.
    uint32_t Log(const wchar_t* file, const wchar_t* function, uint32_t line, LogSeverity severity,
                 const wchar_t* message) override;
    bool IsSeverityEnabled(LogSeverity severity) override;
    void SetMaxEntries(uint32_t count) override;
    uint32_t GetMaxEntries() override { return maxEntries_; }
    void SetMaxSize(uint32_t bytes) override;
    uint32_t GetMaxSize() override { return maxSize_; }
    void SetSeverity(uint32_t threshold) override;
    uint32_t GetSeverity() override { return threshold_; }
    uint32_t AddRef() override { return ++refCount_; }
    uint32_t Release() override;

    // The ProgramData known folder into buffer; 87 when it cannot be had or does not fit.
    virtual uint32_t GetProgramDataFolder(wchar_t* buffer, uint32_t capacity);

    uint32_t GetOptions() const { return options_; }
    const std::wstring& LogFolder() const { return logFolder_; }
    const std::wstring& PerProcessIniPath() const { return perProcessIni_; }
    const std::wstring& GlobalIniPath() const { return globalIni_; }
    // The file of index i of this log set.
    std::wstring LogFilePath(uint32_t index) const;

private:
    void ResetToDefaults();
    void ReadConfiguration();
    uint32_t WriteLine(const std::wstring& text);
    uint32_t PassWriteGate();

    std::shared_ptr<FileLoggingPlatform> platform_;
    bool initialized_ = false;
    std::wstring groupName_;
    std::wstring processBaseName_;
    std::wstring imageName_;
    uint32_t processId_ = 0;
    std::wstring hostName_;
    std::wstring logFolder_;
    std::atomic<uint32_t> refCount_{0};
    std::unique_ptr<glimmerpane::platform::NamedMutex> mutex_;
    std::atomic<uint32_t> maxSize_{kDefaultMaxFileSize};
    std::atomic<uint32_t> maxEntries_{kDefaultMaxEntries};
    std::atomic<uint32_t> threshold_{kDefaultThreshold};
    std::atomic<uint32_t> options_{kDefaultLogOptions};
    std::wstring globalIni_;
    std::wstring perProcessIni_;
    std::atomic<bool> enabled_{true};
    // The write gate: 0 not yet tried, 1 folder made, 2 closed for good.
    std::mutex gateMutex_;
    int gate_ = 0;
    uint32_t gateError_ = 0;
};

}  // namespace ETWLogging
