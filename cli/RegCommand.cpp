// RegCommand.cpp - `glimmerpane reg add|query|delete|export|import` over the prefix's registry.
//
// The argument syntax, the output and the exit codes are reg.exe's (each operation takes
// only its own switches; 0 success, 1 anything else), and the files are regedit's
// "Windows Registry Editor Version 5.00" format: written as UTF-16LE with a byte-order mark,
// read as UTF-16LE (with mark) or UTF-8; REGEDIT4 files are read too. An import is parsed completely before anything is
// written and then applied in one store transaction, so a file with an error, a value the
// store refuses or a killed import changes nothing. The file format itself lives in
// RegFile.h; this file walks the registry for it.
#include <algorithm>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <functional>
#include <iostream>
#include <string>
#include <vector>

#include "Command.h"
#include "RegFile.h"
#include "base/ByteOrder.h"
#include "base/CaseFold.h"
#include "base/Hex.h"
#include "base/RegularFile.h"
#include "base/Utf.h"
#include "platform/Prefix.h"
#include "platform/Registry.h"

namespace glimmerpane::cli {
namespace {

namespace reg = glimmerpane::platform;

constexpr size_t kMaxRegFileBytes = size_t{64} << 20;
using glimmerpane::base::Utf8FromWide;
using glimmerpane::base::WideFromUtf8;

constexpr char kUsage[] =
    "usage: glimmerpane reg <operation> [--prefix DIR] ...\n"
    "\n"
    "  add    KEY [/v NAME | /ve] [/t TYPE] [/s SEP] [/d DATA] [/f]\n"
    "  query  KEY [/v [NAME] | /ve] [/s] [/f PATTERN [/k] [/d] [/c] [/e]] [/t TYPE[,TYPE...]] [/z] [/se SEP]\n"
    "  delete KEY [/v NAME | /ve | /va] [/f]\n"
    "  export KEY FILE [/y]\n"
    "  import FILE\n"
    "\n"
    "KEY is HKLM\\path or HKCU\\path (HKEY_LOCAL_MACHINE, HKEY_CURRENT_USER spelled out also work).\n"
    "TYPE is REG_SZ (default), REG_EXPAND_SZ, REG_MULTI_SZ, REG_DWORD (or REG_DWORD_LITTLE_ENDIAN),\n"
    "REG_DWORD_BIG_ENDIAN, REG_QWORD, REG_BINARY or REG_NONE.\n"
    "REG_MULTI_SZ data separates strings with \\0 (or the /s character); REG_DWORD and REG_QWORD\n"
    "take decimal or 0x-hex numbers; REG_BINARY takes hex digits.\n"
    "/f adds or deletes without asking; /y overwrites an export file without asking.\n"
    "query: /s lists the whole tree; /f searches key names, value names and data (/k, /v, /d\n"
    "narrow it; /c matches letter case, /e the whole text) and counts the matches; /t lists\n"
    "only values of those types; /z adds the type's number; /se shows REG_MULTI_SZ with SEP.\n"
    "/reg:32 and /reg:64 are accepted and change nothing: here both views are the same keys.\n"
    "/?, /h: this text. Exit status: 0 success, 1 anything else (as reg.exe).\n"
    "The registry is the one under --prefix DIR, else under $GLIMMERPANE_PREFIX or the default prefix.\n"
    "Files are written as UTF-16LE with a byte-order mark, as regedit writes them; import also\n"
    "reads REGEDIT4 files.";

struct TypeName {
    uint32_t type;
    const char* name;
};
constexpr TypeName kTypes[] = {
    {reg::kRegNone, "REG_NONE"},       {reg::kRegSz, "REG_SZ"},           {reg::kRegExpandSz, "REG_EXPAND_SZ"},
    {reg::kRegBinary, "REG_BINARY"},   {reg::kRegDword, "REG_DWORD"},     {reg::kRegDwordBigEndian, "REG_DWORD_BIG_ENDIAN"},
    {reg::kRegLink, "REG_LINK"},       {reg::kRegMultiSz, "REG_MULTI_SZ"}, {reg::kRegResourceList, "REG_RESOURCE_LIST"},
    {9, "REG_FULL_RESOURCE_DESCRIPTOR"}, {10, "REG_RESOURCE_REQUIREMENTS_LIST"}, {reg::kRegQword, "REG_QWORD"},
    {reg::kRegDword, "REG_DWORD_LITTLE_ENDIAN"},  // a second name for 4: shown as REG_DWORD
};

std::string TypeToName(uint32_t type) {
    for (const auto& t : kTypes) {
        if (t.type == type) return t.name;
    }
    return "REG_0x" + std::to_string(type);
}

std::string Upper(std::string s) {
    for (char& c : s) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return s;
}

std::string Lower(std::string s) {
    for (char& c : s) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return s;
}

bool NameToType(const std::string& name, uint32_t* type) {
    for (const auto& t : kTypes) {
        if (Upper(name) == t.name) {
            *type = t.type;
            return true;
        }
    }
    return false;
}

std::string ErrorText(uint32_t status) {
    switch (status) {
    case reg::kErrorFileNotFound: return "The system was unable to find the specified registry key or value.";
    case reg::kErrorAccessDenied: return "Access is denied.";
    case reg::kErrorBadPathname: return "The key name is not valid.";
    case reg::kErrorBadDb: return "The registry store is damaged or is not a registry store.";
    case reg::kErrorRegistryCorrupt: return "The registry store is corrupt.";
    case reg::kErrorNotSupported: return "The request is not supported.";
    case reg::kErrorInvalidParameter: return "The parameter is incorrect.";
    case reg::kErrorNameTooLong: return "The key path and value name are too long for the store.";
    case reg::kErrorDiskFull: return "There is not enough space on the disk.";
    default: return "Registry error " + std::to_string(status) + ".";
    }
}

int RegFail(uint32_t status) { return Fail(1, "ERROR: " + ErrorText(status)); }

// ---- keys ----

struct KeyName {
    reg::RegKeyHandle root = nullptr;
    std::wstring path;  // below the root, no leading or trailing "\"
};

bool ParseKeyName(const std::wstring& text, KeyName* key, std::string* error) {
    RegHive hive;
    if (!SplitRegKeyPath(text, &hive, &key->path, error)) return false;
    key->root = hive == RegHive::LocalMachine ? reg::HkeyLocalMachine() : reg::HkeyCurrentUser();
    return true;
}

// ---- value data ----

std::string Utf16Bytes(std::wstring_view text) { return base::Utf16LeBytesFromWide(text, false); }

std::wstring FromUtf16Bytes(const std::string& bytes) { return base::WideFromUtf16LeBytes(bytes.data(), bytes.size()); }

template <class T>
std::string LittleEndian(uint64_t v) {
    std::string out;
    base::AppendLittleEndian<T>(out, static_cast<T>(v));
    return out;
}

bool ParseNumber(const std::wstring& text, uint64_t max, uint64_t* value) {
    std::string s = Utf8FromWide(text);
    if (s.empty()) return false;
    int radix = 10;
    size_t at = 0;
    if (s.size() > 2 && s[0] == '0' && (s[1] == 'x' || s[1] == 'X')) radix = 16, at = 2;
    uint64_t v = 0;
    for (; at < s.size(); ++at) {
        int d;
        const char c = s[at];
        if (c >= '0' && c <= '9') d = c - '0';
        else if (radix == 16 && c >= 'a' && c <= 'f') d = c - 'a' + 10;
        else if (radix == 16 && c >= 'A' && c <= 'F') d = c - 'A' + 10;
        else return false;
        if (v > (max - static_cast<uint64_t>(d)) / static_cast<uint64_t>(radix)) return false;
        v = v * static_cast<uint64_t>(radix) + static_cast<uint64_t>(d);
    }
    *value = v;
    return true;
}

// The bytes `reg add` stores for /t type /d data.
bool EncodeData(uint32_t type, const std::wstring& data, bool hasData, wchar_t separator, std::string* bytes,
                std::string* error) {
    switch (type) {
    case reg::kRegSz:
    case reg::kRegExpandSz:
        *bytes = Utf16Bytes(data) + std::string(2, '\0');
        return true;
    case reg::kRegNone:
        *bytes = hasData && !data.empty() ? Utf16Bytes(data) + std::string(2, '\0') : std::string();
        return true;
    case reg::kRegMultiSz: {
        std::wstring joined;
        for (size_t i = 0; i < data.size(); ++i) {
            if (separator == 0 && data[i] == L'\\' && i + 1 < data.size() && data[i + 1] == L'0') {
                joined += L'\0';
                ++i;
            } else if (separator != 0 && data[i] == separator) {
                joined += L'\0';
            } else {
                joined += data[i];
            }
        }
        *bytes = Utf16Bytes(joined) + std::string(joined.empty() || joined.back() != L'\0' ? 4 : 2, '\0');
        return true;
    }
    case reg::kRegDword:
    case reg::kRegDwordBigEndian: {
        uint64_t v = 0;
        if (!ParseNumber(hasData ? data : L"0", 0xFFFFFFFFull, &v)) {
            *error = "invalid REG_DWORD data '" + Utf8FromWide(data) + "' (0 to 4294967295, decimal or 0x-hex)";
            return false;
        }
        *bytes = LittleEndian<uint32_t>(v);
        if (type == reg::kRegDwordBigEndian) std::swap((*bytes)[0], (*bytes)[3]), std::swap((*bytes)[1], (*bytes)[2]);
        return true;
    }
    case reg::kRegQword: {
        uint64_t v = 0;
        if (!ParseNumber(hasData ? data : L"0", ~0ull, &v)) {
            *error = "invalid REG_QWORD data '" + Utf8FromWide(data) + "' (0 to 18446744073709551615, decimal or 0x-hex)";
            return false;
        }
        *bytes = LittleEndian<uint64_t>(v);
        return true;
    }
    default: {
        if (data.size() % 2 != 0) {
            *error = "invalid " + TypeToName(type) + " data: an even number of hex digits is needed";
            return false;
        }
        bytes->clear();
        for (size_t i = 0; i < data.size(); i += 2) {
            const int hi = base::HexDigitValue(static_cast<char32_t>(data[i]));
            const int lo = base::HexDigitValue(static_cast<char32_t>(data[i + 1]));
            if (hi < 0 || lo < 0) {
                *error = "invalid " + TypeToName(type) + " data '" + Utf8FromWide(data) + "': hex digits only";
                return false;
            }
            *bytes += static_cast<char>(hi * 16 + lo);
        }
        return true;
    }
    }
}

std::string HexText(std::string_view bytes) {
    std::string out;
    for (char c : bytes) {
        out += glimmerpane::base::HexDigit(static_cast<uint8_t>(c) >> 4, true);
        out += glimmerpane::base::HexDigit(static_cast<uint8_t>(c), true);
    }
    return out;
}

// How `reg query` shows data.
std::string DisplayData(uint32_t type, const std::string& bytes) {
    switch (type) {
    case reg::kRegSz:
    case reg::kRegExpandSz: {
        std::wstring text = FromUtf16Bytes(bytes);
        while (!text.empty() && text.back() == L'\0') text.pop_back();
        return Utf8FromWide(text);
    }
    case reg::kRegMultiSz: {
        std::wstring text = FromUtf16Bytes(bytes);
        while (!text.empty() && text.back() == L'\0') text.pop_back();
        std::string out;
        for (wchar_t c : text) out += c == L'\0' ? std::string("\\0") : Utf8FromWide(std::wstring(1, c));
        return out;
    }
    case reg::kRegDword:
        if (bytes.size() == 4) {
            char text[16];
            std::snprintf(text, sizeof text, "0x%x", base::LoadLe32(bytes.data()));
            return text;
        }
        break;
    case reg::kRegQword:
        if (bytes.size() == 8) {
            char text[24];
            std::snprintf(text, sizeof text, "0x%llx", static_cast<unsigned long long>(base::LoadLe64(bytes.data())));
            return text;
        }
        break;
    default: break;
    }
    return HexText(bytes);
}

// ---- argument handling ----

struct Args {
    std::vector<std::wstring> positional;
    std::string prefix;
    bool hasV = false, ve = false, va = false, f = false, s = false, y = false, hasT = false, hasD = false;
    std::wstring v, t, d, sep;
    // query only: /f PATTERN with /k /d /c /e (and /v without a name), /z, /se SEP
    bool search = false, keysOnly = false, dataOnly = false, caseSensitive = false, exact = false, typeNumbers = false;
    bool hasSe = false;
    std::wstring pattern, se;
};

// How a switch is written after each operation: reg.exe gives some letters other meanings
// per operation (/d is data for add, "search data" for query; /s a separator or recursion).
enum class Takes { Nothing, Value, OptionalValue };
struct Switch {
    const char* name;
    Takes takes;
};
struct OperationSwitches {
    const char* operation;
    std::vector<Switch> switches;
};
const std::vector<OperationSwitches>& SwitchTable() {
    static const std::vector<OperationSwitches> table = {
        {"ADD", {{"V", Takes::Value}, {"VE", Takes::Nothing}, {"T", Takes::Value}, {"S", Takes::Value},
                 {"D", Takes::Value}, {"F", Takes::Nothing}}},
        {"QUERY", {{"V", Takes::OptionalValue}, {"VE", Takes::Nothing}, {"S", Takes::Nothing}, {"F", Takes::Value},
                   {"K", Takes::Nothing}, {"D", Takes::Nothing}, {"C", Takes::Nothing}, {"E", Takes::Nothing},
                   {"T", Takes::Value}, {"Z", Takes::Nothing}, {"SE", Takes::Value}}},
        {"DELETE", {{"V", Takes::Value}, {"VE", Takes::Nothing}, {"VA", Takes::Nothing}, {"F", Takes::Nothing}}},
        {"EXPORT", {{"Y", Takes::Nothing}}},
        {"IMPORT", {}},
    };
    return table;
}

// "/X" or "-X" with a switch name any operation knows; anything else is an argument.
bool LooksLikeSwitch(const std::string& arg, std::string* name) {
    if (arg.size() < 2 || (arg[0] != '/' && arg[0] != '-')) return false;
    *name = Upper(arg.substr(1));
    static const char* const kAll[] = {"V", "VE", "VA", "T", "S", "D", "F", "K", "C", "E", "Z", "SE", "Y", "REG:32", "REG:64"};
    for (const char* known : kAll) {
        if (*name == known) return true;
    }
    // An unknown /word is refused as a switch; a path (/tmp/x.reg) or -1 is an argument.
    return arg[0] == '/' && arg.size() <= 8 && arg.find_first_of("/\\.", 1) == std::string::npos;
}

bool ParseArgs(const std::vector<std::string>& raw, const std::string& op, Args* a, std::string* error) {
    const std::vector<Switch>* allowed = nullptr;
    for (const auto& entry : SwitchTable()) {
        if (op == entry.operation) allowed = &entry.switches;
    }
    for (size_t i = 0; i < raw.size(); ++i) {
        const std::string& arg = raw[i];
        if (arg == "--prefix") {
            if (i + 1 >= raw.size()) return *error = "--prefix needs a folder", false;
            a->prefix = raw[++i];
            continue;
        }
        std::string name;
        if (!LooksLikeSwitch(arg, &name)) {
            a->positional.push_back(WideFromUtf8(arg));
            continue;
        }
        // One registry view here: the 32- and 64-bit views of Windows are the same keys.
        if (name == "REG:32" || name == "REG:64") continue;
        const Switch* known = nullptr;
        for (const Switch& candidate : *allowed) {
            if (name == candidate.name) known = &candidate;
        }
        if (known == nullptr) return *error = "the switch " + arg + " does not go with " + Lower(op), false;
        std::wstring value;
        const bool hasNext =
            i + 1 < raw.size() && !LooksLikeSwitch(raw[i + 1], &name) && raw[i + 1].rfind("--", 0) != 0;
        name = known->name;
        if (known->takes == Takes::Value) {
            if (i + 1 >= raw.size()) return *error = arg + " needs a value", false;
            value = WideFromUtf8(raw[++i]);
        } else if (known->takes == Takes::OptionalValue && hasNext) {
            value = WideFromUtf8(raw[++i]);
        }
        const bool isQuery = op == "QUERY";
        if (name == "V") {
            a->hasV = true;
            a->v = value;
        } else if (name == "VE") a->ve = true;
        else if (name == "VA") a->va = true;
        else if (name == "Y") a->y = true;
        else if (name == "T") a->hasT = true, a->t = value;
        else if (name == "D" && isQuery) a->dataOnly = true;
        else if (name == "D") a->hasD = true, a->d = value;
        else if (name == "S") a->s = true, a->sep = value;
        else if (name == "F" && isQuery) a->search = true, a->pattern = value;
        else if (name == "F") a->f = true;
        else if (name == "K") a->keysOnly = true;
        else if (name == "C") a->caseSensitive = true;
        else if (name == "E") a->exact = true;
        else if (name == "Z") a->typeNumbers = true;
        else if (name == "SE") a->hasSe = true, a->se = value;
    }
    if (a->hasV + a->ve + a->va > 1) return *error = "/v, /ve and /va exclude each other", false;
    if (op == "QUERY") {
        if (!a->search && (a->keysOnly || a->dataOnly || a->caseSensitive || a->exact)) {
            return *error = "/k, /d, /c and /e go only with /f", false;
        }
        if (a->hasV && a->v.empty() && !a->search) return *error = "/v needs a value name (or /f to search names)", false;
        if (a->search && (a->ve || (a->hasV && !a->v.empty()))) {
            return *error = "/f searches: give /v without a name to search value names", false;
        }
        if (a->hasSe && a->se.size() != 1) return *error = "/se takes one character", false;
    }
    return true;
}

std::shared_ptr<reg::RegistryStore> StoreFor(const Args& a) {
    if (a.prefix.empty()) return reg::DefaultRegistryStore();
    std::string folder = a.prefix;
    if (folder.back() != '/') folder += '/';
    return reg::OpenRegistryStore(WideFromUtf8(folder + "registry"));
}

bool Confirm(const std::string& question) {
    std::printf("%s (Yes/No)? ", question.c_str());
    std::fflush(stdout);
    std::string answer;
    if (!std::getline(std::cin, answer)) return false;
    return !answer.empty() && (answer[0] == 'y' || answer[0] == 'Y');
}

// A "No" to a question: reg.exe says so and fails.
int Canceled() {
    std::puts("The operation was canceled by the user.");
    return 1;
}

// Closes a key handle when it goes out of scope.
struct Handle {
    reg::RegistryStore& store;
    reg::RegKeyHandle key = nullptr;
    ~Handle() {
        if (key != nullptr && !reg::IsPredefinedKey(key)) store.CloseKey(key);
    }
};

// ---- add / delete / query ----

int RunAdd(const Args& a) {
    if (a.positional.size() != 1) return Fail(1, "reg add: exactly one KEY is needed (see --help)");
    KeyName name;
    std::string error;
    if (!ParseKeyName(a.positional[0], &name, &error)) return Fail(1, "reg add: " + error);
    uint32_t type = reg::kRegSz;
    if (a.hasT && !NameToType(Utf8FromWide(a.t), &type)) return Fail(1, "reg add: unknown type '" + Utf8FromWide(a.t) + "'");
    if (a.s && (type != reg::kRegMultiSz || a.sep.size() != 1)) {
        return Fail(1, "reg add: /s takes one character and only goes with REG_MULTI_SZ");
    }
    if (a.va) return Fail(1, "reg add: /va is not an add option");
    std::string bytes;
    if (!EncodeData(type, a.d, a.hasD, a.s ? a.sep[0] : 0, &bytes, &error)) return Fail(1, "reg add: " + error);
    auto store = StoreFor(a);
    Handle key{*store};
    uint32_t status = store->CreateKey(name.root, name.path, 0, reg::kKeyAllAccess, &key.key, nullptr);
    if (status != reg::kErrorSuccess) return RegFail(status);
    if (a.hasV || a.ve || a.hasD || a.hasT) {
        const std::wstring valueName = a.hasV ? a.v : L"";
        if (!a.f && store->QueryValue(key.key, valueName, nullptr, nullptr, nullptr) == reg::kErrorSuccess &&
            !Confirm("Value " + (a.hasV ? Utf8FromWide(a.v) : std::string("(Default)")) + " exists, overwrite")) {
            return Canceled();
        }
        status = store->SetValue(key.key, valueName, type, reinterpret_cast<const uint8_t*>(bytes.data()),
                                 static_cast<uint32_t>(bytes.size()));
        if (status != reg::kErrorSuccess) return RegFail(status);
    }
    std::puts("The operation completed successfully.");
    return 0;
}

int RunDelete(const Args& a) {
    if (a.positional.size() != 1) return Fail(1, "reg delete: exactly one KEY is needed (see --help)");
    KeyName name;
    std::string error;
    if (!ParseKeyName(a.positional[0], &name, &error)) return Fail(1, "reg delete: " + error);
    auto store = StoreFor(a);
    Handle key{*store};
    uint32_t status = store->OpenKey(name.root, name.path, reg::kKeyAllAccess, &key.key);
    if (status != reg::kErrorSuccess) return RegFail(status);
    std::wstring full;
    store->KeyPath(key.key, &full);
    if (a.hasV || a.ve) {
        const std::wstring valueName = a.hasV ? a.v : L"";
        if (!a.f && !Confirm("Delete the registry value " + (a.hasV ? Utf8FromWide(a.v) : "(Default)"))) return Canceled();
        status = store->DeleteValue(key.key, valueName);
    } else if (a.va) {
        if (!a.f && !Confirm("Delete all values under the registry key " + Utf8FromWide(full))) return Canceled();
        std::wstring valueName;
        while (status == reg::kErrorSuccess && store->EnumValue(key.key, 0, &valueName, nullptr, nullptr) == reg::kErrorSuccess) {
            status = store->DeleteValue(key.key, valueName);
        }
    } else {
        if (name.path.empty()) return Fail(1, "reg delete: a hive root cannot be deleted");
        if (!a.f && !Confirm("Permanently delete the registry key " + Utf8FromWide(full))) return Canceled();
        status = store->DeleteTree(key.key, L"");
    }
    if (status != reg::kErrorSuccess) return RegFail(status);
    std::puts("The operation completed successfully.");
    return 0;
}

// What `reg query` was asked for, with the types of /t resolved.
struct Query {
    const Args& a;
    std::vector<uint32_t> types;  // empty: every type
    int matches = 0;

    bool typeWanted(uint32_t type) const {
        return types.empty() || std::find(types.begin(), types.end(), type) != types.end();
    }
    // /f PATTERN against a name or a data text: a part of it, or all of it with /e; letter
    // case ignored unless /c.
    bool found(const std::wstring& text) const {
        if (a.caseSensitive) return a.exact ? text == a.pattern : text.find(a.pattern) != std::wstring::npos;
        const std::wstring folded = base::ToLowerCase(text), wanted = base::ToLowerCase(a.pattern);
        return a.exact ? folded == wanted : folded.find(wanted) != std::wstring::npos;
    }
    // Without /k, /v or /d a search looks at all three.
    bool searchKeys() const { return !a.keysOnly && !a.hasV && !a.dataOnly ? true : a.keysOnly; }
    bool searchNames() const { return !a.keysOnly && !a.hasV && !a.dataOnly ? true : a.hasV; }
    bool searchData() const { return !a.keysOnly && !a.hasV && !a.dataOnly ? true : a.dataOnly; }

    std::string shown(uint32_t type, const std::string& data) const {
        std::string text = DisplayData(type, data);
        if (type == reg::kRegMultiSz && a.hasSe) {
            std::string replaced;
            const std::string separator = Utf8FromWide(a.se);
            for (size_t i = 0; i < text.size(); ++i) {
                if (text.compare(i, 2, "\\0") == 0) {
                    replaced += separator;
                    ++i;
                } else {
                    replaced += text[i];
                }
            }
            text = replaced;
        }
        return text;
    }
    void printValue(const std::wstring& name, uint32_t type, const std::string& data, bool notSet = false) const {
        std::string typeName = TypeToName(type);
        if (a.typeNumbers) typeName += " (" + std::to_string(type) + ")";
        std::printf("    %s    %s    %s\n", name.empty() ? "(Default)" : Utf8FromWide(name).c_str(), typeName.c_str(),
                    notSet ? "(value not set)" : shown(type, data).c_str());
    }
};

uint32_t ReadValue(reg::RegistryStore& store, reg::RegKeyHandle key, const std::wstring& name, uint32_t* type,
                   std::string* data) {
    uint32_t size = 0;
    uint32_t s = store.QueryValue(key, name, type, nullptr, &size);
    if (s != reg::kErrorSuccess) return s;
    data->assign(size, '\0');
    s = store.QueryValue(key, name, type, reinterpret_cast<uint8_t*>(data->data()), &size);
    data->resize(size);
    return s;
}

std::vector<std::wstring> Children(reg::RegistryStore& store, reg::RegKeyHandle key) {
    std::vector<std::wstring> children;
    std::wstring name;
    for (uint32_t i = 0; store.EnumKey(key, i, &name, nullptr) == reg::kErrorSuccess; ++i) children.push_back(name);
    return children;
}

// One key as reg.exe lists it: a blank line and the key's path when it has something to show,
// its values, then (without /s) its subkeys' paths, or (with /s) each subkey the same way.
uint32_t ListKey(reg::RegistryStore& store, reg::RegKeyHandle key, Query& q, bool top) {
    const Args& a = q.a;
    std::wstring path;
    if (uint32_t s = store.KeyPath(key, &path); s != reg::kErrorSuccess) return s;
    std::wstring name;
    uint32_t type = 0;
    std::string data;
    if (a.hasV || a.ve) {
        const std::wstring wanted = a.hasV ? a.v : L"";
        const uint32_t s = ReadValue(store, key, wanted, &type, &data);
        if (s == reg::kErrorSuccess && q.typeWanted(type)) {
            // Show the stored spelling of the name.
            std::wstring stored = wanted;
            for (uint32_t i = 0; store.EnumValue(key, i, &name, nullptr, nullptr) == reg::kErrorSuccess; ++i) {
                if (base::EqualsIgnoreCase(name, wanted)) stored = name;
            }
            std::printf("\n%s\n", Utf8FromWide(path).c_str());
            q.printValue(stored, type, data);
            ++q.matches;
        } else if (s == reg::kErrorFileNotFound && a.ve && top && !a.s) {
            // reg.exe shows a default value that was never set, and succeeds.
            std::printf("\n%s\n", Utf8FromWide(path).c_str());
            q.printValue(L"", reg::kRegSz, "", true);
        } else if (s != reg::kErrorSuccess && (s != reg::kErrorFileNotFound || !a.s)) {
            return s;
        }
    } else {
        bool headed = false;
        for (uint32_t i = 0; store.EnumValue(key, i, &name, &type, &data) == reg::kErrorSuccess; ++i) {
            if (!q.typeWanted(type)) continue;
            if (!headed) std::printf("\n%s\n", Utf8FromWide(path).c_str());
            headed = true;
            q.printValue(name, type, data);
            ++q.matches;
        }
        if (!headed && a.s) std::printf("\n%s\n", Utf8FromWide(path).c_str());
    }
    const std::vector<std::wstring> children = Children(store, key);
    if (!a.s) {
        if (!a.hasV && !a.ve && !children.empty()) {
            std::puts("");
            for (const auto& child : children) std::printf("%s\\%s\n", Utf8FromWide(path).c_str(), Utf8FromWide(child).c_str());
        }
        return reg::kErrorSuccess;
    }
    for (const auto& child : children) {
        Handle sub{store};
        if (uint32_t s = store.OpenKey(key, child, reg::kKeyRead, &sub.key); s != reg::kErrorSuccess) return s;
        if (uint32_t s = ListKey(store, sub.key, q, false); s != reg::kErrorSuccess) return s;
    }
    return reg::kErrorSuccess;
}

// /f: the values whose names or data match under their key's path, and the subkeys whose
// names match; with /s the whole tree below.
uint32_t SearchKey(reg::RegistryStore& store, reg::RegKeyHandle key, Query& q) {
    std::wstring path;
    if (uint32_t s = store.KeyPath(key, &path); s != reg::kErrorSuccess) return s;
    std::wstring name;
    uint32_t type = 0;
    std::string data;
    bool headed = false;
    for (uint32_t i = 0; store.EnumValue(key, i, &name, &type, &data) == reg::kErrorSuccess; ++i) {
        if (!q.typeWanted(type)) continue;
        const bool hit = (q.searchNames() && q.found(name.empty() ? L"(Default)" : name)) ||
                         (q.searchData() && q.found(WideFromUtf8(q.shown(type, data))));
        if (!hit) continue;
        if (!headed) std::printf("\n%s\n", Utf8FromWide(path).c_str());
        headed = true;
        q.printValue(name, type, data);
        ++q.matches;
    }
    for (const auto& child : Children(store, key)) {
        if (q.searchKeys() && q.found(child)) {
            std::printf("\n%s\\%s\n", Utf8FromWide(path).c_str(), Utf8FromWide(child).c_str());
            ++q.matches;
        }
        if (!q.a.s) continue;
        Handle sub{store};
        if (uint32_t s = store.OpenKey(key, child, reg::kKeyRead, &sub.key); s != reg::kErrorSuccess) return s;
        if (uint32_t s = SearchKey(store, sub.key, q); s != reg::kErrorSuccess) return s;
    }
    return reg::kErrorSuccess;
}

int RunQuery(const Args& a) {
    if (a.positional.size() != 1) return Fail(1, "reg query: exactly one KEY is needed (see --help)");
    KeyName name;
    std::string error;
    if (!ParseKeyName(a.positional[0], &name, &error)) return Fail(1, "reg query: " + error);
    Query q{a, {}, 0};
    if (a.hasT) {
        const std::string list = Utf8FromWide(a.t);
        for (size_t start = 0; start <= list.size();) {
            const size_t comma = std::min(list.find(',', start), list.size());
            uint32_t type = 0;
            if (!NameToType(list.substr(start, comma - start), &type)) {
                return Fail(1, "reg query: ERROR: Invalid syntax. Specify a valid registry type: '" +
                                   list.substr(start, comma - start) + "'");
            }
            q.types.push_back(type);
            start = comma + 1;
        }
    }
    auto store = StoreFor(a);
    Handle key{*store};
    uint32_t status = store->OpenKey(name.root, name.path, reg::kKeyRead, &key.key);
    if (status != reg::kErrorSuccess) return RegFail(status);
    status = a.search ? SearchKey(*store, key.key, q) : ListKey(*store, key.key, q, true);
    if (status != reg::kErrorSuccess) return RegFail(status);
    if (a.search) std::printf("End of search: %d match(es) found.\n", q.matches);
    std::puts("");
    return 0;
}

// ---- export / import ----

// Appends key and everything below it, depth first, in the store's enumeration order.
uint32_t CollectKey(reg::RegistryStore& store, reg::RegKeyHandle key, std::vector<RegFileKey>* out) {
    RegFileKey block;
    if (uint32_t s = store.KeyPath(key, &block.path); s != reg::kErrorSuccess) return s;
    RegFileValue value;
    for (uint32_t i = 0; store.EnumValue(key, i, &value.name, &value.type, &value.data) == reg::kErrorSuccess; ++i) {
        block.values.push_back(value);
    }
    out->push_back(std::move(block));
    std::wstring name;
    std::vector<std::wstring> children;
    for (uint32_t i = 0; store.EnumKey(key, i, &name, nullptr) == reg::kErrorSuccess; ++i) children.push_back(name);
    for (const auto& child : children) {
        Handle sub{store};
        if (uint32_t s = store.OpenKey(key, child, reg::kKeyRead, &sub.key); s != reg::kErrorSuccess) return s;
        if (uint32_t s = CollectKey(store, sub.key, out); s != reg::kErrorSuccess) return s;
    }
    return reg::kErrorSuccess;
}

int RunExport(const Args& a) {
    if (a.positional.size() != 2) return Fail(1, "reg export: KEY and FILE are needed (see --help)");
    KeyName name;
    std::string error;
    if (!ParseKeyName(a.positional[0], &name, &error)) return Fail(1, "reg export: " + error);
    const std::string file = Utf8FromWide(a.positional[1]);
    auto store = StoreFor(a);
    Handle key{*store};
    uint32_t status = store->OpenKey(name.root, name.path, reg::kKeyRead, &key.key);
    if (status != reg::kErrorSuccess) return RegFail(status);
    std::vector<RegFileKey> keys;
    status = CollectKey(*store, key.key, &keys);
    if (status != reg::kErrorSuccess) return RegFail(status);
    std::string bytes;
    if (!WriteRegFile(keys, &bytes, &error)) return Fail(1, "reg export: " + error);
    if (!a.y && std::ifstream(file).good() && !Confirm("File " + file + " already exists. Overwrite")) return 1;
    // Write beside the target and rename, so a failed export never leaves half a file.
    const std::string temp = file + ".tmp";
    {
        std::ofstream out(temp, std::ios::binary | std::ios::trunc);
        out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
        if (!out.good()) {
            std::remove(temp.c_str());
            return Fail(1, "reg export: cannot write " + file);
        }
    }
    if (std::rename(temp.c_str(), file.c_str()) != 0) {
        std::remove(temp.c_str());
        return Fail(1, "reg export: cannot write " + file);
    }
    std::puts("The operation completed successfully.");
    return 0;
}

// One key block of an import, applied through the store; on failure, *where names the
// line of the block or value that was refused.
uint32_t ImportKey(reg::RegistryStore& store, const RegFileKey& block, const KeyName& name, size_t* where) {
    *where = block.line;
    if (block.remove) {
        const uint32_t status = store.DeleteTree(name.root, name.path);
        return status == reg::kErrorFileNotFound ? reg::kErrorSuccess : status;  // gone is fine
    }
    Handle key{store};
    if (uint32_t s = store.CreateKey(name.root, name.path, 0, reg::kKeyAllAccess, &key.key, nullptr);
        s != reg::kErrorSuccess) {
        return s;
    }
    for (const RegFileValue& v : block.values) {
        *where = v.line;
        uint32_t status;
        if (v.remove) {
            status = store.DeleteValue(key.key, v.name);
            if (status == reg::kErrorFileNotFound) status = reg::kErrorSuccess;
        } else {
            status = store.SetValue(key.key, v.name, v.type, reinterpret_cast<const uint8_t*>(v.data.data()),
                                    static_cast<uint32_t>(v.data.size()));
        }
        if (status != reg::kErrorSuccess) return status;
    }
    return reg::kErrorSuccess;
}

int RunImport(const Args& a) {
    if (a.positional.size() != 1) return Fail(1, "reg import: exactly one FILE is needed (see --help)");
    const std::string file = Utf8FromWide(a.positional[0]);
    std::string raw;
    switch (base::ReadRegularFile(file, kMaxRegFileBytes, raw)) {
    case base::FileReadResult::Read: break;
    case base::FileReadResult::CannotOpen: return Fail(1, "reg import: cannot read " + file);
    case base::FileReadResult::Folder: return Fail(1, "reg import: " + file + " is a folder, not a registry file");
    case base::FileReadResult::NotRegularFile: return Fail(1, "reg import: " + file + " is not a regular file");
    case base::FileReadResult::TooLarge: return Fail(1, "reg import: " + file + " is larger than 64 MiB");
    }
    std::vector<RegFileKey> keys;
    RegFileError bad;
    if (!ParseRegFile(raw, &keys, &bad)) {
        return Fail(1, "reg import: " + file + ":" + std::to_string(bad.line) + ": " + bad.reason);
    }
    // Every key path was checked while parsing, so the file is whole before anything is written.
    std::vector<KeyName> names(keys.size());
    for (size_t i = 0; i < keys.size(); ++i) {
        std::string error;
        if (!ParseKeyName(keys[i].path, &names[i], &error)) return Fail(1, "reg import: " + error);
    }
    // One transaction: the file lands whole or not at all, also when the process is killed
    // or the disk fills up half way.
    auto store = StoreFor(a);
    size_t where = 0;
    const uint32_t status = store->RunAtomically([&] {
        for (size_t i = 0; i < keys.size(); ++i) {
            if (uint32_t s = ImportKey(*store, keys[i], names[i], &where); s != reg::kErrorSuccess) return s;
        }
        where = 0;  // a failure from here on is the store's, not a line's
        return reg::kErrorSuccess;
    });
    if (status != reg::kErrorSuccess) {
        const std::string at = where != 0 ? file + ":" + std::to_string(where) + ": " : "";
        return Fail(1, "reg import: " + at + "ERROR: " + ErrorText(status) + " Nothing was imported.");
    }
    std::puts("The operation completed successfully.");
    return 0;
}

int RunReg(const std::vector<std::string>& args) {
    if (args.empty()) return Fail(1, std::string("reg: an operation is needed\n") + kUsage);
    // reg.exe takes /? anywhere, after the operation too; and so do /h, -h, -H and --help.
    const bool help = WantsHelp(args) || std::any_of(args.begin(), args.end(), [](const std::string& arg) {
        return arg == "/?" || arg == "-?" || Upper(arg) == "/H" || Upper(arg) == "-H";
    });
    if (help) {
        std::puts(kUsage);
        return 0;
    }
    const std::string op = Upper(args[0]);
    if (op != "ADD" && op != "QUERY" && op != "DELETE" && op != "EXPORT" && op != "IMPORT") {
        return Fail(1, "reg: unknown operation '" + args[0] + "' (add, query, delete, export, import)");
    }
    Args a;
    std::string error;
    if (!ParseArgs(std::vector<std::string>(args.begin() + 1, args.end()), op, &a, &error)) {
        std::fprintf(stderr, "ERROR: Invalid syntax. %s\nType \"REG %s /?\" for usage.\n", error.c_str(), op.c_str());
        return 1;
    }
    if (op == "ADD") return RunAdd(a);
    if (op == "QUERY") return RunQuery(a);
    if (op == "DELETE") return RunDelete(a);
    if (op == "EXPORT") return RunExport(a);
    return RunImport(a);
}

}  // namespace

GP_REGISTER_COMMAND(reg, "reg", "add, query, delete, export and import registry keys and values", RunReg);

}  // namespace glimmerpane::cli
