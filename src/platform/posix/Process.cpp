// Process.cpp (POSIX side) - process and login session ids.
#include "platform/Process.h"

#include "base/Win32Error.h"

#include <unistd.h>

#include <cstdio>
#include <fstream>
#include <string>

namespace glimmerpane::platform {

uint32_t CurrentProcessId() { return static_cast<uint32_t>(getpid()); }

bool SessionIdOfProcess(uint32_t processId, uint32_t* sessionId, uint32_t* error) {
    constexpr uint32_t kInvalidParameter = base::kErrorInvalidParameter;
    constexpr uint32_t kNotFound = base::kErrorFileNotFound;
    if (sessionId == nullptr) {
        if (error) *error = kInvalidParameter;
        return false;
    }
    std::ifstream file("/proc/" + std::to_string(processId) + "/sessionid");
    unsigned long long value = 0;
    if (!(file >> value)) {
        if (error) *error = kNotFound;
        return false;
    }
    if (value >= 4294967295ull) {  // AUDIT_SID_UNSET: no login session
        if (error) *error = kNotFound;
        return false;
    }
    *sessionId = static_cast<uint32_t>(value);
    return true;
}

}  // namespace glimmerpane::platform
