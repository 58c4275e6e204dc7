// Environment.h - process environment variables and the interrupt (Ctrl-C) flag.
//
// A host sets variables such as GLIMMERPANE_PREFIX or LANGUAGE before it loads a module, so
// that the module's first look at the environment sees them. Not safe against other threads
// reading the environment at the same time: call before starting threads.
//
// The interrupt flag: InstallInterruptFlag makes Ctrl-C (POSIX: SIGINT and SIGTERM; Windows:
// the console control events) set a flag instead of ending the process, so a run loop can
// stop its work cleanly. POSIX installs the handler without SA_RESTART, so a blocking read
// of standard input returns with an error and the loop gets to look at the flag, and
// ignores SIGPIPE, so a write to a closed pipe fails (EPIPE) instead of ending the process.
#pragma once

#include <optional>
#include <string>

namespace glimmerpane::platform {

// The variable's value, or nothing when it is not set.
std::optional<std::string> GetEnvironmentValue(const std::string& name);
// Sets (value given) or removes (nullopt) a variable; false when the system refuses.
bool SetEnvironmentValue(const std::string& name, const std::optional<std::string>& value);

// Idempotent. From now on the interrupt signals set the flag; POSIX also interrupts a
// blocking call of the thread that installed it, whichever thread the signal reached.
void InstallInterruptFlag();
bool InterruptRequested();
// Sets the flag as the signal would (tests, and code that wants the same way out).
void RequestInterrupt();

}  // namespace glimmerpane::platform
