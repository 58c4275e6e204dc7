// TileSelection.h - which tile contents describe the machine, in which order.
//
// Red (protectionState 1) explains why the computer is at risk, one cause per area
// (anti-virus, threats, firewall, updates), or AT_RISK when none applies. Gray (2) names
// the firewall turned off by the user and real-time scanning under repair or starting,
// then continues like any other state: the statistics tiles that apply and SECURE last.
// The list is never empty and holds each value at most once.
#pragma once

#include <vector>

#include "render/TileCatalogue.h"
#include "tiles/ProcState.h"

namespace Vornik {

std::vector<TileContent> selectTileContents(const ProcState& state);

}  // namespace Vornik
