// ThreadStack.cpp (POSIX side) - a joined pthread with an explicit stack size.
#include "platform/ThreadStack.h"

#include <limits.h>
#include <pthread.h>

#include <cerrno>

namespace glimmerpane::platform {

namespace {
void* Trampoline(void* argument) {
    (*static_cast<const std::function<void()>*>(argument))();
    return nullptr;
}
}  // namespace

bool RunOnThreadWithStack(size_t stackBytes, const std::function<void()>& body, uint32_t* error) {
    pthread_attr_t attributes;
    if (pthread_attr_init(&attributes) != 0) {
        if (error) *error = 8;  // ERROR_NOT_ENOUGH_MEMORY
        return false;
    }
    if (stackBytes < static_cast<size_t>(PTHREAD_STACK_MIN)) stackBytes = PTHREAD_STACK_MIN;
    int rc = pthread_attr_setstacksize(&attributes, stackBytes);
    pthread_t thread;
    if (rc == 0) rc = pthread_create(&thread, &attributes, &Trampoline, const_cast<std::function<void()>*>(&body));
    pthread_attr_destroy(&attributes);
    if (rc != 0) {
        if (error) *error = rc == EINVAL ? 87u : 8u;  // ERROR_INVALID_PARAMETER, ERROR_NOT_ENOUGH_MEMORY
        return false;
    }
    pthread_join(thread, nullptr);
    if (error) *error = 0;
    return true;
}

}  // namespace glimmerpane::platform
