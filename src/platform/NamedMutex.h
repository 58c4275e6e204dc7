// NamedMutex.h - a mutex that every process opening the same name shares.
//
// Windows: CreateMutexW / WaitForSingleObject / ReleaseMutex. POSIX: an flock-ed lock file
// <prefix>/locks/<name>.lock (characters other than letters, digits, "-", "_", "." and "{}"
// become "_"), plus an in-process lock so threads of one process exclude each other too
// (flock alone does not when they share one descriptor). A holder that dies releases the
// lock (the kernel drops its flock), like an abandoned Windows mutex.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

namespace glimmerpane::platform {

class NamedMutex {
public:
    virtual ~NamedMutex() = default;
    // True when acquired within timeoutMs; false on timeout or error.
    virtual bool Wait(uint32_t timeoutMs) = 0;
    virtual void Release() = 0;
};

// CreateMutexW(not owned). Null with *error set (a Win32 code) when it cannot be made.
// POSIX: lockFolder replaces <prefix>/locks when not empty (tests keep their locks apart).
std::unique_ptr<NamedMutex> CreateNamedMutex(const std::wstring& name, uint32_t* error,
                                             const std::wstring& lockFolder = {});

}  // namespace glimmerpane::platform
