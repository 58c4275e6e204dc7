// posix/LogFile.cpp - POSIX side of the log file calls: sizes, appends, folder trees and
// the paths of loaded images.
#include "platform/LogFile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include "base/Utf.h"
#include "platform/StringResources.h"
#include "platform/posix/PosixFiles.h"

namespace glimmerpane::platform {

uint32_t LogFileSize(const std::wstring& path, uint64_t* size) {
    struct stat info {};
    if (::stat(base::Utf8FromWide(path).c_str(), &info) != 0) return posix::Win32FromErrno(errno);
    if (!S_ISREG(info.st_mode)) return 5;
    if (size) *size = static_cast<uint64_t>(info.st_size);
    return 0;
}

uint32_t AppendLogFile(const std::wstring& path, bool truncate, const std::string& prefixWhenEmpty,
                       const std::string& data) {
    const int fd = ::open(base::Utf8FromWide(path).c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC | (truncate ? O_TRUNC : 0),
                          0644);
    if (fd < 0) return posix::Win32FromErrno(errno);
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
            status = posix::Win32FromErrno(errno);
            break;
        }
        done += static_cast<size_t>(n);
    }
    ::close(fd);
    return status;
}

uint32_t CreateFolderTree(const std::wstring& path) { return posix::MakeFolderTree(base::Utf8FromWide(path)); }

std::wstring ProcessImagePath() { return LoadedModulePath(nullptr); }

std::wstring LoadedModulePath(void* module) {
    wchar_t buffer[4096];
    const uint32_t n = LoadedModuleFileName(static_cast<ModuleHandle>(module), buffer, 4096);
    return n == 0 || n >= 4096 ? std::wstring() : std::wstring(buffer, n);
}

void* ModuleOfAddress(const void* address) { return ModuleContainingAddress(address); }

}  // namespace glimmerpane::platform
