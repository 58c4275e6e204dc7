// PosixSessionId.cpp - POSIX side: the login session id from /proc/self/sessionid.
//
// Linux keeps the audit session id there as decimal text; kernels without audit support
// lack the file, and processes started outside a login show the unset value.
#include "SessionId.h"

#include <fstream>
#include <string>

namespace BusBroker {

uint32_t ReadProcessSessionId() {
    std::ifstream file("/proc/self/sessionid");
    unsigned long long value = 0;
    if (!(file >> value)) return 0;
    constexpr unsigned long long kUnset = 0xFFFFFFFFull;
    if (value >= kUnset) return 0;
    return static_cast<uint32_t>(value);
}

}  // namespace BusBroker
