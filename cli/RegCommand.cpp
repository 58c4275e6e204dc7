// RegCommand.cpp - `glimmerpane reg add|query|delete|export|import` over the prefix's registry.
//
// The argument syntax is reg.exe's (/v /ve /va /t /s /d /f /y) and the files are regedit's
// "Windows Registry Editor Version 5.00" format: written as UTF-16LE with a byte-order mark,
// read as UTF-16LE (with mark) or UTF-8. An import is parsed completely before anything is
// written and then applied in one store transaction, so a file with an error, a value the
// store refuses or a killed import changes nothing. Exit codes: 0 success, 1 the operation
// failed or was declined, 2 bad arguments or a bad file. The file format itself lives in
// RegFile.h; this file walks the registry for it.
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
    "  query  KEY [/v NAME | /ve] [/s]\n"
    "  delete KEY [/v NAME | /ve | /va] [/f]\n"
    "  export KEY FILE [/y]\n"
    "  import FILE\n"
    "\n"
    "KEY is HKLM\\path or HKCU\\path (HKEY_LOCAL_MACHINE, HKEY_CURRENT_USER spelled out also work).\n"
    "TYPE is REG_SZ (default), REG_EXPAND_SZ, REG_MULTI_SZ, REG_DWORD, REG_QWORD, REG_BINARY or REG_NONE.\n"
    "REG_MULTI_SZ data separates strings with \\0 (or the /s character); REG_DWORD and REG_QWORD\n"
    "take decimal or 0x-hex numbers; REG_BINARY takes hex digits.\n"
    "/f adds or deletes without asking; /y overwrites an export file without asking.\n"
    "The registry is the one under --prefix DIR, else under $GLIMMERPANE_PREFIX or the default prefix.\n"
    "Files are written as UTF-16LE with a byte-order mark, as regedit writes them.";

struct TypeName {
    uint32_t type;
    const char* name;
};
constexpr TypeName kTypes[] = {
    {reg::kRegNone, "REG_NONE"},       {reg::kRegSz, "REG_SZ"},           {reg::kRegExpandSz, "REG_EXPAND_SZ"},
    {reg::kRegBinary, "REG_BINARY"},   {reg::kRegDword, "REG_DWORD"},     {reg::kRegDwordBigEndian, "REG_DWORD_BIG_ENDIAN"},
    {reg::kRegLink, "REG_LINK"},       {reg::kRegMultiSz, "REG_MULTI_SZ"}, {reg::kRegResourceList, "REG_RESOURCE_LIST"},
    {9, "REG_FULL_RESOURCE_DESCRIPTOR"}, {10, "REG_RESOURCE_REQUIREMENTS_LIST"}, {reg::kRegQword, "REG_QWORD"},
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
};

bool ParseArgs(const std::vector<std::string>& raw, bool sTakesValue, Args* a, std::string* error) {
    for (size_t i = 0; i < raw.size(); ++i) {
        const std::string& arg = raw[i];
        auto next = [&](std::wstring* out) {
            if (i + 1 >= raw.size()) {
                *error = "option " + arg + " needs a value";
                return false;
            }
            *out = WideFromUtf8(raw[++i]);
            return true;
        };
        const std::string lower = Upper(arg);
        if (arg == "--prefix") {
            std::wstring p;
            if (!next(&p)) return false;
            a->prefix = Utf8FromWide(p);
        } else if (lower == "/V" || lower == "-V") {
            if (!next(&a->v)) return false;
            a->hasV = true;
        } else if (lower == "/VE" || lower == "-VE") a->ve = true;
        else if (lower == "/VA" || lower == "-VA") a->va = true;
        else if (lower == "/F" || lower == "-F") a->f = true;
        else if (lower == "/Y" || lower == "-Y") a->y = true;
        else if (lower == "/T" || lower == "-T") {
            if (!next(&a->t)) return false;
            a->hasT = true;
        } else if (lower == "/D" || lower == "-D") {
            if (!next(&a->d)) return false;
            a->hasD = true;
        } else if (lower == "/S" || lower == "-S") {
            if (sTakesValue) {
                if (!next(&a->sep)) return false;
            }
            a->s = true;
        } else if (!arg.empty() && arg[0] == '/' && arg.size() <= 3) {
            *error = "unknown option '" + arg + "'";
            return false;
        } else {
            a->positional.push_back(WideFromUtf8(arg));
        }
    }
    if (a->hasV + a->ve + a->va > 1) {
        *error = "/v, /ve and /va exclude each other";
        return false;
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
    if (a.positional.size() != 1) return Fail(2, "reg add: exactly one KEY is needed (see --help)");
    KeyName name;
    std::string error;
    if (!ParseKeyName(a.positional[0], &name, &error)) return Fail(2, "reg add: " + error);
    uint32_t type = reg::kRegSz;
    if (a.hasT && !NameToType(Utf8FromWide(a.t), &type)) return Fail(2, "reg add: unknown type '" + Utf8FromWide(a.t) + "'");
    if (a.s && (type != reg::kRegMultiSz || a.sep.size() != 1)) {
        return Fail(2, "reg add: /s takes one character and only goes with REG_MULTI_SZ");
    }
    if (a.va) return Fail(2, "reg add: /va is not an add option");
    std::string bytes;
    if (!EncodeData(type, a.d, a.hasD, a.s ? a.sep[0] : 0, &bytes, &error)) return Fail(2, "reg add: " + error);
    auto store = StoreFor(a);
    Handle key{*store};
    uint32_t status = store->CreateKey(name.root, name.path, 0, reg::kKeyAllAccess, &key.key, nullptr);
    if (status != reg::kErrorSuccess) return RegFail(status);
    if (a.hasV || a.ve || a.hasD || a.hasT) {
        const std::wstring valueName = a.hasV ? a.v : L"";
        if (!a.f && store->QueryValue(key.key, valueName, nullptr, nullptr, nullptr) == reg::kErrorSuccess &&
            !Confirm("Value " + (a.hasV ? Utf8FromWide(a.v) : std::string("(Default)")) + " exists, overwrite")) {
            std::puts("The operation was canceled by the user.");
            return 1;
        }
        status = store->SetValue(key.key, valueName, type, reinterpret_cast<const uint8_t*>(bytes.data()),
                                 static_cast<uint32_t>(bytes.size()));
        if (status != reg::kErrorSuccess) return RegFail(status);
    }
    std::puts("The operation completed successfully.");
    return 0;
}

int RunDelete(const Args& a) {
    if (a.positional.size() != 1) return Fail(2, "reg delete: exactly one KEY is needed (see --help)");
    KeyName name;
    std::string error;
    if (!ParseKeyName(a.positional[0], &name, &error)) return Fail(2, "reg delete: " + error);
    auto store = StoreFor(a);
    Handle key{*store};
    uint32_t status = store->OpenKey(name.root, name.path, reg::kKeyAllAccess, &key.key);
    if (status != reg::kErrorSuccess) return RegFail(status);
    std::wstring full;
    store->KeyPath(key.key, &full);
    if (a.hasV || a.ve) {
        const std::wstring valueName = a.hasV ? a.v : L"";
        if (!a.f && !Confirm("Delete the registry value " + (a.hasV ? Utf8FromWide(a.v) : "(Default)"))) return 1;
        status = store->DeleteValue(key.key, valueName);
    } else if (a.va) {
        if (!a.f && !Confirm("Delete all values under the registry key " + Utf8FromWide(full))) return 1;
        std::wstring valueName;
        while (status == reg::kErrorSuccess && store->EnumValue(key.key, 0, &valueName, nullptr, nullptr) == reg::kErrorSuccess) {
            status = store->DeleteValue(key.key, valueName);
        }
    } else {
        if (name.path.empty()) return Fail(2, "reg delete: a hive root cannot be deleted");
        if (!a.f && !Confirm("Permanently delete the registry key " + Utf8FromWide(full))) return 1;
        status = store->DeleteTree(key.key, L"");
    }
    if (status != reg::kErrorSuccess) return RegFail(status);
    std::puts("The operation completed successfully.");
    return 0;
}

void PrintValue(const std::wstring& name, uint32_t type, const std::string& data) {
    std::printf("    %s    %s    %s\n", name.empty() ? "(Default)" : Utf8FromWide(name).c_str(), TypeToName(type).c_str(),
                DisplayData(type, data).c_str());
}

uint32_t QueryKey(reg::RegistryStore& store, reg::RegKeyHandle key, const Args& a, int* matches) {
    std::wstring path;
    if (uint32_t s = store.KeyPath(key, &path); s != reg::kErrorSuccess) return s;
    std::printf("\n%s\n", Utf8FromWide(path).c_str());
    std::wstring name;
    uint32_t type = 0;
    std::string data;
    if (a.hasV || a.ve) {
        uint32_t size = 0;
        const std::wstring wanted = a.hasV ? a.v : L"";
        uint32_t s = store.QueryValue(key, wanted, &type, nullptr, &size);
        if (s == reg::kErrorSuccess) {
            data.assign(size, '\0');
            s = store.QueryValue(key, wanted, &type, reinterpret_cast<uint8_t*>(data.data()), &size);
        }
        if (s == reg::kErrorSuccess) {
            // Show the stored spelling of the name.
            std::wstring stored = wanted;
            for (uint32_t i = 0; store.EnumValue(key, i, &name, nullptr, nullptr) == reg::kErrorSuccess; ++i) {
                if (Upper(Utf8FromWide(name)) == Upper(Utf8FromWide(wanted))) stored = name;
            }
            PrintValue(stored, type, data);
            ++*matches;
        } else if (s != reg::kErrorFileNotFound || !a.s) {
            return s;
        }
    } else {
        for (uint32_t i = 0; store.EnumValue(key, i, &name, &type, &data) == reg::kErrorSuccess; ++i) {
            PrintValue(name, type, data);
            ++*matches;
        }
    }
    std::vector<std::wstring> children;
    for (uint32_t i = 0; store.EnumKey(key, i, &name, nullptr) == reg::kErrorSuccess; ++i) children.push_back(name);
    if (!a.s) {
        if (!a.hasV && !a.ve) {
            if (!children.empty()) std::puts("");
            for (const auto& child : children) std::printf("%s\\%s\n", Utf8FromWide(path).c_str(), Utf8FromWide(child).c_str());
        }
        return reg::kErrorSuccess;
    }
    for (const auto& child : children) {
        Handle sub{store};
        if (uint32_t s = store.OpenKey(key, child, reg::kKeyRead, &sub.key); s != reg::kErrorSuccess) return s;
        if (uint32_t s = QueryKey(store, sub.key, a, matches); s != reg::kErrorSuccess) return s;
    }
    return reg::kErrorSuccess;
}

int RunQuery(const Args& a) {
    if (a.positional.size() != 1) return Fail(2, "reg query: exactly one KEY is needed (see --help)");
    KeyName name;
    std::string error;
    if (!ParseKeyName(a.positional[0], &name, &error)) return Fail(2, "reg query: " + error);
    auto store = StoreFor(a);
    Handle key{*store};
    uint32_t status = store->OpenKey(name.root, name.path, reg::kKeyRead, &key.key);
    if (status != reg::kErrorSuccess) return RegFail(status);
    int matches = 0;
    status = QueryKey(*store, key.key, a, &matches);
    if (status != reg::kErrorSuccess) return RegFail(status);
    if (a.s) std::printf("End of search: %d match(es) found.\n", matches);
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
    if (a.positional.size() != 2) return Fail(2, "reg export: KEY and FILE are needed (see --help)");
    KeyName name;
    std::string error;
    if (!ParseKeyName(a.positional[0], &name, &error)) return Fail(2, "reg export: " + error);
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
    if (a.positional.size() != 1) return Fail(2, "reg import: exactly one FILE is needed (see --help)");
    const std::string file = Utf8FromWide(a.positional[0]);
    std::string raw;
    switch (base::ReadRegularFile(file, kMaxRegFileBytes, raw)) {
    case base::FileReadResult::Read: break;
    case base::FileReadResult::CannotOpen: return Fail(2, "reg import: cannot read " + file);
    case base::FileReadResult::Folder: return Fail(2, "reg import: " + file + " is a folder, not a registry file");
    case base::FileReadResult::NotRegularFile: return Fail(2, "reg import: " + file + " is not a regular file");
    case base::FileReadResult::TooLarge: return Fail(2, "reg import: " + file + " is larger than 64 MiB");
    }
    std::vector<RegFileKey> keys;
    RegFileError bad;
    if (!ParseRegFile(raw, &keys, &bad)) {
        return Fail(2, "reg import: " + file + ":" + std::to_string(bad.line) + ": " + bad.reason);
    }
    // Every key path was checked while parsing, so the file is whole before anything is written.
    std::vector<KeyName> names(keys.size());
    for (size_t i = 0; i < keys.size(); ++i) {
        std::string error;
        if (!ParseKeyName(keys[i].path, &names[i], &error)) return Fail(2, "reg import: " + error);
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
    if (args.empty()) return Fail(2, std::string("reg: an operation is needed\n") + kUsage);
    if (WantsHelp(args) || args[0] == "/?") {
        std::puts(kUsage);
        return 0;
    }
    const std::string op = Upper(args[0]);
    Args a;
    std::string error;
    if (!ParseArgs(std::vector<std::string>(args.begin() + 1, args.end()), op == "ADD", &a, &error)) {
        return Fail(2, "reg " + args[0] + ": " + error);
    }
    if (op == "ADD") return RunAdd(a);
    if (op == "QUERY") return RunQuery(a);
    if (op == "DELETE") return RunDelete(a);
    if (op == "EXPORT") return RunExport(a);
    if (op == "IMPORT") return RunImport(a);
    return Fail(2, "reg: unknown operation '" + args[0] + "' (add, query, delete, export, import)");
}

}  // namespace

GP_REGISTER_COMMAND(reg, "reg", "add, query, delete, export and import registry keys and values", RunReg);

}  // namespace glimmerpane::cli
