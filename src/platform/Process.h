// Process.h - process identity: process id and login session id.
//
// Windows: GetCurrentProcessId / ProcessIdToSessionId. POSIX: getpid and the kernel's
// login session id (/proc/<pid>/sessionid); the kernel's "unset" value (4294967295)
// counts as failure.
#pragma once

#include <cstdint>

namespace glimmerpane::platform {

uint32_t CurrentProcessId();

// True and *sessionId set on success; false with a Win32 error code in *error otherwise.
bool SessionIdOfProcess(uint32_t processId, uint32_t* sessionId, uint32_t* error);

}  // namespace glimmerpane::platform
