// TrapGuard.h - runs a body so that a hardware trap inside it becomes a return value.
//
// On Windows this is a structured-exception guard. On POSIX, SIGSEGV, SIGBUS, SIGFPE and
// SIGILL raised on the calling thread while the body runs unwind to the guard
// (sigsetjmp/siglongjmp with a per-thread guard pointer). Outside any guard the
// process's previous handlers run as before. Objects on the stack between the guard and
// the trap are not destroyed: a trap is a last-resort containment, not error handling.
// Guards nest; each thread has its own.
#pragma once

#include <cstdint>

namespace glimmerpane::platform {

using GuardedBody = uint32_t (*)(void* context);

// Runs body(context). Returns true and sets *result to the body's result when it
// returned normally; returns false and sets *trapCode (signal number or exception code)
// when a trap ended it.
bool RunTrapGuarded(GuardedBody body, void* context, uint32_t* result, uint32_t* trapCode);

}  // namespace glimmerpane::platform
