// RcScript.h - what a resource script (.rc) yields: its string tables, or the first error.
//
// The data shared by the stages of the resource compiler (RcPreprocessor, RcStatementParser,
// RcGenerator) and by its callers through RcParser.h.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <vector>

namespace glimmerpane::resources {

struct RcError {
    std::string file;
    uint32_t line = 0;  // 0 when the error concerns the file as a whole
    std::string reason;
    // "file:line: reason"
    std::string toString() const;
};

struct RcLocation {
    std::string file;
    uint32_t line = 0;
};

struct RcStringTable {
    uint16_t languageId = 0;
    std::map<uint32_t, std::wstring> strings;
    std::map<uint32_t, RcLocation> definedAt;  // where each string was written
    RcLocation firstBlock;                     // the first STRINGTABLE of this language
};

struct RcScript {
    std::vector<RcStringTable> languages;  // in order of first appearance
    std::vector<std::string> files;        // the script and every file it included
    size_t skippedResources = 0;           // non-string resources that were passed over

    const RcStringTable* language(uint16_t languageId) const;
};

}  // namespace glimmerpane::resources
