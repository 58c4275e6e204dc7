// ProcessAPI.cpp - forwards to the platform's process calls.
#include "message/ProcessAPI.h"

#include "platform/Process.h"

namespace Vornik {

uint32_t ProcessAPI::GetCurrentProcessId() { return glimmerpane::platform::CurrentProcessId(); }

int ProcessAPI::ProcessIdToSessionId(uint32_t processId, uint32_t* sessionId) {
    uint32_t error = 0;
    return glimmerpane::platform::SessionIdOfProcess(processId, sessionId, &error) ? 1 : 0;
}

}  // namespace Vornik
