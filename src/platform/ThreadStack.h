// ThreadStack.h - running a function on a thread with a chosen stack size.
//
// Used to prove that code holds up on a small stack (Windows gives a thread 1 MiB by
// default, glibc 8 MiB) and by callers that want a worker with a known stack. The call
// blocks until the function returns. Returns false (and does not run the function) when
// the thread cannot be created; the error is then a Win32 code in *error.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>

namespace glimmerpane::platform {

bool RunOnThreadWithStack(size_t stackBytes, const std::function<void()>& body, uint32_t* error = nullptr);

}  // namespace glimmerpane::platform
