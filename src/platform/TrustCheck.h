// TrustCheck.h - whether a library file may be loaded: the code-signature verifier.
//
// Windows: Authenticode through WinVerifyTrust. POSIX has no code signatures, so the check is
// a trusted-path check of the kind sudo and OpenSSH apply before they use a file:
// - the path, with every link resolved, names a regular file;
// - the file is owned by root or by the effective user and is not writable by group or others;
// - every folder above it (of the resolved path, and of the path as given, so that a link
//   cannot be swapped by whoever may write the folder that holds it) is owned by root or the
//   effective user and is not writable by group or others, except that a root-owned folder
//   with the sticky bit (such as /tmp) may be passed through.
//
// Results are Win32 codes: 0 trusted, 87 empty path, 2 not found, 5 not trusted (also when a
// part of the path cannot be examined), 206 a path too long for the system. Any thread.
#pragma once

#include <cstdint>
#include <string>

#include "base/Win32Error.h"

namespace glimmerpane::platform {

// The verifier's answers, by the Win32 code each one is.
inline constexpr uint32_t kTrustOk = base::kErrorSuccess;
inline constexpr uint32_t kTrustFileNotFound = base::kErrorFileNotFound;
inline constexpr uint32_t kTrustAccessDenied = base::kErrorAccessDenied;
inline constexpr uint32_t kTrustInvalidParameter = base::kErrorInvalidParameter;
inline constexpr uint32_t kTrustNameTooLong = base::kErrorNameTooLong;

// Verifies path. On success *verifiedPath (when given) receives the path to load: on POSIX
// the resolved path that was examined, so that nothing can be swapped in between; on
// Windows the path as given. *reason (when given) receives a short text on failure.
uint32_t VerifyTrustedFile(const std::wstring& path, std::wstring* verifiedPath = nullptr,
                           std::wstring* reason = nullptr);

// True when file names compare without regard to case (Windows), false on POSIX.
bool FileNamesIgnoreCase();

}  // namespace glimmerpane::platform
