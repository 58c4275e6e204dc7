// RegFile.cpp - the .reg parser and writer.
//
// The parser reads the whole text into lines first, because a hex list may continue over
// several of them; it reports the line where the value began. The writer's wrapping and
// its choice of "text" over hex(1): follow regedit, so that an export of an imported
// canonical file is the same file byte for byte.
#include "RegFile.h"

#include <cctype>
#include <cwchar>
#include <sstream>

#include "base/ByteOrder.h"
#include "base/Hex.h"
#include "base/Utf.h"

namespace glimmerpane::cli {
namespace {

constexpr wchar_t kHeader[] = L"Windows Registry Editor Version 5.00";
constexpr wchar_t kLegacyHeader[] = L"REGEDIT4";  // Windows 95 and NT 4: strings in the ANSI code page
constexpr uint32_t kRegSz = 1;
constexpr uint32_t kRegBinary = 3;
constexpr uint32_t kRegDword = 4;

std::string Upper(std::string s) {
    for (char& c : s) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return s;
}

std::wstring DecodeFile(std::string_view raw) {
    if (raw.size() >= 2 && static_cast<uint8_t>(raw[0]) == 0xFF && static_cast<uint8_t>(raw[1]) == 0xFE) {
        return base::WideFromUtf16LeBytes(raw.data() + 2, (raw.size() - 2) & ~size_t{1});
    }
    if (raw.size() >= 3 && raw.substr(0, 3) == "\xEF\xBB\xBF") return base::WideFromUtf8(raw.substr(3));
    return base::WideFromUtf8(raw);
}

std::wstring Trim(std::wstring_view s) {
    const size_t b = s.find_first_not_of(L" \t");
    if (b == std::wstring_view::npos) return L"";
    const size_t e = s.find_last_not_of(L" \t");
    return std::wstring(s.substr(b, e - b + 1));
}

// Reads a quoted text at s[*at] == '"'; handles \\, \", \r and \n. False when it does not close.
bool ReadQuoted(const std::wstring& s, size_t* at, std::wstring* out) {
    out->clear();
    for (size_t i = *at + 1; i < s.size(); ++i) {
        if (s[i] == L'\\' && i + 1 < s.size()) {
            const wchar_t escaped = s[++i];
            *out += escaped == L'n' ? L'\n' : escaped == L'r' ? L'\r' : escaped;
        } else if (s[i] == L'"') {
            *at = i + 1;
            return true;
        } else {
            *out += s[i];
        }
    }
    return false;
}

bool ParseHexBytes(const std::wstring& list, std::string* bytes) {
    bytes->clear();
    std::wstring item;
    std::wstringstream stream(list);
    while (std::getline(stream, item, L',')) {
        item = Trim(item);
        if (item.empty()) {
            // Only a trailing comma may leave an empty item.
            if (stream.peek() != WEOF && !stream.eof()) return false;
            continue;
        }
        if (item.size() > 2) return false;
        int v = 0;
        for (wchar_t c : item) {
            const int d = base::HexDigitValue(static_cast<char32_t>(c));
            if (d < 0) return false;
            v = v * 16 + d;
        }
        *bytes += static_cast<char>(v);
    }
    return true;
}

// Hex digits only, any number of them, with a value no larger than max.
bool ParseHexNumber(std::wstring_view digits, uint64_t max, uint64_t* value) {
    if (digits.empty()) return false;
    uint64_t v = 0;
    for (wchar_t c : digits) {
        const int d = base::HexDigitValue(static_cast<char32_t>(c));
        if (d < 0 || v > (max - static_cast<uint64_t>(d)) / 16) return false;
        v = v * 16 + static_cast<uint64_t>(d);
    }
    *value = v;
    return true;
}

std::vector<std::wstring> SplitLines(const std::wstring& text) {
    std::vector<std::wstring> lines;
    std::wstring line;
    for (wchar_t c : text) {
        if (c == L'\n') {
            if (!line.empty() && line.back() == L'\r') line.pop_back();
            lines.push_back(line);
            line.clear();
        } else {
            line += c;
        }
    }
    if (!line.empty()) lines.push_back(line);
    return lines;
}

std::wstring Lower(std::wstring_view text) {
    std::wstring out(text);
    for (wchar_t& c : out) {
        if (c >= L'A' && c <= L'Z') c = static_cast<wchar_t>(c - L'A' + L'a');
    }
    return out;
}

// A REGEDIT4 file holds the text of hex(1), hex(2) and hex(7) data as 8-bit characters; the
// registry stores UTF-16LE. Read as Windows-1252's Latin-1 part, as regedit does for Western
// code pages.
std::string WidenLegacyText(const std::string& bytes) {
    std::string out;
    for (char c : bytes) {
        out += c;
        out += '\0';
    }
    return out;
}

// The data after '=' of the value line at lines[*i]; *i moves past continuation lines. The
// forms' prefixes (dword:, hex:, hex(N):) are read in any letter case, as regedit does.
bool ParseData(const std::vector<std::wstring>& lines, size_t* i, const std::wstring& rawData, bool legacy,
               RegFileValue* value, std::string* why) {
    // Only the prefix up to the first ':' is folded; the rest is data.
    const size_t prefixEnd = rawData.find(L':');
    const std::wstring data = rawData.empty() || rawData[0] == L'"'
                                  ? rawData
                                  : Lower(rawData.substr(0, prefixEnd)) +
                                        (prefixEnd == std::wstring::npos ? L"" : rawData.substr(prefixEnd));
    auto bad = [&](std::string reason) {
        *why = std::move(reason);
        return false;
    };
    if (data == L"-") {
        value->remove = true;
        return true;
    }
    if (!data.empty() && data[0] == L'"') {
        size_t end = 0;
        std::wstring text;
        if (!ReadQuoted(data, &end, &text)) return bad("the string has no closing quote");
        const std::wstring rest = Trim(std::wstring_view(data).substr(end));
        if (!rest.empty() && rest[0] != L';') return bad("unexpected text after the closing quote");
        value->type = kRegSz;
        value->data = base::Utf16LeBytesFromWide(text, true);
        return true;
    }
    if (data.compare(0, 6, L"dword:") == 0) {
        const std::wstring digits = data.substr(6);
        uint64_t v = 0;
        if (digits.empty() || digits.size() > 8 || !ParseHexNumber(digits, 0xFFFFFFFFull, &v)) {
            return bad("dword: needs 1 to 8 hex digits");
        }
        value->type = kRegDword;
        base::AppendLittleEndian<uint32_t>(value->data, static_cast<uint32_t>(v));
        return true;
    }
    if (data.compare(0, 3, L"hex") == 0) {
        const size_t colon = data.find(L':');
        if (colon == std::wstring::npos) return bad("hex data needs ':'");
        const std::wstring form = data.substr(0, colon);
        if (form == L"hex") {
            value->type = kRegBinary;
        } else {
            uint64_t t = 0;
            if (form.size() < 6 || form.compare(0, 4, L"hex(") != 0 || form.back() != L')' ||
                !ParseHexNumber(std::wstring_view(form).substr(4, form.size() - 5), 0xFFFFFFFFull, &t)) {
                return bad("bad hex type '" + base::Utf8FromWide(form) + "' (hex: or hex(N): with N in hex)");
            }
            value->type = static_cast<uint32_t>(t);
        }
        std::wstring list = data.substr(colon + 1);
        while (!list.empty() && list.back() == L'\\') {
            list.pop_back();
            if (++*i >= lines.size()) return bad("the file ends inside a continued line");
            list += Trim(lines[*i]);
        }
        if (!ParseHexBytes(list, &value->data)) {
            return bad("bad hex byte list (two hex digits each, separated by commas)");
        }
        if (legacy && (value->type == 1 || value->type == 2 || value->type == 7)) value->data = WidenLegacyText(value->data);
        return true;
    }
    return bad("unrecognised value data (expected \"text\", dword:, hex:, hex(N): or -)");
}

std::wstring Escape(const std::wstring& text) {
    std::wstring out;
    for (wchar_t c : text) {
        if (c == L'\n') {
            out += L"\\n";
        } else if (c == L'\r') {
            out += L"\\r";
        } else {
            if (c == L'\\' || c == L'"') out += L'\\';
            out += c;
        }
    }
    return out;
}

// A REG_SZ that regedit can write as "text": whole UTF-16 units, one terminator at the end
// and none before it, no line break.
bool PrintableString(const std::string& bytes, std::wstring* text) {
    if (bytes.size() < 2 || bytes.size() % 2 != 0) return false;
    if (bytes[bytes.size() - 1] != 0 || bytes[bytes.size() - 2] != 0) return false;
    *text = base::WideFromUtf16LeBytes(bytes.data(), bytes.size() - 2);
    return text->find_first_of(std::wstring(L"\0\r\n", 3)) == std::wstring::npos &&
           base::Utf16LeBytesFromWide(*text, true) == bytes;
}

std::wstring ValueLine(const RegFileValue& value) {
    std::wstring line = value.name.empty() ? L"@=" : L"\"" + Escape(value.name) + L"\"=";
    if (value.remove) return line + L"-";
    const std::string& data = value.data;
    std::wstring text;
    if (value.type == kRegSz && PrintableString(data, &text)) return line + L"\"" + Escape(text) + L"\"";
    if (value.type == kRegDword && data.size() == 4) {
        wchar_t number[16];
        std::swprintf(number, 16, L"dword:%08x", base::LoadLe32(data.data()));
        return line + number;
    }
    if (value.type == kRegBinary) {
        line += L"hex:";
    } else {
        wchar_t prefix[24];
        std::swprintf(prefix, 24, L"hex(%x):", value.type);
        line += prefix;
    }
    // regedit keeps lines within 80 columns, continuing with ",\" and two spaces.
    size_t column = line.size();
    for (size_t i = 0; i < data.size(); ++i) {
        const uint8_t b = static_cast<uint8_t>(data[i]);
        line += static_cast<wchar_t>(base::HexDigit(b >> 4));
        line += static_cast<wchar_t>(base::HexDigit(b));
        column += 2;
        if (i + 1 < data.size()) {
            line += L',';
            ++column;
            if (column > 76) {
                line += L"\\\r\n  ";
                column = 2;
            }
        }
    }
    return line;
}

}  // namespace

bool SplitRegKeyPath(const std::wstring& text, RegHive* hive, std::wstring* below, std::string* error) {
    const size_t cut = text.find(L'\\');
    const std::string root = Upper(base::Utf8FromWide(text.substr(0, cut)));
    if (root == "HKLM" || root == "HKEY_LOCAL_MACHINE") *hive = RegHive::LocalMachine;
    else if (root == "HKCU" || root == "HKEY_CURRENT_USER") *hive = RegHive::CurrentUser;
    else {
        *error = "invalid key name '" + base::Utf8FromWide(text) + "': the root must be HKLM or HKCU";
        return false;
    }
    *below = cut == std::wstring::npos ? L"" : text.substr(cut + 1);
    while (!below->empty() && below->back() == L'\\') below->pop_back();
    return true;
}

bool ParseRegFile(std::string_view raw, std::vector<RegFileKey>* keys, RegFileError* error) {
    const std::vector<std::wstring> lines = SplitLines(DecodeFile(raw));
    auto fail = [&](size_t lineIndex, std::string reason) {
        error->line = lineIndex + 1;
        error->reason = std::move(reason);
        return false;
    };
    size_t i = 0;
    while (i < lines.size() && Trim(lines[i]).empty()) ++i;
    if (i == lines.size() || (Trim(lines[i]) != kHeader && Trim(lines[i]) != kLegacyHeader)) {
        return fail(i < lines.size() ? i : 0,
                    "not a registry file (the first line must be \"Windows Registry Editor Version 5.00\" or "
                    "\"REGEDIT4\")");
    }
    const bool legacy = Trim(lines[i]) == kLegacyHeader;
    for (++i; i < lines.size(); ++i) {
        const size_t lineNo = i;
        const std::wstring line = Trim(lines[i]);
        if (line.empty() || line[0] == L';') continue;
        if (line[0] == L'[') {
            if (line.back() != L']') return fail(lineNo, "a key line must end with ']'");
            const bool remove = line.size() > 1 && line[1] == L'-';
            RegFileKey key;
            key.path = line.substr(remove ? 2 : 1, line.size() - (remove ? 3 : 2));
            key.remove = remove;
            key.line = lineNo + 1;
            // A stray carriage return inside the brackets: no export could write it back.
            if (key.path.find(L'\r') != std::wstring::npos) return fail(lineNo, "a key name cannot hold a line break");
            RegHive hive;
            std::wstring below;
            std::string why;
            if (!SplitRegKeyPath(key.path, &hive, &below, &why)) return fail(lineNo, why);
            if (below.empty()) {
                return fail(lineNo, "a hive root cannot be " + std::string(remove ? "deleted" : "imported into"));
            }
            keys->push_back(std::move(key));
            continue;
        }
        RegFileValue value;
        value.line = lineNo + 1;
        size_t at = 0;
        if (line[0] == L'@') {
            at = 1;
        } else if (line[0] == L'"') {
            if (!ReadQuoted(line, &at, &value.name)) return fail(lineNo, "the value name has no closing quote");
        } else {
            return fail(lineNo, "expected a [key], a \"value\"=data line or a ; comment");
        }
        if (keys->empty()) return fail(lineNo, "a value before the first [key]");
        if (keys->back().remove) return fail(lineNo, "a value under a deleted [-key]");
        while (at < line.size() && (line[at] == L' ' || line[at] == L'\t')) ++at;
        if (at >= line.size() || line[at] != L'=') return fail(lineNo, "expected '=' after the value name");
        std::string why;
        if (!ParseData(lines, &i, Trim(std::wstring_view(line).substr(at + 1)), legacy, &value, &why)) {
            return fail(lineNo, why);
        }
        keys->back().values.push_back(std::move(value));
    }
    return true;
}

bool WriteRegFile(const std::vector<RegFileKey>& keys, std::string* bytes, std::string* error) {
    std::wstring text = std::wstring(kHeader) + L"\r\n\r\n";
    for (const RegFileKey& key : keys) {
        if (key.path.find_first_of(L"\r\n") != std::wstring::npos) {
            *error = "the key '" + base::Utf8FromWide(key.path) + "' has a line break in its name, which a .reg file cannot hold";
            return false;
        }
        text += (key.remove ? L"[-" : L"[") + key.path + L"]\r\n";
        for (const RegFileValue& value : key.values) text += ValueLine(value) + L"\r\n";
        text += L"\r\n";
    }
    *bytes = "\xFF\xFE" + base::Utf16LeBytesFromWide(text, false);
    return true;
}

}  // namespace glimmerpane::cli
