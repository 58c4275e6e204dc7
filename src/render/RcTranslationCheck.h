// RcTranslationCheck.h - does every language of a resource script say what the reference says?
//
// The module shows nothing at all for a tile whose text is missing in the user's language,
// and a placeholder spelt differently in a translation stays in the tile as literal text
// (or fails it). So a script is checked before it is built: the reference is the first neutral
// table (LANG_NEUTRAL, any sublanguage) when there is one, else en-US; every other language must hold every id of the
// reference, and each of its strings must use the same set of %NAME% placeholders (order
// and count may differ, as grammar wants). A script with only one language, or with neither
// reference, has nothing to compare and passes.
#pragma once

#include <vector>

#include "render/RcScript.h"

namespace glimmerpane::resources {

struct RcTranslationOptions {
    bool allowMissing = false;  // missing ids are left out on purpose (a partial translation)
};

// Appends one error per problem, each at the place to fix it: the string whose placeholders
// differ, or the language's first STRINGTABLE for a missing id. True when there was none.
bool checkRcTranslations(const RcScript& script, const RcTranslationOptions& options, std::vector<RcError>& problems);

}  // namespace glimmerpane::resources
