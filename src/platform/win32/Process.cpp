// Process.cpp (Windows side) - process and session ids.
#include "platform/Process.h"

#include <windows.h>

namespace glimmerpane::platform {

uint32_t CurrentProcessId() { return GetCurrentProcessId(); }

bool SessionIdOfProcess(uint32_t processId, uint32_t* sessionId, uint32_t* error) {
    DWORD session = 0;
    if (!ProcessIdToSessionId(processId, &session)) {
        if (error) *error = GetLastError();
        return false;
    }
    *sessionId = session;
    return true;
}

}  // namespace glimmerpane::platform
