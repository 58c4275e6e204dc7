// IniFile.h - reading and writing INI files with GetPrivateProfileString semantics.
//
// Sections "[name]" and keys "key=value" match ignoring case; the first match wins; blanks
// around names and values are dropped, as is one pair of matching quotes around a value;
// lines starting with ";" are comments. Files may be UTF-8 (with or without BOM) or UTF-16LE
// with BOM; a rewrite keeps the file's encoding and every other line as it was, and lands
// through a temporary file and a rename, so a reader never sees half a file.
// A file larger than kMaxIniFileBytes is not read and not rewritten (a hostile or broken
// file cannot make the caller allocate without bound): reads find nothing, writes answer
// 223 (ERROR_FILE_TOO_LARGE).
// Callers serialise writers of one file themselves (the file logger holds its named mutex).
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>

namespace Kestrix {

inline constexpr size_t kMaxIniFileBytes = 1u << 20;

class IniFile {
public:
    // GetPrivateProfileStringW: the value, or nullopt when the file, section or key is absent.
    static std::optional<std::wstring> GetString(const std::wstring& path, const std::wstring& section,
                                                 const std::wstring& key);
    // WritePrivateProfileStringW: replaces the key's value, or adds the key (and the section)
    // at the end of its section (of the file). Creates the file when missing. 0 or a Win32 code.
    static uint32_t WriteString(const std::wstring& path, const std::wstring& section, const std::wstring& key,
                                const std::wstring& value);
    static bool Exists(const std::wstring& path);
};

// A whole decimal number in [min, max] ("+"/"-" sign allowed, blanks around it allowed),
// else nullopt: "12abc", "", "0x10" and out-of-range values are not numbers of the range.
std::optional<int64_t> ParseIniInteger(const std::wstring& text, int64_t min, int64_t max);

}  // namespace Kestrix
