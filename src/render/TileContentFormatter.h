// TileContentFormatter.h - turns the chosen tile contents into the viewer's JSON payload.
//
// Each content is rendered to tile XML through PlaceHolders; tiles that fail to render
// are skipped (and logged), the rest keep their order. The payload layout is an external
// interface read by the live-tile viewer:
//   {"viewer_payload":{"tiles":[{"xml":X1},...],"clear_existing":true},
//    "viewer_type":"corvane-uwp-live-tile"}
// The payload is written straight into a buffer kept from call to call (no document is
// built), with the escaping of the JSON wrapper's writer, so the text is the same.
// Called from the module's worker thread only.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "render/PlaceHolders.h"
#include "render/TileCatalogue.h"
#include "tiles/ProcState.h"

namespace Vornik {

class TileContentFormatter {
public:
    // An empty placeholders pointer creates the default engine over the default resource
    // library (which throws ModuleException when that library cannot be loaded).
    explicit TileContentFormatter(std::shared_ptr<PlaceHolders> placeholders = nullptr);
    virtual ~TileContentFormatter();

    // True with the payload set when at least one tile rendered; false with payload
    // unchanged otherwise (an empty list included).
    virtual bool getTilesPayload(const std::vector<TileContent>& contents, ProcState state, std::wstring& payload);

private:
    struct PayloadWriter;

    std::shared_ptr<PlaceHolders> placeholders_;
    std::unique_ptr<PayloadWriter> writer_;
};

}  // namespace Vornik
