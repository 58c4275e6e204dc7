// PlaceholdersFuzz.cpp - libFuzzer target for the tile template engine with hostile texts.
//
// The template (string 101) and every caption, body and count text come from the input, as
// a translator's resource library could hold them, together with the snapshot values. The
// engine must render or refuse; the sanitizers catch everything else.
#include <fuzzer/FuzzedDataProvider.h>

#include <cstdint>
#include <map>
#include <memory>
#include <string>

#include "base/Utf.h"
#include "render/FakeResources.h"
#include "render/PlaceHolders.h"
#include "render/TileCatalogue.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    FuzzedDataProvider input(data, size);
    std::map<uint32_t, std::wstring> strings;
    strings[101] = glimmerpane::base::WideFromUtf8(input.ConsumeRandomLengthString(4096));
    for (const auto& [content, resources] : Vornik::tileCatalogue) {
        for (const uint32_t id : {resources.mediumCaptionId, resources.mediumBodyId, resources.wideCaptionId,
                                  resources.wideBodyId}) {
            strings[id] = glimmerpane::base::WideFromUtf8(input.ConsumeRandomLengthString(128));
        }
    }
    for (uint32_t id = 220; id <= 231; ++id) strings[id] = glimmerpane::base::WideFromUtf8(input.ConsumeRandomLengthString(64));

    Vornik::ProcState state;
    state.threatsResolved = input.ConsumeIntegral<uint64_t>();
    state.threatsDetected = input.ConsumeIntegral<uint64_t>();
    state.filesScanned = input.ConsumeIntegral<uint64_t>();
    state.connectionsBlocked = input.ConsumeIntegral<uint64_t>();
    const auto content = static_cast<Vornik::TileContent>(input.ConsumeIntegralInRange<int32_t>(-1, 17));

    std::shared_ptr<gptest::FakeResourceAPI> api;
    std::shared_ptr<Vornik::ResourceDll> resources = gptest::MakeFakeResourceDll(strings, &api);
    Vornik::PlaceHolders engine(resources);
    std::wstring xml;
    engine.getTileXML(xml, content, state);
    return 0;
}
