// Win32SessionId.cpp - Windows side: the Terminal Services session of this process.
#include "SessionId.h"

#include <windows.h>

namespace BusBroker {

uint32_t ReadProcessSessionId() {
    DWORD session = 0;
    if (!ProcessIdToSessionId(GetCurrentProcessId(), &session)) return 0;
    return static_cast<uint32_t>(session);
}

}  // namespace BusBroker
