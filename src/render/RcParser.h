// RcParser.h - reads the string tables of a Windows resource script (.rc).
//
// The .rc file is the single source of the resource library on both platforms: windres
// compiles it on Windows; on POSIX this parser reads it and generateStringTableSource turns
// it into C source for a shared library exporting the table of
// include/glimmerpane/resource_table.h.
//
// Understood: STRINGTABLE blocks (BEGIN/END or braces, memory flags, CHARACTERISTICS,
// VERSION, a LANGUAGE of their own), LANGUAGE statements (LANG_* / SUBLANG_* names or
// numbers), string literals with "" and backslash escapes (\n \t \r \a \\ \" \x.. \ooo),
// L prefixes and adjacent literals, ids and LANGUAGE values as expressions of numbers,
// #define names and LANG_* / SUBLANG_* names (RcExpression.h), // and /* */ comments,
// #pragma code_page(65001), #include "file" (searched beside the including file; <file> is
// skipped), #define / #undef, #if / #ifdef / #ifndef / #elif / #else / #endif with the same
// expressions and defined(), and #error. Other resource statements (ICON, DIALOG,
// VERSIONINFO, ...) are skipped. The source is UTF-8; text outside ASCII needs
// #pragma code_page(65001) before it, as rc.exe would otherwise read it in another code page.
//
// Refused with file, line and reason: invalid UTF-8, unterminated strings and comments,
// other code pages, duplicate ids within a language, ids above 65535, strings above 65535
// UTF-16 units, unknown names, unbalanced blocks and conditionals, include cycles, and
// inputs beyond the bounds of RcPreprocessor.h (file sizes, macro expansion, token count).
//
// The stages: RcPreprocessor (files, directives, macros; lexing by RcLexer, #if and ids
// evaluated by RcExpression), RcStatementParser (statements into an RcScript), RcGenerator
// (the C source).
#pragma once

#include <string>
#include <string_view>

#include "render/RcGenerator.h"
#include "render/RcScript.h"

namespace glimmerpane::resources {

// Parses the script at path. False with error set when it is malformed or unreadable, and
// when path is not a regular file, is empty or is larger than kMaxRcFileBytes.
bool parseRcFile(const std::string& path, RcScript& script, RcError& error);
// Parses text as if read from fileName (includes resolve beside fileName).
bool parseRcText(std::string_view text, const std::string& fileName, RcScript& script, RcError& error);

}  // namespace glimmerpane::resources
