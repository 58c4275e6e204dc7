// IniFile.cpp - the INI reader and writer.
#include "utility/IniFile.h"
#include "base/CaseFold.h"
#include "base/ByteOrder.h"

#include <cwctype>
#include <filesystem>
#include <fstream>
#include <random>
#include <vector>

#include "base/Utf.h"

namespace Kestrix {

namespace base = glimmerpane::base;

namespace {

enum class Encoding { Utf8, Utf8Bom, Utf16 };

struct Loaded {
    std::vector<std::wstring> lines;
    Encoding encoding = Encoding::Utf8;
    bool crlf = false;
};

std::filesystem::path FsPath(const std::wstring& path) { return std::filesystem::path(base::Utf8FromWide(path)); }

// 0 and the file's lines; 2 when missing, 223 when too large, 5 when unreadable.
uint32_t Load(const std::wstring& path, Loaded& out) {
    std::error_code error;
    const auto fsPath = FsPath(path);
    if (!std::filesystem::is_regular_file(fsPath, error)) return 2;
    const auto size = std::filesystem::file_size(fsPath, error);
    if (error) return 5;
    if (size > kMaxIniFileBytes) return 223;
    std::ifstream in(fsPath, std::ios::binary);
    if (!in) return 5;
    std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    std::wstring text;
    if (bytes.size() >= 2 && uint8_t(bytes[0]) == 0xFF && uint8_t(bytes[1]) == 0xFE) {
        out.encoding = Encoding::Utf16;
        text = base::WideFromUtf16LeBytes(bytes.data() + 2, bytes.size() - 2);
    } else if (bytes.size() >= 3 && bytes.compare(0, 3, "\xEF\xBB\xBF") == 0) {
        out.encoding = Encoding::Utf8Bom;
        text = base::WideFromUtf8(std::string_view(bytes).substr(3));
    } else {
        text = base::WideFromUtf8(bytes);
    }
    size_t start = 0;
    while (start <= text.size()) {
        size_t end = text.find(L'\n', start);
        if (end == std::wstring::npos) end = text.size();
        std::wstring line = text.substr(start, end - start);
        if (!line.empty() && line.back() == L'\r') {
            line.pop_back();
            out.crlf = true;
        }
        if (end < text.size() || !line.empty()) out.lines.push_back(std::move(line));
        start = end + 1;
    }
    return 0;
}

std::wstring Trim(std::wstring_view s) {
    size_t b = 0, e = s.size();
    while (b < e && std::iswspace(s[b])) ++b;
    while (e > b && std::iswspace(s[e - 1])) --e;
    return std::wstring(s.substr(b, e - b));
}

bool SameName(std::wstring_view a, std::wstring_view b) { return base::EqualsIgnoreCase(a, b); }

// The section name of a "[name]" line, or nullopt.
std::optional<std::wstring> SectionOf(const std::wstring& line) {
    const std::wstring t = Trim(line);
    if (t.size() < 2 || t.front() != L'[') return std::nullopt;
    const size_t close = t.find(L']');
    if (close == std::wstring::npos) return std::nullopt;
    return Trim(std::wstring_view(t).substr(1, close - 1));
}

// Key and raw value of a "key=value" line.
bool KeyValueOf(const std::wstring& line, std::wstring* key, std::wstring* value) {
    const std::wstring t = Trim(line);
    if (t.empty() || t[0] == L';') return false;
    const size_t eq = t.find(L'=');
    if (eq == std::wstring::npos) return false;
    *key = Trim(std::wstring_view(t).substr(0, eq));
    *value = Trim(std::wstring_view(t).substr(eq + 1));
    return true;
}

}  // namespace

bool IniFile::Exists(const std::wstring& path) {
    std::error_code error;
    return std::filesystem::is_regular_file(FsPath(path), error);
}

std::optional<std::wstring> IniFile::GetString(const std::wstring& path, const std::wstring& section,
                                               const std::wstring& key) {
    Loaded file;
    if (Load(path, file) != 0) return std::nullopt;
    bool inSection = false;
    for (const std::wstring& line : file.lines) {
        if (auto name = SectionOf(line)) {
            inSection = SameName(*name, section);
            continue;
        }
        std::wstring k, v;
        if (inSection && KeyValueOf(line, &k, &v) && SameName(k, key)) {
            if (v.size() >= 2 && (v.front() == L'"' || v.front() == L'\'') && v.back() == v.front())
                v = v.substr(1, v.size() - 2);
            return v;
        }
    }
    return std::nullopt;
}

uint32_t IniFile::WriteString(const std::wstring& path, const std::wstring& section, const std::wstring& key,
                              const std::wstring& value) {
    Loaded file;
    const uint32_t loaded = Load(path, file);
    if (loaded != 0 && loaded != 2) return loaded;
    const std::wstring entry = key + L"=" + value;
    bool inSection = false, done = false;
    size_t sectionEnd = std::wstring::npos;  // index after the last line of our section
    for (size_t i = 0; i < file.lines.size() && !done; ++i) {
        if (auto name = SectionOf(file.lines[i])) {
            if (inSection) break;
            inSection = SameName(*name, section);
            if (inSection) sectionEnd = i + 1;
            continue;
        }
        if (!inSection) continue;
        std::wstring k, v;
        if (KeyValueOf(file.lines[i], &k, &v) && SameName(k, key)) {
            file.lines[i] = entry;
            done = true;
        } else if (!Trim(file.lines[i]).empty()) {
            sectionEnd = i + 1;
        }
    }
    if (!done) {
        if (sectionEnd == std::wstring::npos) {
            file.lines.push_back(L"[" + section + L"]");
            file.lines.push_back(entry);
        } else {
            file.lines.insert(file.lines.begin() + static_cast<std::ptrdiff_t>(sectionEnd), entry);
        }
    }
    std::wstring text;
    for (const std::wstring& line : file.lines) text += line + (file.crlf ? L"\r\n" : L"\n");
    std::string bytes;
    if (file.encoding == Encoding::Utf16) {
        bytes = "\xFF\xFE" + base::Utf16LeBytesFromWide(text, false);
    } else {
        if (file.encoding == Encoding::Utf8Bom) bytes = "\xEF\xBB\xBF";
        bytes += base::Utf8FromWide(text);
    }
    const auto target = FsPath(path);
    std::random_device random;
    auto temp = target;
    temp += ".tmp" + std::to_string(random());
    {
        std::ofstream out(temp, std::ios::binary | std::ios::trunc);
        if (!out) return 5;
        out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
        if (!out.flush()) {
            std::error_code ignored;
            std::filesystem::remove(temp, ignored);
            return 112;
        }
    }
    std::error_code error;
    std::filesystem::rename(temp, target, error);
    if (error) {
        std::filesystem::remove(temp, error);
        return 5;
    }
    return 0;
}

std::optional<int64_t> ParseIniInteger(const std::wstring& text, int64_t min, int64_t max) {
    const std::wstring t = Trim(text);
    if (t.empty() || t.size() > 20) return std::nullopt;
    size_t i = 0;
    bool negative = false;
    if (t[0] == L'+' || t[0] == L'-') {
        negative = t[0] == L'-';
        ++i;
    }
    if (i == t.size()) return std::nullopt;
    int64_t value = 0;
    for (; i < t.size(); ++i) {
        if (t[i] < L'0' || t[i] > L'9') return std::nullopt;
        if (value > (INT64_MAX - 9) / 10) return std::nullopt;
        value = value * 10 + (t[i] - L'0');
    }
    if (negative) value = -value;
    if (value < min || value > max) return std::nullopt;
    return value;
}

}  // namespace Kestrix
