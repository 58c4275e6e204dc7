// TrapGuard.cpp (Windows side) - the trap guard as a structured-exception guard.
//
// MSVC: __try/__except. MinGW's g++ has no __try, so there a vectored exception handler,
// installed once, sends a hardware exception raised on a thread that is inside a guard
// back to that guard (__builtin_setjmp/__builtin_longjmp: registers only, no unwinding, as
// with __except). Software exceptions (C++ throws, breakpoints, debugger messages) and
// traps outside any guard go on to the next handler as before.
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
namespace {

struct Guard {
    void* jump[5];  // __builtin_setjmp's buffer
    DWORD code = 0;
    Guard* outer = nullptr;
};

thread_local Guard* t_guard = nullptr;

bool IsTrap(DWORD code) {
    switch (code) {
        case EXCEPTION_ACCESS_VIOLATION:
        case EXCEPTION_ARRAY_BOUNDS_EXCEEDED:
        case EXCEPTION_DATATYPE_MISALIGNMENT:
        case EXCEPTION_FLT_DIVIDE_BY_ZERO:
        case EXCEPTION_FLT_INVALID_OPERATION:
        case EXCEPTION_FLT_OVERFLOW:
        case EXCEPTION_FLT_STACK_CHECK:
        case EXCEPTION_FLT_UNDERFLOW:
        case EXCEPTION_ILLEGAL_INSTRUCTION:
        case EXCEPTION_IN_PAGE_ERROR:
        case EXCEPTION_INT_DIVIDE_BY_ZERO:
        case EXCEPTION_INT_OVERFLOW:
        case EXCEPTION_PRIV_INSTRUCTION:
        case EXCEPTION_STACK_OVERFLOW:
            return true;
        default:
            return false;
    }
}

LONG CALLBACK OnException(EXCEPTION_POINTERS* info) {
    Guard* guard = t_guard;
    if (guard == nullptr || info == nullptr || !IsTrap(info->ExceptionRecord->ExceptionCode))
        return EXCEPTION_CONTINUE_SEARCH;
    guard->code = info->ExceptionRecord->ExceptionCode;
    __builtin_longjmp(guard->jump, 1);
}

// Each copy of this code (the executable, and a DLL that links it statically) installs its
// own handler and removes it when that copy is unloaded: a handler left behind in an
// unloaded DLL would be called for the process's next exception.
struct HandlerRegistration {
    PVOID handle = AddVectoredExceptionHandler(1, &OnException);
    ~HandlerRegistration() {
        if (handle) RemoveVectoredExceptionHandler(handle);
    }
};

void InstallHandler() { static HandlerRegistration registration; }

// Its own frame, so that the registers __builtin_setjmp keeps are this frame's alone.
__attribute__((noinline)) bool RunGuarded(Guard& guard, GuardedBody body, void* context, uint32_t* result) {
    if (__builtin_setjmp(guard.jump) != 0) return false;
    t_guard = &guard;
    *result = body(context);
    return true;
}

}  // namespace

bool RunTrapGuarded(GuardedBody body, void* context, uint32_t* result, uint32_t* trapCode) {
    InstallHandler();
    Guard guard;
    guard.outer = t_guard;
    const bool returned = RunGuarded(guard, body, context, result);
    t_guard = guard.outer;
    if (!returned) {
        if (trapCode) *trapCode = guard.code;
        // After an overflow the stack's guard page is gone; without it the next one ends the process.
        if (guard.code == EXCEPTION_STACK_OVERFLOW) _resetstkoflw();
    }
    return returned;
}
#endif

}  // namespace glimmerpane::platform
