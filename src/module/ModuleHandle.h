// ModuleHandle.h - the object behind the opaque handle that the host keeps.
//
// The handle owns its module: destroying the handle runs the deleter on the module.
// The host owns the handle from NewModule until DestroyModule.
#pragma once

#include <functional>

#include "module/Module.h"

namespace Vornik {

struct ModuleHandle {
    std::function<void(Module*)> deleter;  // does nothing for null, else destroyModule
    Module* module = nullptr;

    ModuleHandle() = default;
    ModuleHandle(const ModuleHandle&) = delete;
    ModuleHandle& operator=(const ModuleHandle&) = delete;
    ~ModuleHandle() {
        if (deleter) deleter(module);
    }
};

}  // namespace Vornik
