// Win32RegistryStore.cpp (Windows side) - the platform registry over the Win32 registry calls.
//
// Handles are real HKEYs. Windows reports its own codes, so this file mostly passes them on.
// RegDeleteKeyExW is looked up once in Advapi32.dll: older systems lack it.
#include <windows.h>
#include <aclapi.h>

#include <mutex>
#include <vector>

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
            function = reinterpret_cast<RegDeleteKeyExWFn>(GetProcAddress(advapi, "RegDeleteKeyExW"));
        }
    });
    return function;
}

RegFileTime FromFileTime(const FILETIME& t) {
    return (static_cast<RegFileTime>(t.dwHighDateTime) << 32) | t.dwLowDateTime;
}

class Win32RegistryStore final : public RegistryStore {
public:
    uint32_t OpenKey(RegKeyHandle key, std::wstring_view subKey, uint32_t access, RegKeyHandle* result) override {
        HKEY opened = nullptr;
        const LSTATUS s = RegOpenKeyExW(H(key), Z(subKey).c_str(), 0, access, &opened);
        *result = s == ERROR_SUCCESS ? R(opened) : nullptr;
        return static_cast<uint32_t>(s);
    }
    uint32_t CreateKey(RegKeyHandle key, std::wstring_view subKey, uint32_t options, uint32_t access,
                       RegKeyHandle* result, uint32_t* disposition) override {
        HKEY created = nullptr;
        DWORD how = 0;
        const LSTATUS s = RegCreateKeyExW(H(key), Z(subKey).c_str(), 0, nullptr, options, access, nullptr, &created, &how);
        *result = s == ERROR_SUCCESS ? R(created) : nullptr;
        if (disposition) *disposition = how;
        return static_cast<uint32_t>(s);
    }
    uint32_t CloseKey(RegKeyHandle key) override {
        if (IsPredefinedKey(key)) return ERROR_SUCCESS;
        return static_cast<uint32_t>(RegCloseKey(H(key)));
    }
    uint32_t DeleteKey(RegKeyHandle key, std::wstring_view subKey, uint32_t viewFlags) override {
        if (RegDeleteKeyExWFn ex = DeleteKeyEx()) return static_cast<uint32_t>(ex(H(key), Z(subKey).c_str(), viewFlags, 0));
        return static_cast<uint32_t>(RegDeleteKeyW(H(key), Z(subKey).c_str()));
    }
    uint32_t DeleteTree(RegKeyHandle key, std::wstring_view subKey) override {
        LSTATUS s = RegDeleteTreeW(H(key), subKey.empty() ? nullptr : Z(subKey).c_str());
        if (s == ERROR_SUCCESS) s = RegDeleteKeyW(H(key), Z(subKey).c_str());
        return static_cast<uint32_t>(s);
    }
    uint32_t QueryValue(RegKeyHandle key, std::wstring_view name, uint32_t* type, uint8_t* data, uint32_t* size) override {
        DWORD t = 0, n = size ? *size : 0;
        const LSTATUS s = RegQueryValueExW(H(key), Z(name).c_str(), nullptr, &t, data, size ? &n : nullptr);
        if (type) *type = t;
        if (size) *size = n;
        return static_cast<uint32_t>(s);
    }
    void ReadDwordValues(const RegDwordLocation* locations, size_t count, uint32_t* values,
                         uint32_t* statuses) override {
        // RegGetValueW opens, queries and closes in one call and refuses other types itself.
        for (size_t i = 0; i < count; ++i) {
            DWORD value = 0, size = sizeof value;
            LSTATUS s = RegGetValueW(H(locations[i].root), locations[i].keyPath.c_str(), locations[i].valueName.c_str(),
                                     RRF_RT_REG_DWORD | RRF_NOEXPAND, nullptr, &value, &size);
            if (s == ERROR_UNSUPPORTED_TYPE || s == ERROR_MORE_DATA) s = ERROR_INVALID_DATA;
            if (s == ERROR_SUCCESS) values[i] = value;
            statuses[i] = static_cast<uint32_t>(s);
        }
    }
    uint32_t SetValue(RegKeyHandle key, std::wstring_view name, uint32_t type, const uint8_t* data, uint32_t size) override {
        return static_cast<uint32_t>(RegSetValueExW(H(key), Z(name).c_str(), 0, type, data, size));
    }
    uint32_t DeleteValue(RegKeyHandle key, std::wstring_view name) override {
        return static_cast<uint32_t>(RegDeleteValueW(H(key), Z(name).c_str()));
    }
    uint32_t EnumKey(RegKeyHandle key, uint32_t index, std::wstring* name, RegFileTime* lastWrite) override {
        wchar_t buffer[256];
        DWORD chars = 256;
        FILETIME time{};
        const LSTATUS s = RegEnumKeyExW(H(key), index, buffer, &chars, nullptr, nullptr, nullptr, &time);
        if (s == ERROR_SUCCESS) {
            if (name) name->assign(buffer, chars);
            if (lastWrite) *lastWrite = FromFileTime(time);
        }
        return static_cast<uint32_t>(s);
    }
    uint32_t EnumValue(RegKeyHandle key, uint32_t index, std::wstring* name, uint32_t* type, std::string* data) override {
        DWORD maxName = 0, maxData = 0;
        LSTATUS s = RegQueryInfoKeyW(H(key), nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, &maxName,
                                     &maxData, nullptr, nullptr);
        if (s != ERROR_SUCCESS) return static_cast<uint32_t>(s);
        std::vector<wchar_t> nameBuffer(maxName + 1);
        std::string dataBuffer(maxData, '\0');
        DWORD chars = maxName + 1, bytes = maxData, t = 0;
        s = RegEnumValueW(H(key), index, nameBuffer.data(), &chars, nullptr, &t,
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
        const LSTATUS s = RegQueryInfoKeyW(H(key), nullptr, nullptr, nullptr, &subKeys, &maxSub, nullptr, &values,
                                           &maxName, &maxData, nullptr, &time);
        if (s == ERROR_SUCCESS) *info = RegKeyInfo{subKeys, maxSub, values, maxName, maxData, FromFileTime(time)};
        return static_cast<uint32_t>(s);
    }
    uint32_t KeyPath(RegKeyHandle, std::wstring*) override {
        // Windows keeps no path with a handle that a documented call returns.
        return ERROR_NOT_SUPPORTED;
    }
    uint32_t FlushKey(RegKeyHandle key) override { return static_cast<uint32_t>(RegFlushKey(H(key))); }
    uint32_t GetKeySecurity(RegKeyHandle key, uint32_t information, void* descriptor, uint32_t* size) override {
        DWORD n = *size;
        const LSTATUS s = RegGetKeySecurity(H(key), information, descriptor, &n);
        *size = n;
        return static_cast<uint32_t>(s);
    }
    uint32_t SetKeySecurity(RegKeyHandle key, uint32_t information, void* descriptor) override {
        return static_cast<uint32_t>(RegSetKeySecurity(H(key), information, descriptor));
    }
    uint32_t GrantEveryoneFullAccess(RegKeyHandle key) override {
        PACL oldDacl = nullptr;
        PSECURITY_DESCRIPTOR descriptor = nullptr;
        DWORD s = GetSecurityInfo(H(key), SE_REGISTRY_KEY, DACL_SECURITY_INFORMATION, nullptr, nullptr, &oldDacl,
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
                s = static_cast<DWORD>(RegSetKeySecurity(H(key), DACL_SECURITY_INFORMATION, &absolute));
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
        return static_cast<uint32_t>(RegNotifyChangeKeyValue(H(key), watchSubtree, filter, static_cast<HANDLE>(event),
                                                             asynchronous));
    }
    // See the header: the Win32 registry applies each change as it comes.
    uint32_t RunAtomically(const std::function<uint32_t()>& body) override { return body(); }
};

}  // namespace

RegKeyHandle HkeyLocalMachine() { return R(HKEY_LOCAL_MACHINE); }
RegKeyHandle HkeyCurrentUser() { return R(HKEY_CURRENT_USER); }
bool IsPredefinedKey(RegKeyHandle key) { return key == HkeyLocalMachine() || key == HkeyCurrentUser(); }

std::wstring_view PredefinedKeyName(RegKeyHandle key) {
    if (key == HkeyLocalMachine()) return L"HKEY_LOCAL_MACHINE";
    if (key == HkeyCurrentUser()) return L"HKEY_CURRENT_USER";
    return {};
}

std::shared_ptr<RegistryStore> DefaultRegistryStore() {
    static const auto store = std::make_shared<Win32RegistryStore>();
    return store;
}

std::shared_ptr<RegistryStore> OpenRegistryStore(const std::wstring&, const RegistryStoreOptions&) {
    return DefaultRegistryStore();
}

std::string RegistryEngineKey(RegKeyHandle, std::wstring_view, std::wstring_view) { return {}; }
uint32_t RegistryEngineRead(const std::wstring&, const std::string&, uint32_t*) { return ERROR_NOT_SUPPORTED; }

}  // namespace glimmerpane::platform
