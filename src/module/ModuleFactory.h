// ModuleFactory.h - creates and destroys the module object of this library.
#pragma once

#include <glimmerpane/abi.h>

#include "module/Module.h"

namespace Vornik {

// Creates the module (GlimmerpaneImpl with default collaborators) on zero-filled
// storage and stores it at *address. MODULE_STATUS_INVALID_PARAMETER for a null address,
// MODULE_STATUS_UNSUCCESSFUL when construction fails (nothing is stored then).
ModuleStatus createModule(Module** address);

// Stops the module (a no-op when stopped), then deletes it through its virtual destructor (null is allowed) and logs it.
void destroyModule(Module* module);

}  // namespace Vornik
