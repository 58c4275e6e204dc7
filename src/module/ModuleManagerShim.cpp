// ModuleManagerShim.cpp - forwarding to the host's module-manager function.
#include "module/ModuleManagerShim.h"

#include "module/ModuleStatus.h"

namespace Vornik::internal {

ModuleStatus ModuleManagerShim::call(void* arg1, void* /*arg2*/, void* arg3) const {
    if (function_ == nullptr) return MODULE_STATUS_INVALID_PARAMETER;
    return function_(context_, arg1, nullptr, arg3);
}

}  // namespace Vornik::internal
