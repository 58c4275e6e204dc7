// TrapGuard.cpp (Windows side) - the trap guard as a structured-exception guard.
#include "platform/TrapGuard.h"

#include <windows.h>
#include <malloc.h>

namespace glimmerpane::platform {

#if defined(_MSC_VER)
namespace {
// Kept apart from the caller: __try cannot share a frame with objects that need unwinding.
bool RunSeh(GuardedBody body, void* context, uint32_t* result, uint32_t* trapCode) {
    __try {
        *result = body(context);
        return true;
    } __except (*trapCode = GetExceptionCode(), EXCEPTION_EXECUTE_HANDLER) {
        return false;
    }
}
}  // namespace

bool RunTrapGuarded(GuardedBody body, void* context, uint32_t* result, uint32_t* trapCode) {
    const bool returned = RunSeh(body, context, result, trapCode);
    // After an overflow the stack's guard page is gone; without it the next one ends the process.
    if (!returned && *trapCode == static_cast<uint32_t>(EXCEPTION_STACK_OVERFLOW)) _resetstkoflw();
    return returned;
}
#else
// MinGW's g++ has no __try/__except; without it a structured exception inside a body
// is not contained. The language-level guard of the caller still applies.
bool RunTrapGuarded(GuardedBody body, void* context, uint32_t* result, uint32_t* /*trapCode*/) {
    *result = body(context);
    return true;
}
#endif

}  // namespace glimmerpane::platform
