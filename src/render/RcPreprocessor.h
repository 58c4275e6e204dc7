// RcPreprocessor.h - the first stage of the resource compiler: files, directives and macros.
//
// Reads a script as UTF-8 (a byte-order mark is skipped), line by line: removes comments,
// runs the directives (#if / #ifdef / #ifndef / #elif / #else / #endif, #define / #undef,
// #include "file", #pragma code_page, #error), lexes the remaining code (RcLexer) and
// replaces #define names by their values, so that the statement parser sees one stream of
// tokens from the script and every file it included.
//
// #if lines: defined NAME and defined(NAME) are 1 or 0, other macros are expanded, names
// left over are 0, and the result is evaluated by RcExpression. A function-like macro is not
// expanded in #if (its name is 0) and refused elsewhere.
//
// Hostile input ends in an error with file, line and reason, never in unbounded time,
// memory or stack: each file read must be a regular file of at most kMaxRcFileBytes, all of
// them together at most kMaxRcTotalBytes; includes nest at most kMaxRcIncludeDepth deep and
// macros kMaxRcMacroDepth deep; one use of a macro yields at most kMaxRcMacroTokens tokens
// and the whole stream at most kMaxRcTokens.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "base/RegularFile.h"
#include "render/RcLexer.h"
#include "render/RcScript.h"

namespace glimmerpane::resources {

inline constexpr size_t kMaxRcFileBytes = size_t{16} << 20;
inline constexpr size_t kMaxRcTotalBytes = size_t{64} << 20;
inline constexpr int kMaxRcIncludeDepth = 16;
inline constexpr int kMaxRcMacroDepth = 32;
inline constexpr size_t kMaxRcMacroTokens = size_t{1} << 16;
inline constexpr size_t kMaxRcTokens = size_t{1} << 20;

struct RcPreprocessed {
    std::vector<RcToken> tokens;
    std::vector<std::string> files;  // the script first; RcToken::file indexes this
};

using RcReadResult = base::FileReadResult;

// Reads a file the preprocessor may take: a regular file (after following links) of at
// most kMaxRcFileBytes. Never opens anything else, so a FIFO or a device cannot block it.
RcReadResult readRcSource(const std::string& path, std::string& bytes);

// Preprocesses text as if read from fileName (includes resolve beside it). False with error
// at the first problem; out then holds what was read before it.
bool preprocessRc(std::string_view text, const std::string& fileName, RcPreprocessed& out, RcError& error);

}  // namespace glimmerpane::resources
