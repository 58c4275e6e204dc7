// Module.h - the interface through which the entry functions drive a module.
//
// Every operation returns a ModuleStatus. The host calls them one at a time, in the
// order initialise, start, stop, uninitialise (see ModuleFunctions.h).
#pragma once

#include <glimmerpane/abi.h>

namespace Vornik {

class Module {
public:
    virtual ~Module() = default;
    virtual ModuleStatus initialize() = 0;
    virtual ModuleStatus start() = 0;
    virtual ModuleStatus stop() = 0;
    virtual ModuleStatus uninitialize() = 0;
};

}  // namespace Vornik
