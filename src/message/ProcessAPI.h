// ProcessAPI.h - the process calls the bus client needs, as a seam for tests.
//
// Only the two calls the client uses are offered; on POSIX the session id is the
// kernel's login session id.
#pragma once

#include <cstdint>

namespace Vornik {

class ProcessAPI {
public:
    virtual ~ProcessAPI() = default;
    virtual uint32_t GetCurrentProcessId();
    // Nonzero on success (as the Windows call); *sessionId receives the session.
    virtual int ProcessIdToSessionId(uint32_t processId, uint32_t* sessionId);
};

}  // namespace Vornik
