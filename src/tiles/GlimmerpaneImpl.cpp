// GlimmerpaneImpl.cpp - the tile module's lifecycle.
#include "tiles/GlimmerpaneImpl.h"

#include "module/ModuleStatus.h"

namespace Vornik {

ModuleStatus GlimmerpaneImpl::initialize() { return MODULE_STATUS_SUCCESS; }
ModuleStatus GlimmerpaneImpl::start() { return MODULE_STATUS_SUCCESS; }
ModuleStatus GlimmerpaneImpl::stop() { return MODULE_STATUS_SUCCESS; }

}  // namespace Vornik
