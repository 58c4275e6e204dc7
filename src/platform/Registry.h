// Registry.h - the platform registry: keys, values and their last-write times.
//
// One interface, two backends. Windows: the Win32 registry calls (Win32RegistryStore).
// POSIX: PosixRegistryStore, an LMDB store under <prefix>/registry/ that several
// processes read and write at once (readers never block; writers are serialised).
//
// The contract follows the Win32 registry so that callers behave alike on both sides:
// - every result is a Win32 error code (kErrorSuccess = 0); nothing throws except
//   allocation failure;
// - key paths use "\" between components; key and value names compare case-insensitively
//   and keep the spelling they were created with; the empty value name is the default value;
// - value data is the exact byte image Windows stores (REG_SZ as UTF-16LE with its
//   terminator, REG_DWORD as 4 little-endian bytes, ...), with the Win32 type number;
// - a key opened without KEY_SET_VALUE cannot have values set or deleted, one without
//   KEY_CREATE_SUB_KEY cannot create subkeys (both kErrorAccessDenied);
// - operations that mean nothing on a platform (key security, change notification,
//   volatile keys on POSIX) answer kErrorNotSupported, never a pretended success.
// A store object may be used from any thread; one key handle by one thread at a time.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>

#include "base/Win32Error.h"

namespace glimmerpane::platform {

// ---- Win32 status codes used by the registry (base/Win32Error.h) ----
using base::kErrorSuccess;
using base::kErrorFileNotFound;
using base::kErrorAccessDenied;
using base::kErrorInvalidHandle;
using base::kErrorNotEnoughMemory;
using base::kErrorInvalidData;
using base::kErrorOutOfMemory;
using base::kErrorNotSupported;
using base::kErrorInvalidParameter;
using base::kErrorDiskFull;
using base::kErrorInsufficientBuffer;
using base::kErrorBadPathname;
using base::kErrorNameTooLong;
using base::kErrorMoreData;
using base::kErrorNoMoreItems;
using base::kErrorBadDb;
using base::kErrorCantOpen;
using base::kErrorCantRead;
using base::kErrorCantWrite;
using base::kErrorRegistryCorrupt;
using base::kErrorRegistryIoFailed;
using base::kErrorKeyDeleted;

// ---- value types (REG_*) ----
inline constexpr uint32_t kRegNone = 0;
inline constexpr uint32_t kRegSz = 1;
inline constexpr uint32_t kRegExpandSz = 2;
inline constexpr uint32_t kRegBinary = 3;
inline constexpr uint32_t kRegDword = 4;
inline constexpr uint32_t kRegDwordBigEndian = 5;
inline constexpr uint32_t kRegLink = 6;
inline constexpr uint32_t kRegMultiSz = 7;
inline constexpr uint32_t kRegResourceList = 8;
inline constexpr uint32_t kRegQword = 11;

// ---- access rights (KEY_*) and view flags ----
inline constexpr uint32_t kKeyQueryValue = 0x0001;
inline constexpr uint32_t kKeySetValue = 0x0002;
inline constexpr uint32_t kKeyCreateSubKey = 0x0004;
inline constexpr uint32_t kKeyEnumerateSubKeys = 0x0008;
inline constexpr uint32_t kKeyNotify = 0x0010;
inline constexpr uint32_t kKeyCreateLink = 0x0020;
inline constexpr uint32_t kKeyWow64_64Key = 0x0100;
inline constexpr uint32_t kKeyWow64_32Key = 0x0200;
inline constexpr uint32_t kKeyWow64Res = 0x0300;      // the view bits a key remembers
inline constexpr uint32_t kKeyRead = 0x20019;         // KEY_READ
inline constexpr uint32_t kKeyWrite = 0x20006;        // KEY_WRITE
inline constexpr uint32_t kKeyAllAccess = 0xF003F;    // KEY_ALL_ACCESS
inline constexpr uint32_t kKeyDeleteTreeAccess = 0x2001F;  // read + set value + create subkey

// ---- create options and dispositions ----
inline constexpr uint32_t kRegOptionNonVolatile = 0;
inline constexpr uint32_t kRegOptionVolatile = 1;
inline constexpr uint32_t kRegCreatedNewKey = 1;
inline constexpr uint32_t kRegOpenedExistingKey = 2;

// An open key. The two hive roots are predefined handles with Windows' values; every
// other handle comes from OpenKey/CreateKey and is released by CloseKey.
using RegKeyHandle = struct RegKeyObject*;
RegKeyHandle HkeyLocalMachine();  // HKEY_LOCAL_MACHINE
RegKeyHandle HkeyCurrentUser();   // HKEY_CURRENT_USER
bool IsPredefinedKey(RegKeyHandle key);

// 100-nanosecond intervals since 1601-01-01 UTC (a FILETIME as one number).
using RegFileTime = uint64_t;

struct RegKeyInfo {
    uint32_t subKeyCount = 0;
    uint32_t maxSubKeyLength = 0;   // characters, without terminator
    uint32_t valueCount = 0;
    uint32_t maxValueNameLength = 0;
    uint32_t maxValueDataSize = 0;  // bytes
    RegFileTime lastWriteTime = 0;
};

// One REG_DWORD value for ReadDwordValues: a key path below a hive root and a value name.
// PrepareValue fills `prepared` once (POSIX: the folded lookup key of the value, so a
// read neither splits nor folds the path again); the names are kept for stores that
// look values up by name (Windows, the default implementation).
struct RegDwordLocation {
    RegKeyHandle root = nullptr;
    std::wstring keyPath;
    std::wstring valueName;
    std::string prepared;
};

class RegistryStore {
public:
    virtual ~RegistryStore() = default;

    // Prepares location for ReadDwordValues. 0, or 161 for a path that OpenKey would
    // refuse the same way (a leading "\" or an empty component).
    virtual uint32_t PrepareValue(RegDwordLocation* location);
    // Reads the REG_DWORD values of count prepared locations from one consistent view of
    // the registry: POSIX, one read transaction, so no writer's change lands between two of
    // them; Windows has no read transaction across keys, each value is one RegGetValueW.
    // statuses[i] is what opening the key with KEY_READ and querying the value together
    // answer: 0 with values[i] set, 2 for a missing key or value, 13 for a value that is not
    // a 4-byte REG_DWORD, or the store's error. values[i] is untouched on failure.
    // The default opens, queries and closes each key in turn.
    virtual void ReadDwordValues(const RegDwordLocation* locations, size_t count, uint32_t* values, uint32_t* statuses);

    // RegOpenKeyExW. subKey relative to key; empty opens the same key again.
    // 2 when the key does not exist, 161 for an empty path component or a leading "\".
    virtual uint32_t OpenKey(RegKeyHandle key, std::wstring_view subKey, uint32_t access,
                             RegKeyHandle* result) = 0;
    // RegCreateKeyExW: creates every missing component. disposition may be null.
    virtual uint32_t CreateKey(RegKeyHandle key, std::wstring_view subKey, uint32_t options, uint32_t access,
                               RegKeyHandle* result, uint32_t* disposition) = 0;
    // RegCloseKey. Closing a predefined root is a no-op; an unknown handle gives 6.
    virtual uint32_t CloseKey(RegKeyHandle key) = 0;
    // RegDeleteKeyExW: deletes a subkey that has no subkeys of its own (5 otherwise),
    // with its values. An empty subKey deletes the key itself. A hive root cannot be deleted (5).
    virtual uint32_t DeleteKey(RegKeyHandle key, std::wstring_view subKey, uint32_t viewFlags) = 0;
    // Deletes subKey (empty: the key itself) with all its descendants and values.
    virtual uint32_t DeleteTree(RegKeyHandle key, std::wstring_view subKey) = 0;

    // RegQueryValueExW. type, data and size may each be null (size must be given with data).
    // With data too small: 234 and *size set to the needed size; type is set whenever the
    // value exists.
    virtual uint32_t QueryValue(RegKeyHandle key, std::wstring_view name, uint32_t* type, uint8_t* data,
                                uint32_t* size) = 0;
    // RegSetValueExW: stores size bytes verbatim (0 bytes allowed; data may then be null).
    virtual uint32_t SetValue(RegKeyHandle key, std::wstring_view name, uint32_t type, const uint8_t* data,
                              uint32_t size) = 0;
    virtual uint32_t DeleteValue(RegKeyHandle key, std::wstring_view name) = 0;

    // Subkeys and values in case-insensitive name order. 259 past the end.
    virtual uint32_t EnumKey(RegKeyHandle key, uint32_t index, std::wstring* name, RegFileTime* lastWrite) = 0;
    virtual uint32_t EnumValue(RegKeyHandle key, uint32_t index, std::wstring* name, uint32_t* type,
                               std::string* data) = 0;
    virtual uint32_t QueryInfoKey(RegKeyHandle key, RegKeyInfo* info) = 0;
    // The key's full path with the hive spelled out ("HKEY_LOCAL_MACHINE\Software\X"),
    // each component in the spelling it was created with.
    virtual uint32_t KeyPath(RegKeyHandle key, std::wstring* path) = 0;

    // RegFlushKey: the store's data reaches the disk.
    virtual uint32_t FlushKey(RegKeyHandle key) = 0;

    // Key security and change notification (POSIX: kErrorNotSupported).
    virtual uint32_t GetKeySecurity(RegKeyHandle key, uint32_t information, void* descriptor, uint32_t* size) = 0;
    virtual uint32_t SetKeySecurity(RegKeyHandle key, uint32_t information, void* descriptor) = 0;
    virtual uint32_t GrantEveryoneFullAccess(RegKeyHandle key) = 0;
    virtual uint32_t NotifyChange(RegKeyHandle key, bool watchSubtree, uint32_t filter, void* event,
                                  bool asynchronous) = 0;

    // Runs body so that the changes it makes through this store land together: all of them
    // when it answers kErrorSuccess, none when it answers anything else or the process
    // dies before the end. Inside body, reads on this thread see its own changes and other
    // threads' changes wait for it. body may run more than once (POSIX: when the store must
    // grow), so it must not change anything but the store. A call inside body joins it.
    // Windows: the changes land one by one (the Win32 registry has no transaction across
    // calls without the kernel transaction manager), so a failure keeps those before it.
    virtual uint32_t RunAtomically(const std::function<uint32_t()>& body) = 0;
};

inline uint32_t RegistryStore::PrepareValue(RegDwordLocation* location) {
    if (location == nullptr) return kErrorInvalidParameter;
    const std::wstring_view path = location->keyPath;
    if (!path.empty() && path.front() == L'\\') return kErrorBadPathname;
    if (path.find(L"\\\\") != std::wstring_view::npos) return kErrorBadPathname;
    return kErrorSuccess;
}

inline void RegistryStore::ReadDwordValues(const RegDwordLocation* locations, size_t count, uint32_t* values,
                                           uint32_t* statuses) {
    for (size_t i = 0; i < count; ++i) {
        RegKeyHandle key = nullptr;
        uint32_t status = OpenKey(locations[i].root, locations[i].keyPath, kKeyRead, &key);
        if (status == kErrorSuccess) {
            uint8_t bytes[4] = {};
            uint32_t type = kRegNone, size = sizeof bytes;
            status = QueryValue(key, locations[i].valueName, &type, bytes, &size);
            if (status == kErrorMoreData || (status == kErrorSuccess && (type != kRegDword || size != sizeof bytes)))
                status = kErrorInvalidData;
            if (status == kErrorSuccess)
                values[i] = uint32_t{bytes[0]} | uint32_t{bytes[1]} << 8 | uint32_t{bytes[2]} << 16 | uint32_t{bytes[3]} << 24;
            CloseKey(key);
        }
        statuses[i] = status;
    }
}

struct RegistryStoreOptions {
    // POSIX: the first size of the memory map; it doubles whenever a write finds it full.
    uint64_t initialMapSize = 8u << 20;
};

// The registry of this process: POSIX opens PrefixFolder() + "registry" on first use;
// Windows, the system registry. Never null; a store that cannot be opened answers every
// call with its error (and is tried again on the next call).
std::shared_ptr<RegistryStore> DefaultRegistryStore();

// A store in an explicit folder (POSIX; the folder is created when missing). Tests and the
// reg command use it to work on another prefix. Never null, as above. Windows: the system registry.
std::shared_ptr<RegistryStore> OpenRegistryStore(const std::wstring& folder,
                                                 const RegistryStoreOptions& options = {});

// "HKEY_LOCAL_MACHINE" / "HKEY_CURRENT_USER" for the roots, else empty.
std::wstring_view PredefinedKeyName(RegKeyHandle key);

}  // namespace glimmerpane::platform
