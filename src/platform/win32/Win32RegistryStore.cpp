// Win32RegistryStore.cpp (Windows side) - the platform registry over the Win32 registry calls.
//
// Handles are real HKEYs. Windows reports its own codes, so this file mostly passes them on.
// RegDeleteKeyExW is looked up once in Advapi32.dll: older systems lack it.
//
// The store honours the folder it is opened for, as the POSIX one does: the system registry
// belongs to the machine's own prefix (%ProgramData%\Glimmerpane\registry, no
// GLIMMERPANE_PREFIX); any other folder gets a registry of its own, whose two hive roots
// are the keys HKEY_CURRENT_USER\Software\Glimmerpane\Registries\<hash of the folder>
// \HKEY_LOCAL_MACHINE and ...\HKEY_CURRENT_USER. The predefined handles given to such a store
// stand for those keys, so tests and other prefixes never see each other's keys or the
// machine's. The keys outlive the store (another process may open the same folder, as the
// reg command does); deleting the folder does not delete them.
//
// KeyPath: Windows keeps no path with a handle that a documented call returns, so the
// store remembers the path of every key it opened, in the spelling the caller used.
#include <windows.h>
#include <aclapi.h>

#include <cwctype>
#include <map>
#include <mutex>
#include <vector>

#include "platform/Prefix.h"
#include "platform/Registry.h"
#include "platform/RegistryProbe.h"

namespace glimmerpane::platform {

namespace {

HKEY H(RegKeyHandle key) { return reinterpret_cast<HKEY>(key); }
RegKeyHandle R(HKEY key) { return reinterpret_cast<RegKeyHandle>(key); }
std::wstring Z(std::wstring_view s) { return std::wstring(s); }

using RegDeleteKeyExWFn = LSTATUS(WINAPI*)(HKEY, LPCWSTR, REGSAM, DWORD);

RegDeleteKeyExWFn DeleteKeyEx() {
    static RegDeleteKeyExWFn function = nullptr;
    static std::once_flag once;
    std::call_once(once, [] {
        if (HMODULE advapi = GetModuleHandleW(L"Advapi32.dll")) {
            function = reinterpret_cast<RegDeleteKeyExWFn>(reinterpret_cast<void (*)()>(GetProcAddress(advapi, "RegDeleteKeyExW")));
        }
    });
    return function;
}

RegFileTime FromFileTime(const FILETIME& t) {
    return (static_cast<RegFileTime>(t.dwHighDateTime) << 32) | t.dwLowDateTime;
}

// "Software\\X" from "Software\\X\\" and "Software\\\\X": the path as the registry reads it.
std::wstring Joined(const std::wstring& parent, std::wstring_view subKey) {
    std::wstring path = parent;
    size_t at = 0;
    while (at < subKey.size()) {
        size_t end = subKey.find(L'\\', at);
        if (end == std::wstring_view::npos) end = subKey.size();
        if (end > at) {
            if (!path.empty()) path += L'\\';
            path.append(subKey.substr(at, end - at));
        }
        at = end + 1;
    }
    return path;
}

// The contract refuses an empty path component or a leading "\\" (161); the system
// accepts some of them.
bool BadPath(std::wstring_view subKey) {
    if (!subKey.empty() && subKey.front() == L'\\') return true;
    return subKey.find(L"\\\\") != std::wstring_view::npos;
}

struct KeyRecord {
    std::wstring path;
    uint32_t access = 0;
};

class Win32RegistryStore final : public RegistryStore {
public:
    // machine and user are the keys that stand for the two hives (null: the system's own).
    Win32RegistryStore(HKEY machine, HKEY user) : machine_(machine), user_(user) {}
    ~Win32RegistryStore() override {
        if (machine_) RegCloseKey(machine_);
        if (user_) RegCloseKey(user_);
    }

    uint32_t OpenKey(RegKeyHandle key, std::wstring_view subKey, uint32_t access, RegKeyHandle* result) override {
        *result = nullptr;
        if (BadPath(subKey)) return ERROR_BAD_PATHNAME;
        HKEY opened = nullptr;
        const LSTATUS s = RegOpenKeyExW(Real(key), Z(subKey).c_str(), 0, access, &opened);
        *result = s == ERROR_SUCCESS ? R(opened) : nullptr;
        if (s == ERROR_SUCCESS) Remember(opened, key, subKey, access);
        return static_cast<uint32_t>(s);
    }
    uint32_t CreateKey(RegKeyHandle key, std::wstring_view subKey, uint32_t options, uint32_t access,
                       RegKeyHandle* result, uint32_t* disposition) override {
        *result = nullptr;
        if (BadPath(subKey)) return ERROR_BAD_PATHNAME;
        // The system does not check the parent's rights in every implementation (Wine does
        // not); the contract does.
        if (!Allows(key, KEY_CREATE_SUB_KEY)) return ERROR_ACCESS_DENIED;
        HKEY created = nullptr;
        DWORD how = 0;
        const LSTATUS s = RegCreateKeyExW(Real(key), Z(subKey).c_str(), 0, nullptr, options, access, nullptr, &created, &how);
        *result = s == ERROR_SUCCESS ? R(created) : nullptr;
        if (disposition) *disposition = how;
        if (s == ERROR_SUCCESS) Remember(created, key, subKey, access);
        return static_cast<uint32_t>(s);
    }
    uint32_t CloseKey(RegKeyHandle key) override {
        if (IsPredefinedKey(key)) return ERROR_SUCCESS;
        const LSTATUS s = RegCloseKey(H(key));
        if (s == ERROR_SUCCESS) {
            std::lock_guard lock(pathsMutex_);
            paths_.erase(H(key));
        }
        return static_cast<uint32_t>(s);
    }
    uint32_t DeleteKey(RegKeyHandle key, std::wstring_view subKey, uint32_t viewFlags) override {
        if (IsPredefinedKey(key) && subKey.empty()) return ERROR_ACCESS_DENIED;
        if (RegDeleteKeyExWFn ex = DeleteKeyEx()) return static_cast<uint32_t>(ex(Real(key), Z(subKey).c_str(), viewFlags, 0));
        return static_cast<uint32_t>(RegDeleteKeyW(Real(key), Z(subKey).c_str()));
    }
    uint32_t DeleteTree(RegKeyHandle key, std::wstring_view subKey) override {
        if (IsPredefinedKey(key) && subKey.empty()) return ERROR_ACCESS_DENIED;
        // RegDeleteTreeW deletes a named subkey itself; with no name it leaves the key, so
        // the key is deleted after its contents.
        LSTATUS s = RegDeleteTreeW(Real(key), subKey.empty() ? nullptr : Z(subKey).c_str());
        if (s == ERROR_SUCCESS && subKey.empty()) s = RegDeleteKeyW(Real(key), L"");
        return static_cast<uint32_t>(s);
    }
    uint32_t QueryValue(RegKeyHandle key, std::wstring_view name, uint32_t* type, uint8_t* data, uint32_t* size) override {
        DWORD t = 0, n = size ? *size : 0;
        const LSTATUS s = RegQueryValueExW(Real(key), Z(name).c_str(), nullptr, &t, data, size ? &n : nullptr);
        // A missing value leaves the caller's type and size as they were.
        if (s == ERROR_SUCCESS || s == ERROR_MORE_DATA) {
            if (type) *type = t;
            if (size) *size = n;
        }
        return static_cast<uint32_t>(s);
    }
    void ReadDwordValues(const RegDwordLocation* locations, size_t count, uint32_t* values,
                         uint32_t* statuses) override {
        // RegGetValueW opens, queries and closes in one call and refuses other types itself.
        for (size_t i = 0; i < count; ++i) {
            DWORD value = 0, size = sizeof value;
            LSTATUS s = RegGetValueW(Real(locations[i].root), locations[i].keyPath.c_str(), locations[i].valueName.c_str(),
                                     RRF_RT_REG_DWORD | RRF_NOEXPAND, nullptr, &value, &size);
            if (s == ERROR_UNSUPPORTED_TYPE || s == ERROR_MORE_DATA) s = ERROR_INVALID_DATA;
            if (s == ERROR_SUCCESS) values[i] = value;
            statuses[i] = static_cast<uint32_t>(s);
        }
    }
    uint32_t SetValue(RegKeyHandle key, std::wstring_view name, uint32_t type, const uint8_t* data, uint32_t size) override {
        if (!Allows(key, KEY_SET_VALUE)) return ERROR_ACCESS_DENIED;
        return static_cast<uint32_t>(RegSetValueExW(Real(key), Z(name).c_str(), 0, type, data, size));
    }
    uint32_t DeleteValue(RegKeyHandle key, std::wstring_view name) override {
        if (!Allows(key, KEY_SET_VALUE)) return ERROR_ACCESS_DENIED;
        return static_cast<uint32_t>(RegDeleteValueW(Real(key), Z(name).c_str()));
    }
    uint32_t EnumKey(RegKeyHandle key, uint32_t index, std::wstring* name, RegFileTime* lastWrite) override {
        wchar_t buffer[256];
        DWORD chars = 256;
        FILETIME time{};
        const LSTATUS s = RegEnumKeyExW(Real(key), index, buffer, &chars, nullptr, nullptr, nullptr, &time);
        if (s == ERROR_SUCCESS) {
            if (name) name->assign(buffer, chars);
            if (lastWrite) *lastWrite = FromFileTime(time);
        }
        return static_cast<uint32_t>(s);
    }
    uint32_t EnumValue(RegKeyHandle key, uint32_t index, std::wstring* name, uint32_t* type, std::string* data) override {
        DWORD maxName = 0, maxData = 0;
        LSTATUS s = RegQueryInfoKeyW(Real(key), nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, &maxName,
                                     &maxData, nullptr, nullptr);
        if (s != ERROR_SUCCESS) return static_cast<uint32_t>(s);
        std::vector<wchar_t> nameBuffer(maxName + 1);
        std::string dataBuffer(maxData, '\0');
        DWORD chars = maxName + 1, bytes = maxData, t = 0;
        s = RegEnumValueW(Real(key), index, nameBuffer.data(), &chars, nullptr, &t,
                          reinterpret_cast<BYTE*>(dataBuffer.data()), &bytes);
        if (s == ERROR_SUCCESS) {
            if (name) name->assign(nameBuffer.data(), chars);
            if (type) *type = t;
            if (data) data->assign(dataBuffer.data(), bytes);
        }
        return static_cast<uint32_t>(s);
    }
    uint32_t QueryInfoKey(RegKeyHandle key, RegKeyInfo* info) override {
        DWORD subKeys = 0, maxSub = 0, values = 0, maxName = 0, maxData = 0;
        FILETIME time{};
        const LSTATUS s = RegQueryInfoKeyW(Real(key), nullptr, nullptr, nullptr, &subKeys, &maxSub, nullptr, &values,
                                           &maxName, &maxData, nullptr, &time);
        if (s == ERROR_SUCCESS) *info = RegKeyInfo{subKeys, maxSub, values, maxName, maxData, FromFileTime(time)};
        return static_cast<uint32_t>(s);
    }
    uint32_t KeyPath(RegKeyHandle key, std::wstring* path) override {
        if (path == nullptr) return ERROR_INVALID_PARAMETER;
        if (IsPredefinedKey(key)) {
            *path = std::wstring(PredefinedKeyName(key));
            return ERROR_SUCCESS;
        }
        std::lock_guard lock(pathsMutex_);
        const auto it = paths_.find(H(key));
        if (it == paths_.end()) return ERROR_INVALID_HANDLE;
        *path = Spelled(it->second.path);
        return ERROR_SUCCESS;
    }
    uint32_t FlushKey(RegKeyHandle key) override { return static_cast<uint32_t>(RegFlushKey(Real(key))); }
    uint32_t GetKeySecurity(RegKeyHandle key, uint32_t information, void* descriptor, uint32_t* size) override {
        DWORD n = *size;
        const LSTATUS s = RegGetKeySecurity(Real(key), information, descriptor, &n);
        *size = n;
        return static_cast<uint32_t>(s);
    }
    uint32_t SetKeySecurity(RegKeyHandle key, uint32_t information, void* descriptor) override {
        return static_cast<uint32_t>(RegSetKeySecurity(Real(key), information, descriptor));
    }
    uint32_t GrantEveryoneFullAccess(RegKeyHandle key) override {
        PACL oldDacl = nullptr;
        PSECURITY_DESCRIPTOR descriptor = nullptr;
        DWORD s = GetSecurityInfo(Real(key), SE_REGISTRY_KEY, DACL_SECURITY_INFORMATION, nullptr, nullptr, &oldDacl,
                                  nullptr, &descriptor);
        if (s != ERROR_SUCCESS) return s;
        SID_IDENTIFIER_AUTHORITY world = SECURITY_WORLD_SID_AUTHORITY;
        PSID everyone = nullptr;
        if (!AllocateAndInitializeSid(&world, 1, SECURITY_WORLD_RID, 0, 0, 0, 0, 0, 0, 0, &everyone)) {
            LocalFree(descriptor);
            return GetLastError();
        }
        EXPLICIT_ACCESSW entry{};
        entry.grfAccessPermissions = GENERIC_ALL;
        entry.grfAccessMode = SET_ACCESS;
        entry.grfInheritance = SUB_CONTAINERS_AND_OBJECTS_INHERIT;
        entry.Trustee.TrusteeForm = TRUSTEE_IS_SID;
        entry.Trustee.TrusteeType = TRUSTEE_IS_WELL_KNOWN_GROUP;
        entry.Trustee.ptstrName = static_cast<LPWSTR>(everyone);
        PACL newDacl = nullptr;
        s = SetEntriesInAclW(1, &entry, oldDacl, &newDacl);
        if (s == ERROR_SUCCESS) {
            SECURITY_DESCRIPTOR absolute;
            if (InitializeSecurityDescriptor(&absolute, SECURITY_DESCRIPTOR_REVISION) &&
                SetSecurityDescriptorDacl(&absolute, TRUE, newDacl, FALSE)) {
                s = static_cast<DWORD>(RegSetKeySecurity(Real(key), DACL_SECURITY_INFORMATION, &absolute));
            } else {
                s = GetLastError();
            }
            LocalFree(newDacl);
        }
        FreeSid(everyone);
        LocalFree(descriptor);
        return s;
    }
    uint32_t NotifyChange(RegKeyHandle key, bool watchSubtree, uint32_t filter, void* event, bool asynchronous) override {
        return static_cast<uint32_t>(RegNotifyChangeKeyValue(Real(key), watchSubtree, filter, static_cast<HANDLE>(event),
                                                             asynchronous));
    }
    // See the header: the Win32 registry applies each change as it comes.
    uint32_t RunAtomically(const std::function<uint32_t()>& body) override { return body(); }

private:
    HKEY Real(RegKeyHandle key) const {
        if (key == HkeyLocalMachine() && machine_) return machine_;
        if (key == HkeyCurrentUser() && user_) return user_;
        return H(key);
    }
    void Remember(HKEY opened, RegKeyHandle parent, std::wstring_view subKey, uint32_t access) {
        std::wstring base;
        if (IsPredefinedKey(parent)) {
            base = std::wstring(PredefinedKeyName(parent));
        } else {
            std::lock_guard lock(pathsMutex_);
            const auto it = paths_.find(H(parent));
            if (it != paths_.end()) base = it->second.path;
        }
        std::lock_guard lock(pathsMutex_);
        paths_[opened] = KeyRecord{Joined(base, subKey), access};
    }
    // Keys this store did not open (handles of another store) are left to the system.
    bool Allows(RegKeyHandle key, uint32_t right) {
        if (IsPredefinedKey(key)) return true;
        std::lock_guard lock(pathsMutex_);
        const auto it = paths_.find(H(key));
        return it == paths_.end() || (it->second.access & right) == right;
    }
    // The path with each component in the spelling it was created with: the names as the
    // parent key enumerates them.
    std::wstring Spelled(const std::wstring& path) {
        const size_t firstCut = path.find(L'\\');
        if (firstCut == std::wstring::npos) return path;
        const std::wstring hive = path.substr(0, firstCut);
        HKEY current = Real(hive == L"HKEY_CURRENT_USER" ? HkeyCurrentUser() : HkeyLocalMachine());
        std::wstring out = hive;
        bool owned = false;
        size_t at = firstCut + 1;
        while (at <= path.size()) {
            size_t end = path.find(L'\\', at);
            if (end == std::wstring::npos) end = path.size();
            std::wstring part = path.substr(at, end - at);
            wchar_t name[256];
            for (DWORD index = 0;; ++index) {
                DWORD chars = 256;
                if (RegEnumKeyExW(current, index, name, &chars, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS) break;
                if (CompareStringOrdinal(name, static_cast<int>(chars), part.c_str(), static_cast<int>(part.size()), TRUE) ==
                    CSTR_EQUAL) {
                    part.assign(name, chars);
                    break;
                }
            }
            out += L'\\';
            out += part;
            HKEY next = nullptr;
            const LSTATUS s = RegOpenKeyExW(current, part.c_str(), 0, KEY_ENUMERATE_SUB_KEYS, &next);
            if (owned) RegCloseKey(current);
            if (s != ERROR_SUCCESS) {
                // The rest as the caller spelled it.
                if (end < path.size()) out += path.substr(end);
                return out;
            }
            current = next;
            owned = true;
            at = end + 1;
        }
        if (owned) RegCloseKey(current);
        return out;
    }

    HKEY machine_;
    HKEY user_;
    std::mutex pathsMutex_;
    std::map<HKEY, KeyRecord> paths_;
};

std::wstring Folded(const std::wstring& text) {
    std::wstring out = text;
    for (wchar_t& c : out) c = c == L'/' ? L'\\' : static_cast<wchar_t>(std::towlower(c));
    while (out.size() > 3 && out.back() == L'\\') out.pop_back();
    return out;
}

// The machine's own prefix: the one without GLIMMERPANE_PREFIX.
std::wstring SystemRegistryFolder() {
    wchar_t buffer[MAX_PATH];
    const DWORD n = GetEnvironmentVariableW(L"ProgramData", buffer, MAX_PATH);
    std::wstring folder = n > 0 && n < MAX_PATH ? std::wstring(buffer, n) : std::wstring(L"C:\\ProgramData");
    return folder + L"\\Glimmerpane\\registry";
}

uint32_t OpenRedirected(const std::wstring& folder, std::shared_ptr<RegistryStore>* store) {
    // FNV-1a of the folded folder: a key name of fixed length for any path.
    uint64_t hash = 14695981039346656037ull;
    for (const wchar_t c : Folded(folder)) {
        hash ^= static_cast<uint16_t>(c);
        hash *= 1099511628211ull;
    }
    wchar_t name[17];
    for (int i = 0; i < 16; ++i) name[i] = L"0123456789abcdef"[(hash >> (60 - 4 * i)) & 0xF];
    name[16] = L'\0';
    const std::wstring root = std::wstring(L"Software\\Glimmerpane\\Registries\\") + name;
    HKEY keys[2] = {};
    const wchar_t* hives[2] = {L"HKEY_LOCAL_MACHINE", L"HKEY_CURRENT_USER"};
    for (int i = 0; i < 2; ++i) {
        const LSTATUS s = RegCreateKeyExW(HKEY_CURRENT_USER, (root + L"\\" + hives[i]).c_str(), 0, nullptr, 0,
                                          KEY_ALL_ACCESS, nullptr, &keys[i], nullptr);
        if (s != ERROR_SUCCESS) {
            if (keys[0]) RegCloseKey(keys[0]);
            return static_cast<uint32_t>(s);
        }
    }
    HKEY rootKey = nullptr;
    if (RegOpenKeyExW(HKEY_CURRENT_USER, root.c_str(), 0, KEY_SET_VALUE, &rootKey) == ERROR_SUCCESS) {
        RegSetValueExW(rootKey, L"Folder", 0, REG_SZ, reinterpret_cast<const BYTE*>(folder.c_str()),
                       static_cast<DWORD>((folder.size() + 1) * sizeof(wchar_t)));
        RegCloseKey(rootKey);
    }
    *store = std::make_shared<Win32RegistryStore>(keys[0], keys[1]);
    return 0;
}

// A store whose folder could not be given a registry: every call answers that error.
class UnusableStore final : public RegistryStore {
public:
    explicit UnusableStore(uint32_t error) : error_(error) {}
    uint32_t OpenKey(RegKeyHandle, std::wstring_view, uint32_t, RegKeyHandle* r) override { *r = nullptr; return error_; }
    uint32_t CreateKey(RegKeyHandle, std::wstring_view, uint32_t, uint32_t, RegKeyHandle* r, uint32_t*) override {
        *r = nullptr;
        return error_;
    }
    uint32_t CloseKey(RegKeyHandle) override { return error_; }
    uint32_t DeleteKey(RegKeyHandle, std::wstring_view, uint32_t) override { return error_; }
    uint32_t DeleteTree(RegKeyHandle, std::wstring_view) override { return error_; }
    uint32_t QueryValue(RegKeyHandle, std::wstring_view, uint32_t*, uint8_t*, uint32_t*) override { return error_; }
    uint32_t SetValue(RegKeyHandle, std::wstring_view, uint32_t, const uint8_t*, uint32_t) override { return error_; }
    uint32_t DeleteValue(RegKeyHandle, std::wstring_view) override { return error_; }
    uint32_t EnumKey(RegKeyHandle, uint32_t, std::wstring*, RegFileTime*) override { return error_; }
    uint32_t EnumValue(RegKeyHandle, uint32_t, std::wstring*, uint32_t*, std::string*) override { return error_; }
    uint32_t QueryInfoKey(RegKeyHandle, RegKeyInfo*) override { return error_; }
    uint32_t KeyPath(RegKeyHandle, std::wstring*) override { return error_; }
    uint32_t FlushKey(RegKeyHandle) override { return error_; }
    uint32_t GetKeySecurity(RegKeyHandle, uint32_t, void*, uint32_t*) override { return error_; }
    uint32_t SetKeySecurity(RegKeyHandle, uint32_t, void*) override { return error_; }
    uint32_t GrantEveryoneFullAccess(RegKeyHandle) override { return error_; }
    uint32_t NotifyChange(RegKeyHandle, bool, uint32_t, void*, bool) override { return error_; }
    uint32_t RunAtomically(const std::function<uint32_t()>&) override { return error_; }

private:
    uint32_t error_;
};

std::shared_ptr<RegistryStore> SystemStore() {
    static const auto store = std::make_shared<Win32RegistryStore>(nullptr, nullptr);
    return store;
}

}  // namespace

RegKeyHandle HkeyLocalMachine() { return R(HKEY_LOCAL_MACHINE); }
RegKeyHandle HkeyCurrentUser() { return R(HKEY_CURRENT_USER); }
bool IsPredefinedKey(RegKeyHandle key) { return key == HkeyLocalMachine() || key == HkeyCurrentUser(); }

std::wstring_view PredefinedKeyName(RegKeyHandle key) {
    if (key == HkeyLocalMachine()) return L"HKEY_LOCAL_MACHINE";
    if (key == HkeyCurrentUser()) return L"HKEY_CURRENT_USER";
    return {};
}

// The prefix is read at every call, as on POSIX: a process that sets GLIMMERPANE_PREFIX
// later gets the store of the new prefix; each folder keeps one store.
std::shared_ptr<RegistryStore> DefaultRegistryStore() {
    static std::mutex* mutex = new std::mutex();
    static auto* stores = new std::map<std::wstring, std::shared_ptr<RegistryStore>>();
    const std::wstring folder = Folded(PrefixPath(L"registry"));
    std::lock_guard lock(*mutex);
    auto& store = (*stores)[folder];
    if (!store) store = OpenRegistryStore(PrefixPath(L"registry"));
    return store;
}

std::shared_ptr<RegistryStore> OpenRegistryStore(const std::wstring& folder, const RegistryStoreOptions&) {
    if (folder.empty() || Folded(folder) == Folded(SystemRegistryFolder())) return SystemStore();
    std::shared_ptr<RegistryStore> store;
    if (const uint32_t status = OpenRedirected(folder, &store); status != 0)
        return std::make_shared<UnusableStore>(status);
    return store;
}

std::string RegistryEngineKey(RegKeyHandle, std::wstring_view, std::wstring_view) { return {}; }
uint32_t RegistryEngineRead(const std::wstring&, const std::string&, uint32_t*) { return ERROR_NOT_SUPPORTED; }

}  // namespace glimmerpane::platform
