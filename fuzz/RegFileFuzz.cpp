// RegFileFuzz.cpp - libFuzzer target for .reg files: any bytes parse or are refused with a
// line and a reason, and whatever parsed survives the export->import round trip: written
// back, it parses to the same keys and values, and writing that gives the same bytes.
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

#include "cli/RegFile.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    using namespace glimmerpane::cli;
    const std::string_view raw(reinterpret_cast<const char*>(data), size);
    std::vector<RegFileKey> keys;
    RegFileError error;
    if (!ParseRegFile(raw, &keys, &error)) {
        if (error.line == 0 || error.reason.empty()) std::abort();
        return 0;
    }
    std::string written, why;
    if (!WriteRegFile(keys, &written, &why)) std::abort();  // nothing read can be unwritable
    std::vector<RegFileKey> again;
    if (!ParseRegFile(written, &again, &error) || again != keys) std::abort();
    std::string rewritten;
    if (!WriteRegFile(again, &rewritten, &why) || rewritten != written) std::abort();
    return 0;
}
