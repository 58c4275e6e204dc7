// ModuleManagerShim.h - the host's module-manager object as the module keeps it.
//
// Nothing in this module calls the host function; the shim keeps it for the module's use.
#pragma once

#include <glimmerpane/abi.h>

namespace Vornik::internal {

class ModuleManagerShim {
public:
    ModuleManagerShim(void* context, ModuleManagerFunction function) : context_(context), function_(function) {}
    virtual ~ModuleManagerShim() = default;

    // Calls the host function with (context, arg1, null, arg3). The second argument is
    // not passed on.
    ModuleStatus call(void* arg1, void* arg2, void* arg3) const;

    void* context() const { return context_; }
    ModuleManagerFunction function() const { return function_; }

private:
    void* context_;
    ModuleManagerFunction function_;
};

}  // namespace Vornik::internal
