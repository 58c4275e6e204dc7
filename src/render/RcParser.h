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
// L prefixes and adjacent literals, ids as numbers, #define names and + - | of them,
// // and /* */ comments, #pragma code_page(65001), #include "file" (searched beside the
// including file; <file> is skipped), #define / #undef, #if / #ifdef / #ifndef / #elif /
// #else / #endif with defined(), !, &&, ||, ==, != and numbers, and #error. Other resource
// statements (ICON, DIALOG, VERSIONINFO, ...) are skipped. The source is UTF-8; text outside
// ASCII needs #pragma code_page(65001) before it, as rc.exe would otherwise read it in
// another code page.
//
// Refused with file, line and reason: invalid UTF-8, unterminated strings and comments,
// other code pages, duplicate ids within a language, ids above 65535, strings above 65535
// UTF-16 units, unknown names, unbalanced blocks and conditionals, include cycles.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <string_view>
#include <vector>

namespace glimmerpane::resources {

struct RcError {
    std::string file;
    uint32_t line = 0;
    std::string reason;
    // "file:line: reason"
    std::string toString() const;
};

struct RcStringTable {
    uint16_t languageId = 0;
    std::map<uint32_t, std::wstring> strings;
};

struct RcScript {
    std::vector<RcStringTable> languages;  // in order of first appearance
    std::vector<std::string> files;        // the script and every file it included
    size_t skippedResources = 0;           // non-string resources that were passed over

    const RcStringTable* language(uint16_t languageId) const;
};

// Parses the script at path. False with error set when it is malformed or unreadable.
bool parseRcFile(const std::string& path, RcScript& script, RcError& error);
// Parses text as if read from fileName (includes resolve beside fileName).
bool parseRcText(std::string_view text, const std::string& fileName, RcScript& script, RcError& error);

// C source of a shared library exporting the script's string table.
std::string generateStringTableSource(const RcScript& script);

}  // namespace glimmerpane::resources
