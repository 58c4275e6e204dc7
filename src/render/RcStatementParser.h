// RcStatementParser.h - the second stage of the resource compiler: statements to string tables.
//
// Reads the preprocessed token stream: LANGUAGE statements (they set the language of the
// STRINGTABLE blocks after them), STRINGTABLE blocks (BEGIN/END or braces, memory flags,
// CHARACTERISTICS, VERSION, a LANGUAGE of their own) with "id, string" entries whose
// adjacent literals join, and every other resource statement, which is passed over (its
// block, or the rest of its line for a resource read from a file such as ICON "app.ico").
// Ids and LANGUAGE values are RcExpression expressions over numbers and LANG_* / SUBLANG_*
// names; rc's default language is en-US.
//
// Refused with the file and line of the offending token: ids outside 0..65535, an id
// defined twice for one language, a string longer than 65535 UTF-16 units, unknown names,
// unbalanced blocks and incomplete statements.
#pragma once

#include <vector>

#include "render/RcLexer.h"
#include "render/RcScript.h"

namespace glimmerpane::resources {

// Adds the string tables of tokens to script. script.files must name the files that the
// tokens' file indexes refer to. False with error at the first bad statement.
bool parseRcStatements(const std::vector<RcToken>& tokens, RcScript& script, RcError& error);

}  // namespace glimmerpane::resources
