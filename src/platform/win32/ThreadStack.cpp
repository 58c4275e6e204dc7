// ThreadStack.cpp (Windows side) - a joined thread with a reserved stack size.
#include "platform/ThreadStack.h"

#include <windows.h>

namespace glimmerpane::platform {

namespace {
DWORD WINAPI Trampoline(LPVOID argument) {
    (*static_cast<const std::function<void()>*>(argument))();
    return 0;
}
}  // namespace

bool RunOnThreadWithStack(size_t stackBytes, const std::function<void()>& body, uint32_t* error) {
    HANDLE thread = CreateThread(nullptr, stackBytes, &Trampoline, const_cast<std::function<void()>*>(&body),
                                 STACK_SIZE_PARAM_IS_A_RESERVATION, nullptr);
    if (thread == nullptr) {
        if (error) *error = GetLastError();
        return false;
    }
    WaitForSingleObject(thread, INFINITE);
    CloseHandle(thread);
    if (error) *error = 0;
    return true;
}

}  // namespace glimmerpane::platform
