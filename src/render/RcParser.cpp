// RcParser.cpp - the resource compiler's front: reads the script, runs the preprocessor and
// the statement parser, and reports the first error of either.
#include "render/RcParser.h"

#include "render/RcPreprocessor.h"
#include "render/RcStatementParser.h"

namespace glimmerpane::resources {

std::string RcError::toString() const { return file + ":" + std::to_string(line) + ": " + reason; }

const RcStringTable* RcScript::language(uint16_t languageId) const {
    for (const RcStringTable& table : languages) {
        if (table.languageId == languageId) return &table;
    }
    return nullptr;
}

bool parseRcText(std::string_view text, const std::string& fileName, RcScript& script, RcError& error) {
    script = RcScript();
    RcPreprocessed preprocessed;
    const bool read = preprocessRc(text, fileName, preprocessed, error);
    script.files = std::move(preprocessed.files);
    return read && parseRcStatements(preprocessed.tokens, script, error);
}

bool parseRcFile(const std::string& path, RcScript& script, RcError& error) {
    std::string bytes;
    const char* problem = nullptr;
    switch (readRcSource(path, bytes)) {
        case RcReadResult::Read: problem = bytes.empty() ? "the file is empty" : nullptr; break;
        case RcReadResult::CannotOpen: problem = "cannot read the file"; break;
        case RcReadResult::Folder: problem = "is a folder, not a resource script"; break;
        case RcReadResult::NotRegularFile: problem = "is not a regular file"; break;
        case RcReadResult::TooLarge: problem = "is larger than 16 MiB"; break;
    }
    if (problem != nullptr) {
        script = RcScript();
        error = RcError{path, 0, problem};
        return false;
    }
    return parseRcText(bytes, path, script, error);
}

}  // namespace glimmerpane::resources
