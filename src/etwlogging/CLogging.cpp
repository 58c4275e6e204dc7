// CLogging.cpp - the rolling file back end.
#include "etwlogging/CLogging.h"

#include <optional>

#include "base/WideFormat.h"
#include "platform/DebugOutput.h"
#include "platform/DynamicLibrary.h"
#include "platform/EventTrace.h"
#include "platform/FileSystem.h"
#include "platform/KnownFolders.h"
#include "platform/LogFile.h"
#include "platform/Process.h"
#include "utility/IniFile.h"
#include "base/Utf.h"
#include "base/ByteOrder.h"

namespace ETWLogging {

using glimmerpane::base::FormatWide;
using glimmerpane::base::FormatWideCappedV;
using glimmerpane::base::FormatWideV;

namespace platform = glimmerpane::platform;

namespace {

constexpr wchar_t kMutexSuffix[] = L"_CAD0E02E86CD4436B6318C111B9092AC";
constexpr wchar_t kSection[] = L"Config";
constexpr wchar_t kLastLogIdx[] = L"LastLogIdx";

std::wstring FileNameOf(const std::wstring& path) {
    const size_t slash = path.find_last_of(L"\\/");
    return slash == std::wstring::npos ? path : path.substr(slash + 1);
}

std::wstring WithoutExtension(const std::wstring& name) {
    const size_t dot = name.rfind(L'.');
    return dot == std::wstring::npos || dot == 0 ? name : name.substr(0, dot);
}

std::string Utf16LeBytes(const std::wstring& text) { return glimmerpane::base::Utf16LeBytesFromWide(text, false); }

struct IniKey {
    const wchar_t* name;
    int64_t defaultValue;
    int64_t min;
    int64_t max;
};

// "any" ranges take every 32-bit number, signed or not.
const IniKey kIniKeys[] = {
    {L"Enable", 1, INT32_MIN, UINT32_MAX},
    {L"MaxSize", kDefaultMaxFileSize, kDefaultMaxFileSize, kLargestMaxFileSize},
    {L"MaxEntries", kDefaultMaxEntries, 2, 100},
    {L"Severity", kDefaultThreshold, 0, 6},
    {L"Options", kDefaultLogOptions, INT32_MIN, UINT32_MAX},
};

}  // namespace

// ---- default platform ----
uint32_t FileLoggingPlatform::ProgramDataFolder(std::wstring* folder, bool create) {
    return platform::ProgramDataFolder(folder, create);
}
std::wstring FileLoggingPlatform::ProcessImagePath() { return platform::ProcessImagePath(); }
std::wstring FileLoggingPlatform::ModuleFilePath(void* moduleHandle) {
    return platform::LoadedModulePath(moduleHandle);
}
std::unique_ptr<platform::NamedMutex> FileLoggingPlatform::CreateMutex(const std::wstring& name, uint32_t* error) {
    return platform::CreateNamedMutex(name, error);
}
uint32_t FileLoggingPlatform::CurrentProcessId() { return platform::CurrentProcessId(); }
uint32_t FileLoggingPlatform::CurrentThreadId() { return platform::CurrentTraceThreadId(); }
LocalTime FileLoggingPlatform::Now() { return CurrentLocalTime(); }

// ---- CLogging ----
CLogging::CLogging(std::shared_ptr<FileLoggingPlatform> platform)
    : platform_(platform ? std::move(platform) : std::make_shared<FileLoggingPlatform>()) {}

CLogging::~CLogging() = default;

void CLogging::ResetToDefaults() {
    initialized_ = false;
    groupName_.clear();
    processBaseName_.clear();
    imageName_.clear();
    processId_ = 0;
    hostName_.clear();
    logFolder_.clear();
    mutex_.reset();
    maxSize_ = kDefaultMaxFileSize;
    maxEntries_ = kDefaultMaxEntries;
    threshold_ = kDefaultThreshold;
    options_ = kDefaultLogOptions;
    globalIni_.clear();
    perProcessIni_.clear();
    enabled_ = true;
    std::lock_guard lock(gateMutex_);
    gate_ = 0;
    gateError_ = 0;
}

uint32_t CLogging::Initialize(const wchar_t* groupName, void* moduleHandle, const wchar_t* hostName,
                              LoggingConfigListenerIf* /*listener*/) {
    if (initialized_) return kStatusAlreadyInitialized;
    if ((groupName != nullptr && *groupName == 0) || (hostName != nullptr && *hostName == 0))
        return kStatusInvalidParameter;
    groupName_ = groupName ? groupName : L"";
    const std::wstring imagePath = platform_->ProcessImagePath();
    if (imagePath.size() > platform::kLongPathLimit) {
        ResetToDefaults();
        return kStatusInvalidParameter;
    }
    processBaseName_ = WithoutExtension(FileNameOf(imagePath));
    if (processBaseName_.empty()) {
        ResetToDefaults();
        return kStatusOutOfMemory;
    }
    uint32_t error = 0;
    mutex_ = platform_->CreateMutex(processBaseName_ + kMutexSuffix, &error);
    if (!mutex_) {
        ResetToDefaults();
        return error != 0 ? error : 1627;
    }
    imageName_ = FileNameOf(moduleHandle != nullptr ? platform_->ModuleFilePath(moduleHandle) : imagePath);
    hostName_ = hostName ? hostName : L"";

    std::wstring programData;
    if (const uint32_t status = platform_->ProgramDataFolder(&programData, true); status != 0) {
        ResetToDefaults();
        return status;
    }
    const wchar_t sep = platform::kPathSeparator;
    const std::wstring base = programData + sep + L"Corvane" + sep + L"CVLOGS" + sep;
    logFolder_ = groupName_.empty() ? base + processBaseName_ : base + groupName_ + sep + processBaseName_;
    perProcessIni_ = logFolder_ + sep + L"log.ini";
    globalIni_ = base + L"log.ini";
    if (Kestrix::IniFile::Exists(perProcessIni_) || Kestrix::IniFile::Exists(globalIni_)) ReadConfiguration();
    processId_ = platform_->CurrentProcessId();
    initialized_ = true;
    return kStatusSuccess;
}

void CLogging::ReadConfiguration() {
    using Kestrix::IniFile;
    for (const IniKey& key : kIniKeys) {
        const std::wstring fallback = std::to_wstring(key.defaultValue);
        std::optional<int64_t> value;
        if (auto local = IniFile::GetString(perProcessIni_, kSection, key.name)) {
            value = Kestrix::ParseIniInteger(*local, key.min, key.max);
            if (!value) IniFile::WriteString(perProcessIni_, kSection, key.name, fallback);
        }
        if (!value) {
            if (auto global = IniFile::GetString(globalIni_, kSection, key.name)) {
                value = Kestrix::ParseIniInteger(*global, key.min, key.max);
                if (!value) IniFile::WriteString(globalIni_, kSection, key.name, fallback);
            }
        }
        const int64_t v = value.value_or(key.defaultValue);
        const std::wstring name = key.name;
        if (name == L"Enable") enabled_ = v != 0;
        else if (name == L"MaxSize") maxSize_ = static_cast<uint32_t>(v);
        else if (name == L"MaxEntries") maxEntries_ = static_cast<uint32_t>(v);
        else if (name == L"Severity") threshold_ = static_cast<uint32_t>(v);
        else if (name == L"Options") options_ = static_cast<uint32_t>(v);
    }
}

uint32_t CLogging::Uninitialize() {
    if (!initialized_) return kStatusNotInitialized;
    ResetToDefaults();
    return kStatusSuccess;
}

bool CLogging::IsSeverityEnabled(LogSeverity severity) { return static_cast<uint32_t>(severity) >= threshold_; }

void CLogging::SetMaxEntries(uint32_t count) { maxEntries_ = count < 2 ? 2 : count > 100 ? 100 : count; }

void CLogging::SetMaxSize(uint32_t bytes) {
    maxSize_ = bytes < kDefaultMaxFileSize ? kDefaultMaxFileSize : bytes > kLargestMaxFileSize ? kLargestMaxFileSize
                                                                                               : bytes;
}

void CLogging::SetSeverity(uint32_t threshold) { threshold_ = threshold == 0 ? 1 : threshold > 6 ? 6 : threshold; }

uint32_t CLogging::Release() {
    const uint32_t count = --refCount_;
    if (count == 0) delete this;
    return count;
}

uint32_t CLogging::GetProgramDataFolder(wchar_t* buffer, uint32_t capacity) {
    std::wstring folder;
    if (buffer == nullptr || platform_->ProgramDataFolder(&folder, true) != 0 || folder.size() + 1 > capacity)
        return kStatusInvalidParameter;
    folder.copy(buffer, folder.size());
    buffer[folder.size()] = 0;
    return kStatusSuccess;
}

std::wstring CLogging::LogFilePath(uint32_t index) const {
    std::wstring path = logFolder_ + platform::kPathSeparator + processBaseName_;
    if (!hostName_.empty()) path += L"_" + hostName_;
    return path + FormatWide(L"%03u", index) + L".log";
}

uint32_t CLogging::PassWriteGate() {
    std::lock_guard lock(gateMutex_);
    if (gate_ == 0) {
        gateError_ = platform::CreateFolderTree(logFolder_);
        if (gateError_ == 0) {
            gate_ = 1;
        } else {
            gate_ = 2;
            enabled_ = false;
            threshold_ = kDisabledThreshold;
        }
    }
    return gate_ == 1 ? 0 : gateError_;
}

uint32_t CLogging::Log(const wchar_t* file, const wchar_t* function, uint32_t line, LogSeverity severity,
                       const wchar_t* message) {
    if (!initialized_) return kStatusNotInitialized;
    if (SeverityName(severity) == nullptr) return kStatusInvalidParameter;
    if (!enabled_) {
        // Switched off (Enable=0): nothing is written and no folder made. A gate closed for
        // good still answers why.
        std::lock_guard lock(gateMutex_);
        return gate_ == 2 ? gateError_ : kStatusSuccess;
    }
    LineFields fields;
    fields.time = platform_->Now();
    fields.severity = severity;
    fields.options = options_;
    fields.imageName = imageName_;
    fields.processId = processId_;
    fields.threadId = platform_->CurrentThreadId();
    fields.file = file;
    fields.line = line;
    fields.function = function;
    fields.message = message ? message : L"";

    const bool locked = mutex_->Wait(kMutexWaitMs);
    uint32_t status = PassWriteGate();
    if (status == 0) {
        if (fields.message.empty()) {
            status = kStatusInvalidParameter;
        } else {
            const std::wstring text = FormatLogLine(fields);
            status = WriteLine(text);
            if (status == 0 && (fields.options & kLogOptionDebugger)) platform::OutputDebugText(text);
        }
    }
    if (locked) mutex_->Release();
    return status;
}

uint32_t CLogging::WriteLine(const std::wstring& text) {
    using Kestrix::IniFile;
    const uint32_t maxEntries = maxEntries_;
    uint32_t index = 0;
    if (auto stored = IniFile::GetString(perProcessIni_, kSection, kLastLogIdx))
        index = static_cast<uint32_t>(Kestrix::ParseIniInteger(*stored, 0, UINT32_MAX).value_or(0));
    bool truncate = false;
    bool storeIndex = false;
    if (index < maxEntries) {
        uint64_t size = 0;
        if (platform::LogFileSize(LogFilePath(index), &size) == 0 && size >= maxSize_) {
            index = (index + 1) % maxEntries;
            truncate = true;
            storeIndex = true;
        }
    } else {
        index = 0;
        truncate = true;
        storeIndex = true;
    }
    if (storeIndex) IniFile::WriteString(perProcessIni_, kSection, kLastLogIdx, std::to_wstring(index));
    const std::string bom("\xFF\xFE", 2);
    const std::string bytes = Utf16LeBytes(text);
    uint32_t status = platform::AppendLogFile(LogFilePath(index), truncate, bom, bytes);
    if (status == 2 || status == 3) {
        // The folder went away under us (cleaned up by hand): make it again once.
        if (platform::CreateFolderTree(logFolder_) == 0)
            status = platform::AppendLogFile(LogFilePath(index), truncate, bom, bytes);
    }
    return status;
}

}  // namespace ETWLogging
