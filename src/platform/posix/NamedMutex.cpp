// posix/NamedMutex.cpp - POSIX side of the named mutex: an flock-ed lock file in the
// prefix, plus an in-process lock, since flock does not exclude threads of one process
// that share the descriptor.
#include "platform/NamedMutex.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <thread>

#include "base/Utf.h"
#include "platform/Prefix.h"
#include "platform/posix/PosixFiles.h"

namespace glimmerpane::platform {

namespace {

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
    const std::string folder = base::Utf8FromWide(lockFolder.empty() ? PrefixPath(L"locks") : lockFolder);
    if (const uint32_t status = posix::MakeFolderTree(folder); status != 0) {
        *error = status;
        return nullptr;
    }
    const std::string path = folder + "/" + base::Utf8FromWide(safe) + ".lock";
    const int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0666);
    if (fd < 0) {
        *error = posix::Win32FromErrno(errno);
        return nullptr;
    }
    *error = 0;
    return std::make_unique<PosixNamedMutex>(fd);
}

}  // namespace glimmerpane::platform
