// GuardedCall.h - the exception boundary of every function the host or the bus calls.
//
// The body runs inside two guards: the platform's trap guard (structured exceptions on
// Windows, fault signals on POSIX) around a language-level catch-all. Whatever escapes
// the body - a thrown object of any type, ModuleException included, or a trap - becomes
// MODULE_STATUS_UNKNOWN_EXCEPTION. Nothing crosses the boundary. A ModuleException was
// logged where it was thrown, so the guard adds no record for it; anything else gets one
// Error record here.
#pragma once

#include <exception>
#include <type_traits>

#include "etwlogging/LogCall.h"
#include "module/ModuleException.h"
#include "module/ModuleStatus.h"
#include "platform/TrapGuard.h"

namespace Vornik {

namespace internal {
void LogCaughtException(const char* what) noexcept;
void LogCaughtTrap(uint32_t trapCode) noexcept;
}  // namespace internal

template <class Body>
ModuleStatus guardedCall(Body&& body) noexcept {
    using BodyType = std::remove_reference_t<Body>;
    auto trampoline = [](void* context) -> uint32_t {
        try {
            return (*static_cast<BodyType*>(context))();
        } catch (const ModuleException&) {
            // Logged at its throw site.
        } catch (const std::exception& e) {
            internal::LogCaughtException(e.what());
        } catch (...) {
            internal::LogCaughtException(nullptr);
        }
        return MODULE_STATUS_UNKNOWN_EXCEPTION;
    };
    uint32_t result = MODULE_STATUS_UNKNOWN_EXCEPTION;
    uint32_t trapCode = 0;
    if (!glimmerpane::platform::RunTrapGuarded(trampoline, const_cast<void*>(static_cast<const void*>(&body)),
                                               &result, &trapCode)) {
        internal::LogCaughtTrap(trapCode);
        return MODULE_STATUS_UNKNOWN_EXCEPTION;
    }
    return result;
}

}  // namespace Vornik
