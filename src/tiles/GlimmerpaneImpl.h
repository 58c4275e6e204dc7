// GlimmerpaneImpl.h - the tile module: the one object the module entry creates.
//
// It listens for the suite's status messages, keeps the status snapshot and publishes
// the live-tile payload. The host drives it through initialize, start, stop and
// uninitialize, one call at a time.
#pragma once

#include "module/BaseModule.h"

namespace Vornik {

class GlimmerpaneImpl : public BaseModule {
public:
    GlimmerpaneImpl() = default;
    ~GlimmerpaneImpl() override = default;

    ModuleStatus initialize() override;
    ModuleStatus start() override;
    ModuleStatus stop() override;
};

}  // namespace Vornik
