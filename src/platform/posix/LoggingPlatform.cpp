// posix/LoggingPlatform.cpp - POSIX side of the logging stand-ins: the named mutex (flock-ed
// lock file in the prefix), the ProgramData folder, log file appends, debugger output and the
// system message texts.
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <condition_variable>
#include <mutex>
#include <thread>

#include "platform/DebugOutput.h"
#include "platform/KnownFolders.h"
#include "platform/LogFile.h"
#include "platform/NamedMutex.h"
#include "platform/Prefix.h"
#include "platform/StringResources.h"
#include "base/Utf.h"

namespace glimmerpane::platform {

namespace {

uint32_t FromErrno(int error) {
    switch (error) {
        case ENOENT: return 2;    // ERROR_FILE_NOT_FOUND
        case ENOTDIR: return 3;   // ERROR_PATH_NOT_FOUND
        case EACCES:
        case EPERM:
        case EROFS: return 5;     // ERROR_ACCESS_DENIED
        case EBADF: return 6;     // ERROR_INVALID_HANDLE
        case ENOMEM: return 8;    // ERROR_NOT_ENOUGH_MEMORY
        case ENOSPC: return 112;  // ERROR_DISK_FULL
        case ENAMETOOLONG: return 206;
        case EEXIST: return 183;  // ERROR_ALREADY_EXISTS
        default: return 1627;     // ERROR_FUNCTION_FAILED
    }
}

std::string Narrow(const std::wstring& path) { return glimmerpane::base::Utf8FromWide(path); }

uint32_t MakeFolders(const std::string& path) {
    if (path.empty()) return 87;
    std::string partial;
    size_t pos = 0;
    while (pos != std::string::npos) {
        pos = path.find('/', pos + 1);
        partial = path.substr(0, pos);
        if (partial.empty()) continue;
        if (::mkdir(partial.c_str(), 0755) != 0 && errno != EEXIST) return FromErrno(errno);
    }
    struct stat info {};
    if (::stat(path.c_str(), &info) != 0) return FromErrno(errno);
    return S_ISDIR(info.st_mode) ? 0 : 3;
}

class PosixNamedMutex : public NamedMutex {
public:
    explicit PosixNamedMutex(int fd) : fd_(fd) {}
    ~PosixNamedMutex() override { ::close(fd_); }

    bool Wait(uint32_t timeoutMs) override {
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
        if (!LockLocal(deadline)) return false;
        // flock has no timed wait: poll with a short back-off.
        auto pause = std::chrono::microseconds(50);
        for (;;) {
            if (::flock(fd_, LOCK_EX | LOCK_NB) == 0) return true;
            if (errno != EWOULDBLOCK && errno != EINTR) break;
            if (std::chrono::steady_clock::now() >= deadline) break;
            std::this_thread::sleep_for(pause);
            if (pause < std::chrono::milliseconds(2)) pause *= 2;
        }
        UnlockLocal();
        return false;
    }

    void Release() override {
        ::flock(fd_, LOCK_UN);
        UnlockLocal();
    }

private:
    // A timed lock from a mutex and a condition: std::timed_mutex uses pthread_mutex_clocklock,
    // which ThreadSanitizer (GCC 12) does not follow and then reports every unlock.
    bool LockLocal(std::chrono::steady_clock::time_point deadline) {
        std::unique_lock lock(localMutex_);
        if (!localFree_.wait_until(lock, deadline, [&] { return !held_; })) return false;
        held_ = true;
        return true;
    }
    void UnlockLocal() {
        {
            std::lock_guard lock(localMutex_);
            held_ = false;
        }
        localFree_.notify_one();
    }

    int fd_;
    std::mutex localMutex_;
    std::condition_variable localFree_;
    bool held_ = false;
};

}  // namespace

std::unique_ptr<NamedMutex> CreateNamedMutex(const std::wstring& name, uint32_t* error,
                                             const std::wstring& lockFolder) {
    uint32_t ignored = 0;
    if (error == nullptr) error = &ignored;
    if (name.empty()) {
        *error = 87;
        return nullptr;
    }
    std::wstring safe = name;
    for (wchar_t& c : safe) {
        const bool plain = (c >= L'a' && c <= L'z') || (c >= L'A' && c <= L'Z') || (c >= L'0' && c <= L'9') ||
                           c == L'-' || c == L'_' || c == L'.' || c == L'{' || c == L'}';
        if (!plain) c = L'_';
    }
    const std::string folder = Narrow(lockFolder.empty() ? PrefixPath(L"locks") : lockFolder);
    if (const uint32_t status = MakeFolders(folder); status != 0) {
        *error = status;
        return nullptr;
    }
    const std::string path = folder + "/" + Narrow(safe) + ".lock";
    const int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0666);
    if (fd < 0) {
        *error = FromErrno(errno);
        return nullptr;
    }
    *error = 0;
    return std::make_unique<PosixNamedMutex>(fd);
}

uint32_t ProgramDataFolder(std::wstring* folder, bool create) {
    if (folder == nullptr) return 87;
    std::wstring path;
    if (const uint32_t status = KnownFolderPath(KnownFolder::ProgramData, path); status != 0) return status;
    if (create) {
        if (const uint32_t status = MakeFolders(Narrow(path)); status != 0) return status;
    }
    *folder = std::move(path);
    return 0;
}

uint32_t LogFileSize(const std::wstring& path, uint64_t* size) {
    struct stat info {};
    if (::stat(Narrow(path).c_str(), &info) != 0) return FromErrno(errno);
    if (!S_ISREG(info.st_mode)) return 5;
    if (size) *size = static_cast<uint64_t>(info.st_size);
    return 0;
}

uint32_t AppendLogFile(const std::wstring& path, bool truncate, const std::string& prefixWhenEmpty,
                       const std::string& data) {
    const int fd = ::open(Narrow(path).c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC | (truncate ? O_TRUNC : 0),
                          0644);
    if (fd < 0) return FromErrno(errno);
    struct stat info {};
    std::string bytes;
    if (::fstat(fd, &info) == 0 && info.st_size == 0) bytes = prefixWhenEmpty;
    bytes += data;
    uint32_t status = 0;
    size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t n = ::write(fd, bytes.data() + done, bytes.size() - done);
        if (n < 0) {
            if (errno == EINTR) continue;
            status = FromErrno(errno);
            break;
        }
        done += static_cast<size_t>(n);
    }
    ::close(fd);
    return status;
}

uint32_t CreateFolderTree(const std::wstring& path) { return MakeFolders(Narrow(path)); }

std::wstring ProcessImagePath() { return LoadedModulePath(nullptr); }

std::wstring LoadedModulePath(void* module) {
    wchar_t buffer[4096];
    const uint32_t n = LoadedModuleFileName(static_cast<ModuleHandle>(module), buffer, 4096);
    return n == 0 || n >= 4096 ? std::wstring() : std::wstring(buffer, n);
}

void* ModuleOfAddress(const void* address) { return ModuleContainingAddress(address); }

bool DebugOutputEnabled() { return std::getenv("GLIMMERPANE_DEBUG_OUTPUT") != nullptr; }

void OutputDebugText(const std::wstring& text) {
    if (!DebugOutputEnabled()) return;
    const std::string bytes = glimmerpane::base::Utf8FromWide(text);
    // One write keeps concurrent lines whole.
    const ssize_t ignored = ::write(STDERR_FILENO, bytes.data(), bytes.size());
    (void)ignored;
}

std::wstring SystemMessageText(uint32_t code) {
    struct Entry {
        uint32_t code;
        const wchar_t* text;
    };
    static const Entry kTable[] = {
        {0, L"The operation completed successfully."},
        {2, L"The system cannot find the file specified."},
        {3, L"The system cannot find the path specified."},
        {5, L"Access is denied."},
        {6, L"The handle is invalid."},
        {8, L"Not enough memory resources are available to process this command."},
        {13, L"The data is invalid."},
        {14, L"Not enough memory resources are available to complete this operation."},
        {87, L"The parameter is incorrect."},
        {112, L"There is not enough space on the disk."},
        {183, L"Cannot create a file when that file already exists."},
        {1627, L"Function failed during execution."},
        {5023, L"The group or resource is not in the correct state to perform the requested operation."},
    };
    for (const Entry& e : kTable)
        if (e.code == code) return e.text;
    return L"Unknown error " + std::to_wstring(code);
}

}  // namespace glimmerpane::platform
