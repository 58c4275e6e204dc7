// RegFile.h - regedit's "Windows Registry Editor Version 5.00" files, read and written.
//
// A file is a list of key blocks, each with the values set or deleted under it, in file
// order; that order is the order in which an import applies them. Values carry the exact
// bytes the registry stores (REG_SZ as UTF-16LE with its terminator). Reading accepts
// UTF-16LE with a byte-order mark and UTF-8 with or without one, LF or CRLF line ends,
// ; comments, spaces around '=', hex lists continued with a trailing '\', the prefixes
// dword:, hex: and hex(N): in any letter case, and REGEDIT4 files (whose hex(1), hex(2) and
// hex(7) text is 8-bit and is widened to UTF-16LE). Inside quotes,
// \\ stands for \, \" for ", \r and \n for the line breaks. Writing produces what regedit writes: UTF-16LE with a mark, CRLF, "text" for a REG_SZ that
// can be shown as text, dword: for a four-byte REG_DWORD, hex: for REG_BINARY and
// hex(N): for everything else, wrapped before column 80.
//
// Nothing here touches the registry; `glimmerpane reg` does (RegCommand.cpp).
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace glimmerpane::cli {

struct RegFileValue {
    std::wstring name;    // empty: the key's default value, written @
    uint32_t type = 0;    // REG_* number; unused when remove is set
    std::string data;     // the stored bytes
    bool remove = false;  // "name"=- : delete the value
    size_t line = 0;      // where the reader found it (1-based); not part of its meaning

    bool operator==(const RegFileValue& o) const {
        return name == o.name && type == o.type && data == o.data && remove == o.remove;
    }
};

struct RegFileKey {
    std::wstring path;    // between the brackets, without the '-': "HKEY_LOCAL_MACHINE\Software\X"
    bool remove = false;  // [-path]: delete the key and everything below it; then no values
    std::vector<RegFileValue> values;
    size_t line = 0;      // as for values

    bool operator==(const RegFileKey& o) const { return path == o.path && remove == o.remove && values == o.values; }
};

struct RegFileError {
    size_t line = 0;  // 1-based
    std::string reason;
};

enum class RegHive { LocalMachine, CurrentUser };

// Splits a key path into its hive (HKLM, HKCU or their long names, any case) and the path
// below it, without leading or trailing '\'. false with a reason for any other root.
bool SplitRegKeyPath(const std::wstring& text, RegHive* hive, std::wstring* below, std::string* error);

// Reads a whole file. Each key path must name HKLM or HKCU and a key below the root. On
// false, error names the first bad line and keys holds what was read before it.
bool ParseRegFile(std::string_view raw, std::vector<RegFileKey>* keys, RegFileError* error);

// The bytes of a file holding keys, in order. A line break in a value name is written as
// \r or \n inside the quotes (regedit would break the line, and the file would not read
// back); a key path cannot carry one, so such a key makes this false with error naming it.
bool WriteRegFile(const std::vector<RegFileKey>& keys, std::string* bytes, std::string* error);

}  // namespace glimmerpane::cli
