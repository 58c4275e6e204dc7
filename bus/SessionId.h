// SessionId.h - the login session of this process, stamped on every published message.
//
// Windows: the Terminal Services session of the process (ProcessIdToSessionId).
// POSIX: the kernel's audit login session (/proc/self/sessionid); the kernel's unset
// value (4294967295, a process outside any login) counts as unknown.
// Either side returns 0 when the session is unknown.
#pragma once

#include <cstdint>

namespace BusBroker {

uint32_t ReadProcessSessionId();

}  // namespace BusBroker
