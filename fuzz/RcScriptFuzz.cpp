// RcScriptFuzz.cpp - libFuzzer target for the .rc compiler behind `glimmerpane rc`.
//
// Any script either compiles into string tables, whose generated C source is written out,
// or is refused with a reason; it never aborts, overflows the stack or runs without end.
#include <cstdint>
#include <string>
#include <string_view>

#include "render/RcParser.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    glimmerpane::resources::RcScript script;
    glimmerpane::resources::RcError error;
    if (glimmerpane::resources::parseRcText(text, "fuzz.rc", script, error)) {
        glimmerpane::resources::generateStringTableSource(script);
    }
    return 0;
}
