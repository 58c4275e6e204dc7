// TrustCheck.cpp (POSIX side) - the trusted-path check that stands in for code signatures.
#include "platform/TrustCheck.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <string>

#include "base/Utf.h"
#include "platform/posix/PosixFiles.h"

namespace glimmerpane::platform {

namespace {

// The verifier answers only "not found", "name too long" or "not trusted".
uint32_t CodeOfErrno(int error) {
    const uint32_t code = posix::Win32FromErrno(error);
    if (code == base::kErrorFileNotFound || code == base::kErrorPathNotFound) return kTrustFileNotFound;
    if (code == base::kErrorNameTooLong) return kTrustNameTooLong;
    return kTrustAccessDenied;
}

bool OwnerTrusted(const struct stat& info) { return info.st_uid == 0 || info.st_uid == geteuid(); }

bool WritableByOthers(const struct stat& info) { return (info.st_mode & (S_IWGRP | S_IWOTH)) != 0; }

// Checks the folder itself (followed if it is a link; its own location is checked as the
// next folder up). A root-owned sticky folder may be writable by others: entries in it
// can be replaced only by their owners, and ours are checked on their own.
uint32_t CheckFolder(const std::string& folder, std::wstring* reason) {
    struct stat info {};
    if (stat(folder.c_str(), &info) != 0) {
        const int error = errno;
        if (reason) *reason = L"cannot examine folder " + glimmerpane::base::WideFromUtf8(folder);
        return CodeOfErrno(error);
    }
    if (!S_ISDIR(info.st_mode)) {
        if (reason) *reason = L"not a folder: " + glimmerpane::base::WideFromUtf8(folder);
        return kTrustFileNotFound;
    }
    if (!OwnerTrusted(info)) {
        if (reason) *reason = L"folder owned by another user: " + glimmerpane::base::WideFromUtf8(folder);
        return kTrustAccessDenied;
    }
    if (WritableByOthers(info) && !(info.st_uid == 0 && (info.st_mode & S_ISVTX) != 0)) {
        if (reason) *reason = L"folder writable by others: " + glimmerpane::base::WideFromUtf8(folder);
        return kTrustAccessDenied;
    }
    return kTrustOk;
}

// Every folder above path, from its parent up to the root.
uint32_t CheckFoldersAbove(const std::string& path, std::wstring* reason) {
    std::string folder = path;
    for (;;) {
        while (folder.size() > 1 && folder.back() == '/') folder.pop_back();
        const size_t slash = folder.find_last_of('/');
        if (slash == std::string::npos) {
            // A relative path: the rest lies in the working folder.
            folder.assign(1, '.');  // not = ".": GCC 12 warns falsely (-Wrestrict) on that assignment here
        } else {
            folder.erase(slash == 0 ? 1 : slash);
        }
        if (const uint32_t code = CheckFolder(folder, reason); code != kTrustOk) return code;
        if (folder == "/" || folder == ".") return kTrustOk;
    }
}

}  // namespace

uint32_t VerifyTrustedFile(const std::wstring& path, std::wstring* verifiedPath, std::wstring* reason) {
    if (path.empty()) {
        if (reason) *reason = L"empty path";
        return kTrustInvalidParameter;
    }
    const std::string given = glimmerpane::base::Utf8FromWide(path);
    if (given.size() >= PATH_MAX) {
        if (reason) *reason = L"path too long";
        return kTrustNameTooLong;
    }
    char* resolvedText = realpath(given.c_str(), nullptr);
    if (resolvedText == nullptr) {
        const int error = errno;
        if (reason) *reason = L"cannot resolve " + path;
        return CodeOfErrno(error);
    }
    const std::string resolved(resolvedText);
    std::free(resolvedText);

    struct stat info {};
    if (lstat(resolved.c_str(), &info) != 0) {
        const int error = errno;
        if (reason) *reason = L"cannot examine " + glimmerpane::base::WideFromUtf8(resolved);
        return CodeOfErrno(error);
    }
    if (!S_ISREG(info.st_mode)) {
        if (reason) *reason = L"not a regular file: " + glimmerpane::base::WideFromUtf8(resolved);
        return kTrustAccessDenied;
    }
    if (!OwnerTrusted(info)) {
        if (reason) *reason = L"file owned by another user: " + glimmerpane::base::WideFromUtf8(resolved);
        return kTrustAccessDenied;
    }
    if (WritableByOthers(info)) {
        if (reason) *reason = L"file writable by others: " + glimmerpane::base::WideFromUtf8(resolved);
        return kTrustAccessDenied;
    }
    if (const uint32_t code = CheckFoldersAbove(resolved, reason); code != kTrustOk) return code;
    if (given != resolved) {
        if (const uint32_t code = CheckFoldersAbove(given, reason); code != kTrustOk) return code;
    }
    if (verifiedPath) *verifiedPath = glimmerpane::base::WideFromUtf8(resolved);
    return kTrustOk;
}

bool FileNamesIgnoreCase() { return false; }

}  // namespace glimmerpane::platform
