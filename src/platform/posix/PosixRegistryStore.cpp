// PosixRegistryStore.cpp (POSIX side) - the registry as an LMDB store under <prefix>/registry/.
//
// Layout (three named databases, all keys UTF-8 of the upper-case folded names):
//   keys:     "HKEY_LOCAL_MACHINE\SOFTWARE\X"        -> u64 last-write time, original last component
//   children: "HKEY_LOCAL_MACHINE\SOFTWARE" \0 "X"   -> original child name   (enumeration index)
//   values:   "HKEY_LOCAL_MACHINE\SOFTWARE\X" \0 "V" -> u32 type, u32 name length, original name, data
// The hive roots exist implicitly. LMDB gives every reader a snapshot without locks and
// serialises writers across processes; one environment per folder and process (LMDB's rule),
// shared by every store object on that folder. A full map is doubled and the write retried;
// a map grown by another process is adopted on MDB_MAP_RESIZED.
#include "platform/Registry.h"

#include <lmdb.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <functional>
#include <map>
#include <mutex>
#include <shared_mutex>
#include <thread>
#include <unordered_map>
#include <vector>

#include "platform/Prefix.h"
#include "platform/RegistryNames.h"
#include "platform/RegistryProbe.h"
#include "base/Utf.h"
#include "base/ByteOrder.h"
#include "platform/posix/PosixFiles.h"

namespace glimmerpane::platform {

namespace {

constexpr uint32_t kMapFull = 0xFFFF0001;  // internal: the write needs a larger map
constexpr size_t kMaxValueName = kMaxValueNameLength;

RegKeyHandle RootHandle(int32_t value) {
    return reinterpret_cast<RegKeyHandle>(static_cast<intptr_t>(value));
}

// Records are keyed by folded UTF-8 paths, so lookups compare names as Windows does.
std::string Folded(std::wstring_view name) { return FoldRegistryNameUtf8(name); }

RegFileTime Now() {
    using namespace std::chrono;
    const auto since1970 = duration_cast<nanoseconds>(system_clock::now().time_since_epoch()).count();
    return static_cast<RegFileTime>(since1970 / 100) + 116444736000000000ull;
}

uint32_t FromLmdb(int rc) {
    switch (rc) {
    case MDB_SUCCESS: return kErrorSuccess;
    case MDB_NOTFOUND: return kErrorFileNotFound;
    case MDB_MAP_FULL: return kMapFull;
    case MDB_INVALID:
    case MDB_VERSION_MISMATCH: return kErrorBadDb;
    case MDB_CORRUPTED:
    case MDB_PAGE_NOTFOUND:
    case MDB_BAD_TXN: return kErrorRegistryCorrupt;
    case MDB_BAD_VALSIZE: return kErrorNameTooLong;
    case ENOMEM: return kErrorOutOfMemory;  // what the Windows registry answers
    default: {
        // Any other code is an errno of the file system under the store.
        const uint32_t code = posix::Win32FromErrno(rc);
        return code == base::kErrorFunctionFailed ? kErrorRegistryIoFailed : code;
    }
    }
}

MDB_val Val(const std::string& s) { return MDB_val{s.size(), const_cast<char*>(s.data())}; }
std::string_view View(const MDB_val& v) { return {static_cast<const char*>(v.mv_data), v.mv_size}; }

void PutU32(std::string& out, uint32_t v) { base::AppendLittleEndian(out, v); }
void PutU64(std::string& out, uint64_t v) { base::AppendLittleEndian(out, v); }
uint64_t GetLe(std::string_view s, size_t at, int bytes) {
    return bytes == 8 ? base::LoadLe64(s.data() + at) : base::LoadLe32(s.data() + at);
}

// ---- the shared environment of one folder ----

struct Env {
    MDB_env* env = nullptr;
    MDB_dbi keys = 0, children = 0, values = 0;
    bool readOnly = false;
    pid_t pid = 0;
    std::shared_mutex resize;  // shared: a transaction runs; exclusive: the map changes size
    // Reset read transactions kept for reuse: renewing one keeps its reader slot, while a
    // fresh one must take a slot under LMDB's reader-table lock (measured: about half the
    // cost of a point read).
    std::mutex poolMutex;
    std::vector<MDB_txn*> pool;
    ~Env() {
        // A child after fork must not close its parent's environment (LMDB's rule).
        if (env == nullptr || pid != getpid()) return;
        for (MDB_txn* txn : pool) mdb_txn_abort(txn);
        mdb_env_close(env);
    }
    MDB_txn* TakeReader() {
        std::lock_guard lock(poolMutex);
        if (pool.empty()) return nullptr;
        MDB_txn* txn = pool.back();
        pool.pop_back();
        return txn;
    }
    void GiveBackReader(MDB_txn* txn) {
        mdb_txn_reset(txn);
        std::lock_guard lock(poolMutex);
        if (pool.size() < 16) {
            pool.push_back(txn);
            return;
        }
        mdb_txn_abort(txn);
    }
};

std::mutex g_envMutex;

// The open environments by folder, so that one process opens each store once. Destroyed
// with the library; after that (static destruction) environments are opened uncached.
struct EnvTable {
    std::map<std::string, std::weak_ptr<Env>> entries;
    static inline std::atomic<bool> alive{false};
    EnvTable() { alive = true; }
    ~EnvTable() { alive = false; }
};

std::map<std::string, std::weak_ptr<Env>>* EnvCache() {
    static EnvTable table;
    return EnvTable::alive ? &table.entries : nullptr;
}


uint32_t OpenDatabases(Env& e) {
    MDB_txn* txn = nullptr;
    int rc = mdb_txn_begin(e.env, nullptr, e.readOnly ? MDB_RDONLY : 0, &txn);
    if (rc != MDB_SUCCESS) return FromLmdb(rc);
    const unsigned flags = e.readOnly ? 0 : MDB_CREATE;
    rc = mdb_dbi_open(txn, "keys", flags, &e.keys);
    if (rc == MDB_SUCCESS) rc = mdb_dbi_open(txn, "children", flags, &e.children);
    if (rc == MDB_SUCCESS) rc = mdb_dbi_open(txn, "values", flags, &e.values);
    if (rc != MDB_SUCCESS) {
        mdb_txn_abort(txn);
        // A read-only store without our databases is not a registry store.
        return rc == MDB_NOTFOUND ? kErrorBadDb : FromLmdb(rc);
    }
    return FromLmdb(mdb_txn_commit(txn));
}

uint32_t OpenEnv(const std::string& folder, uint64_t mapSize, std::shared_ptr<Env>* out) {
    std::lock_guard lock(g_envMutex);
    std::map<std::string, std::weak_ptr<Env>> uncached;
    auto* cached = EnvCache();
    auto& cache = cached ? *cached : uncached;
    if (auto it = cache.find(folder); it != cache.end()) {
        if (auto existing = it->second.lock(); existing && existing->pid == getpid()) {
            *out = existing;
            return kErrorSuccess;
        }
    }
    uint32_t status = posix::MakeFolderTree(folder);
    // A folder we cannot create may still exist read-only; mdb_env_open tells.
    auto e = std::make_shared<Env>();
    e->pid = getpid();
    for (bool readOnly : {false, true}) {
        if (e->env != nullptr) mdb_env_close(e->env), e->env = nullptr;
        if (int rc = mdb_env_create(&e->env); rc != MDB_SUCCESS) return FromLmdb(rc);
        mdb_env_set_maxdbs(e->env, 4);
        mdb_env_set_mapsize(e->env, mapSize);
        const unsigned flags = MDB_NOTLS | MDB_NOMETASYNC | (readOnly ? MDB_RDONLY : 0);
        const int rc = mdb_env_open(e->env, folder.c_str(), flags, 0644);
        e->readOnly = readOnly;
        status = FromLmdb(rc);
        if (rc == MDB_SUCCESS) break;
        // Only a permission problem is worth a read-only second try.
        if (status != kErrorAccessDenied) break;
    }
    if (status == kErrorSuccess) {
        int dead = 0;
        mdb_reader_check(e->env, &dead);
        status = OpenDatabases(*e);
    }
    if (status != kErrorSuccess) {
        mdb_env_close(e->env);
        e->env = nullptr;
        return status;
    }
    cache[folder] = e;
    *out = std::move(e);
    return kErrorSuccess;
}

struct KeyState {
    std::string folded;    // full folded path, hive first
    uint32_t access = 0;
    RegKeyHandle root = nullptr;
};

std::string ChildKey(const std::string& parent, const std::string& foldedName) {
    std::string key = parent;
    key += '\0';
    key += foldedName;
    return key;
}

class PosixRegistryStore final : public RegistryStore {
public:
    PosixRegistryStore(std::string folder, RegistryStoreOptions options)
        : folder_(std::move(folder)), options_(options) {}
    ~PosixRegistryStore() override = default;

    uint32_t OpenKey(RegKeyHandle key, std::wstring_view subKey, uint32_t access, RegKeyHandle* result) override {
        if (result == nullptr) return kErrorInvalidParameter;
        *result = nullptr;
        KeyState base;
        std::vector<std::wstring> parts;
        if (uint32_t s = Resolve(key, subKey, &base, &parts); s != kErrorSuccess) return s;
        std::string target = base.folded;
        for (const auto& p : parts) target += '\\' + Folded(p);
        uint32_t status = Read([&](MDB_txn* txn, Env& e) {
            if (KeyExists(txn, e, target)) return kErrorSuccess;
            return KeyExists(txn, e, base.folded) ? kErrorFileNotFound : kErrorKeyDeleted;
        });
        if (status != kErrorSuccess) return status;
        *result = NewHandle(target, NormalizeRegistryAccess(access), base.root);
        return kErrorSuccess;
    }

    uint32_t CreateKey(RegKeyHandle key, std::wstring_view subKey, uint32_t options, uint32_t access,
                       RegKeyHandle* result, uint32_t* disposition) override {
        if (result == nullptr) return kErrorInvalidParameter;
        *result = nullptr;
        // Volatile, link and backup-restore keys have no POSIX meaning.
        if (options != kRegOptionNonVolatile) return kErrorNotSupported;
        KeyState base;
        std::vector<std::wstring> parts;
        if (uint32_t s = Resolve(key, subKey, &base, &parts); s != kErrorSuccess) return s;
        if (!parts.empty() && !(base.access & kKeyCreateSubKey)) return kErrorAccessDenied;
        std::string target = base.folded;
        bool created = false;
        uint32_t status = Write([&](MDB_txn* txn, Env& e) -> uint32_t {
            created = false;
            if (!KeyExists(txn, e, base.folded)) return kErrorKeyDeleted;
            std::string parent = base.folded;
            const RegFileTime now = Now();
            for (const auto& part : parts) {
                const std::string folded = Folded(part);
                std::string path = parent + '\\' + folded;
                if (!KeyExists(txn, e, path)) {
                    std::string record;
                    PutU64(record, now);
                    record += glimmerpane::base::Utf8FromWide(part);
                    std::string child = ChildKey(parent, folded);
                    std::string original = glimmerpane::base::Utf8FromWide(part);
                    if (uint32_t s = Put(txn, e.keys, path, record); s != kErrorSuccess) return s;
                    if (uint32_t s = Put(txn, e.children, child, original); s != kErrorSuccess) return s;
                    if (uint32_t s = Touch(txn, e, parent, now); s != kErrorSuccess) return s;
                    created = true;
                }
                parent = std::move(path);
            }
            target = parent;
            return kErrorSuccess;
        });
        if (status != kErrorSuccess) return status;
        if (disposition) *disposition = created ? kRegCreatedNewKey : kRegOpenedExistingKey;
        *result = NewHandle(target, NormalizeRegistryAccess(access), base.root);
        return kErrorSuccess;
    }

    uint32_t CloseKey(RegKeyHandle key) override {
        if (IsPredefinedKey(key)) return kErrorSuccess;
        std::lock_guard lock(handleMutex_);
        return handles_.erase(reinterpret_cast<uintptr_t>(key)) == 1 ? kErrorSuccess : kErrorInvalidHandle;
    }

    uint32_t DeleteKey(RegKeyHandle key, std::wstring_view subKey, uint32_t) override {
        KeyState base;
        std::vector<std::wstring> parts;
        if (uint32_t s = Resolve(key, subKey, &base, &parts); s != kErrorSuccess) return s;
        if (base.folded.find('\\') == std::string::npos && parts.empty()) return kErrorAccessDenied;
        std::string target = base.folded;
        for (const auto& p : parts) target += '\\' + Folded(p);
        return Write([&](MDB_txn* txn, Env& e) -> uint32_t {
            if (!KeyExists(txn, e, target)) return KeyExists(txn, e, base.folded) ? kErrorFileNotFound : kErrorKeyDeleted;
            if (HasChildren(txn, e, target)) return kErrorAccessDenied;
            return RemoveKey(txn, e, target);
        });
    }

    uint32_t DeleteTree(RegKeyHandle key, std::wstring_view subKey) override {
        KeyState base;
        std::vector<std::wstring> parts;
        if (uint32_t s = Resolve(key, subKey, &base, &parts); s != kErrorSuccess) return s;
        if (base.folded.find('\\') == std::string::npos && parts.empty()) return kErrorAccessDenied;
        std::string target = base.folded;
        for (const auto& p : parts) target += '\\' + Folded(p);
        return Write([&](MDB_txn* txn, Env& e) -> uint32_t {
            if (!KeyExists(txn, e, target)) return KeyExists(txn, e, base.folded) ? kErrorFileNotFound : kErrorKeyDeleted;
            return RemoveTree(txn, e, target);
        });
    }

    uint32_t QueryValue(RegKeyHandle key, std::wstring_view name, uint32_t* type, uint8_t* data,
                        uint32_t* size) override {
        if (data != nullptr && size == nullptr) return kErrorInvalidParameter;
        KeyState state;
        if (uint32_t s = Lookup(key, &state); s != kErrorSuccess) return s;
        if (!(state.access & kKeyQueryValue)) return kErrorAccessDenied;
        if (name.size() > kMaxValueName) return kErrorFileNotFound;
        const std::string valueKey = ChildKey(state.folded, Folded(name));
        return Read([&](MDB_txn* txn, Env& e) -> uint32_t {
            MDB_val k = Val(valueKey), v{};
            const int rc = mdb_get(txn, e.values, &k, &v);
            if (rc == MDB_NOTFOUND || rc == MDB_BAD_VALSIZE) {
                return KeyExists(txn, e, state.folded) ? kErrorFileNotFound : kErrorKeyDeleted;
            }
            if (rc != MDB_SUCCESS) return FromLmdb(rc);
            const std::string_view record = View(v);
            if (record.size() < 8) return kErrorRegistryCorrupt;
            const uint32_t nameLength = static_cast<uint32_t>(GetLe(record, 4, 4));
            if (record.size() < 8ull + nameLength) return kErrorRegistryCorrupt;
            const std::string_view bytes = record.substr(8 + nameLength);
            if (type) *type = static_cast<uint32_t>(GetLe(record, 0, 4));
            const uint32_t needed = static_cast<uint32_t>(bytes.size());
            if (data != nullptr) {
                if (*size < needed) {
                    *size = needed;
                    return kErrorMoreData;
                }
                std::memcpy(data, bytes.data(), bytes.size());
            }
            if (size) *size = needed;
            return kErrorSuccess;
        });
    }

    uint32_t PrepareValue(RegDwordLocation* location) override {
        if (location == nullptr) return kErrorInvalidParameter;
        KeyState base;
        std::vector<std::wstring> parts;
        if (uint32_t s = Resolve(location->root, location->keyPath, &base, &parts); s != kErrorSuccess) return s;
        if (location->valueName.size() > kMaxValueName) return kErrorInvalidParameter;
        std::string target = base.folded;
        for (const auto& p : parts) target += '\\' + Folded(p);
        location->prepared = ChildKey(target, Folded(location->valueName));
        return kErrorSuccess;
    }

    void ReadDwordValues(const RegDwordLocation* locations, size_t count, uint32_t* values,
                         uint32_t* statuses) override {
        // A value record exists only under an existing key, so one lookup per value answers
        // what opening the key and querying the value would.
        const uint32_t status = Read([&](MDB_txn* txn, Env& e) -> uint32_t {
            for (size_t i = 0; i < count; ++i) statuses[i] = ReadDword(txn, e, locations[i].prepared, &values[i]);
            return kErrorSuccess;
        });
        if (status != kErrorSuccess) std::fill(statuses, statuses + count, status);
    }

    uint32_t SetValue(RegKeyHandle key, std::wstring_view name, uint32_t type, const uint8_t* data,
                      uint32_t size) override {
        if (data == nullptr && size != 0) return kErrorInvalidParameter;
        if (name.size() > kMaxValueName) return kErrorInvalidParameter;
        KeyState state;
        if (uint32_t s = Lookup(key, &state); s != kErrorSuccess) return s;
        if (!(state.access & kKeySetValue)) return kErrorAccessDenied;
        const std::string valueKey = ChildKey(state.folded, Folded(name));
        const std::string original = glimmerpane::base::Utf8FromWide(name);
        std::string record;
        record.reserve(8 + original.size() + size);
        PutU32(record, type);
        PutU32(record, static_cast<uint32_t>(original.size()));
        record += original;
        if (size != 0) record.append(reinterpret_cast<const char*>(data), size);
        return Write([&](MDB_txn* txn, Env& e) -> uint32_t {
            if (!KeyExists(txn, e, state.folded)) return kErrorKeyDeleted;
            if (uint32_t s = Put(txn, e.values, valueKey, record); s != kErrorSuccess) return s;
            return Touch(txn, e, state.folded, Now());
        });
    }

    uint32_t DeleteValue(RegKeyHandle key, std::wstring_view name) override {
        KeyState state;
        if (uint32_t s = Lookup(key, &state); s != kErrorSuccess) return s;
        if (!(state.access & kKeySetValue)) return kErrorAccessDenied;
        const std::string valueKey = ChildKey(state.folded, Folded(name));
        return Write([&](MDB_txn* txn, Env& e) -> uint32_t {
            if (!KeyExists(txn, e, state.folded)) return kErrorKeyDeleted;
            MDB_val k = Val(valueKey);
            const int rc = mdb_del(txn, e.values, &k, nullptr);
            if (rc == MDB_BAD_VALSIZE) return kErrorFileNotFound;
            if (rc != MDB_SUCCESS) return FromLmdb(rc);
            return Touch(txn, e, state.folded, Now());
        });
    }

    uint32_t EnumKey(RegKeyHandle key, uint32_t index, std::wstring* name, RegFileTime* lastWrite) override {
        KeyState state;
        if (uint32_t s = Lookup(key, &state); s != kErrorSuccess) return s;
        if (!(state.access & kKeyEnumerateSubKeys)) return kErrorAccessDenied;
        return Read([&](MDB_txn* txn, Env& e) -> uint32_t {
            if (!KeyExists(txn, e, state.folded)) return kErrorKeyDeleted;
            std::string childFolded;
            std::string_view original;
            const uint32_t s = Nth(txn, e.children, state.folded, index, [&](std::string_view k, std::string_view v) {
                childFolded.assign(k);
                original = v;
            });
            if (s != kErrorSuccess) return s;
            if (name) *name = glimmerpane::base::WideFromUtf8(original);
            if (lastWrite) *lastWrite = LastWrite(txn, e, state.folded + '\\' + childFolded);
            return kErrorSuccess;
        });
    }

    uint32_t EnumValue(RegKeyHandle key, uint32_t index, std::wstring* name, uint32_t* type,
                       std::string* data) override {
        KeyState state;
        if (uint32_t s = Lookup(key, &state); s != kErrorSuccess) return s;
        if (!(state.access & kKeyQueryValue)) return kErrorAccessDenied;
        return Read([&](MDB_txn* txn, Env& e) -> uint32_t {
            if (!KeyExists(txn, e, state.folded)) return kErrorKeyDeleted;
            uint32_t status = kErrorSuccess;
            const uint32_t s = Nth(txn, e.values, state.folded, index, [&](std::string_view, std::string_view record) {
                if (record.size() < 8 || record.size() < 8 + GetLe(record, 4, 4)) {
                    status = kErrorRegistryCorrupt;
                    return;
                }
                const size_t nameLength = GetLe(record, 4, 4);
                if (type) *type = static_cast<uint32_t>(GetLe(record, 0, 4));
                if (name) *name = glimmerpane::base::WideFromUtf8(record.substr(8, nameLength));
                if (data) data->assign(record.substr(8 + nameLength));
            });
            return s != kErrorSuccess ? s : status;
        });
    }

    uint32_t QueryInfoKey(RegKeyHandle key, RegKeyInfo* info) override {
        if (info == nullptr) return kErrorInvalidParameter;
        KeyState state;
        if (uint32_t s = Lookup(key, &state); s != kErrorSuccess) return s;
        return Read([&](MDB_txn* txn, Env& e) -> uint32_t {
            if (!KeyExists(txn, e, state.folded)) return kErrorKeyDeleted;
            *info = RegKeyInfo{};
            info->lastWriteTime = LastWrite(txn, e, state.folded);
            uint32_t s = ForEachChild(txn, e.children, state.folded, [&](std::string_view, std::string_view v) {
                ++info->subKeyCount;
                info->maxSubKeyLength = std::max<uint32_t>(info->maxSubKeyLength,
                    static_cast<uint32_t>(glimmerpane::base::Utf16Length(glimmerpane::base::WideFromUtf8(v))));
            });
            if (s != kErrorSuccess) return s;
            return ForEachChild(txn, e.values, state.folded, [&](std::string_view, std::string_view r) {
                if (r.size() < 8 || r.size() < 8 + GetLe(r, 4, 4)) return;
                const size_t n = GetLe(r, 4, 4);
                ++info->valueCount;
                info->maxValueNameLength = std::max<uint32_t>(info->maxValueNameLength,
                    static_cast<uint32_t>(glimmerpane::base::Utf16Length(glimmerpane::base::WideFromUtf8(r.substr(8, n)))));
                info->maxValueDataSize = std::max<uint32_t>(info->maxValueDataSize, static_cast<uint32_t>(r.size() - 8 - n));
            });
        });
    }

    uint32_t KeyPath(RegKeyHandle key, std::wstring* path) override {
        if (path == nullptr) return kErrorInvalidParameter;
        KeyState state;
        if (uint32_t s = Lookup(key, &state); s != kErrorSuccess) return s;
        return Read([&](MDB_txn* txn, Env& e) -> uint32_t {
            if (!KeyExists(txn, e, state.folded)) return kErrorKeyDeleted;
            *path = PredefinedKeyName(state.root);
            size_t pos = state.folded.find('\\');
            while (pos != std::string::npos) {
                const size_t next = state.folded.find('\\', pos + 1);
                const std::string prefix = state.folded.substr(0, next);
                MDB_val k = Val(prefix), v{};
                if (mdb_get(txn, e.keys, &k, &v) != MDB_SUCCESS || v.mv_size < 8) return kErrorRegistryCorrupt;
                *path += L'\\';
                *path += glimmerpane::base::WideFromUtf8(View(v).substr(8));
                pos = next;
            }
            return kErrorSuccess;
        });
    }

    uint32_t FlushKey(RegKeyHandle key) override {
        KeyState state;
        if (uint32_t s = Lookup(key, &state); s != kErrorSuccess) return s;
        std::shared_ptr<Env> e;
        if (uint32_t s = Acquire(&e); s != kErrorSuccess) return s;
        if (e->readOnly) return kErrorSuccess;
        return FromLmdb(mdb_env_sync(e->env, 1));
    }

    uint32_t GetKeySecurity(RegKeyHandle, uint32_t, void*, uint32_t*) override { return kErrorNotSupported; }
    uint32_t SetKeySecurity(RegKeyHandle, uint32_t, void*) override { return kErrorNotSupported; }
    uint32_t GrantEveryoneFullAccess(RegKeyHandle) override { return kErrorNotSupported; }
    uint32_t NotifyChange(RegKeyHandle, bool, uint32_t, void*, bool) override { return kErrorNotSupported; }

private:
    // ---- handles ----
    RegKeyHandle NewHandle(std::string folded, uint32_t access, RegKeyHandle root) {
        static std::atomic<uintptr_t> next{0x1000};
        const uintptr_t id = next.fetch_add(4);
        auto state = std::make_shared<const KeyState>(KeyState{std::move(folded), access, root});
        std::lock_guard lock(handleMutex_);
        handles_.emplace(id, std::move(state));
        return reinterpret_cast<RegKeyHandle>(id);
    }

    uint32_t Lookup(RegKeyHandle key, KeyState* out) {
        if (key == HkeyLocalMachine() || key == HkeyCurrentUser()) {
            *out = KeyState{Folded(PredefinedKeyName(key)), kKeyAllAccess, key};
            return kErrorSuccess;
        }
        std::shared_ptr<const KeyState> state;
        {
            std::lock_guard lock(handleMutex_);
            auto it = handles_.find(reinterpret_cast<uintptr_t>(key));
            if (it == handles_.end()) return kErrorInvalidHandle;
            state = it->second;
        }
        *out = *state;
        return kErrorSuccess;
    }

    uint32_t Resolve(RegKeyHandle key, std::wstring_view subKey, KeyState* base, std::vector<std::wstring>* parts) {
        if (uint32_t s = Lookup(key, base); s != kErrorSuccess) return s;
        if (!subKey.empty() && subKey.front() == L'\\') return kErrorBadPathname;
        return SplitRegistryPath(subKey, parts);
    }

    // ---- environment and transactions ----
    uint32_t Acquire(std::shared_ptr<Env>* out) {
        std::lock_guard lock(envMutex_);
        if (!env_) {
            const uint32_t status = OpenEnv(folder_, options_.initialMapSize, &env_);
            // Not logged here: the platform layer only answers codes, and the logger itself
            // reads its configuration through this store. The caller logs what it detects.
            // The store is retried on every call.
            if (status != kErrorSuccess) return status;
        }
        *out = env_;
        return kErrorSuccess;
    }

    // Adopts a map that another process has grown.
    static void AdoptNewSize(Env& e) {
        std::unique_lock lock(e.resize);
        mdb_env_set_mapsize(e.env, 0);
    }

    // ---- one body of changes as one transaction ----
    uint32_t RunAtomically(const std::function<uint32_t()>& body) override {
        if (InBatch()) return body();  // already inside one: it becomes part of it
        std::lock_guard one(batchMutex_);
        // One write transaction whose body is the caller's: every change inside it becomes a
        // nested transaction of this one (Write), and a change that did not fit makes Write
        // grow the map and run the whole body again.
        return Write([&](MDB_txn* txn, Env& e) -> uint32_t {
            batchTxn_ = txn;
            batchEnv_ = &e;
            batchMapFull_ = false;
            batchThread_ = std::this_thread::get_id();
            uint32_t status = kErrorSuccess;
            try {
                status = body();
            } catch (...) {
                EndBatch();
                throw;
            }
            const bool mapFull = batchMapFull_;
            EndBatch();
            return mapFull ? kMapFull : status;
        });
    }

    bool InBatch() const { return batchThread_.load() == std::this_thread::get_id(); }

    void EndBatch() {
        batchThread_ = std::thread::id();
        batchTxn_ = nullptr;
        batchEnv_ = nullptr;
    }

    template <class Body>
    uint32_t Read(Body body) {
        if (InBatch()) return body(batchTxn_, *batchEnv_);  // sees the batch's own changes
        std::shared_ptr<Env> e;
        if (uint32_t s = Acquire(&e); s != kErrorSuccess) return s;
        for (int attempt = 0; attempt < 4; ++attempt) {
            std::shared_lock lock(e->resize);
            MDB_txn* txn = e->TakeReader();
            int rc;
            if (txn != nullptr) {
                rc = mdb_txn_renew(txn);
                if (rc != MDB_SUCCESS) mdb_txn_abort(txn), txn = nullptr;
            } else {
                rc = mdb_txn_begin(e->env, nullptr, MDB_RDONLY, &txn);
            }
            if (rc == MDB_MAP_RESIZED) {
                lock.unlock();
                AdoptNewSize(*e);
                continue;
            }
            if (rc == MDB_READERS_FULL) {
                // Slots of crashed processes are only freed when someone checks.
                int dead = 0;
                mdb_reader_check(e->env, &dead);
                if (dead > 0) continue;
            }
            if (rc != MDB_SUCCESS) return FromLmdb(rc);
            const uint32_t status = body(txn, *e);
            e->GiveBackReader(txn);
            return status;
        }
        return kErrorRegistryIoFailed;
    }

    template <class Body>
    uint32_t Write(Body body) {
        if (InBatch()) {
            // A nested transaction, so that a change that fails leaves none of its parts
            // in the batch.
            MDB_txn* txn = nullptr;
            if (int rc = mdb_txn_begin(batchEnv_->env, batchTxn_, 0, &txn); rc != MDB_SUCCESS) return FromLmdb(rc);
            uint32_t status = body(txn, *batchEnv_);
            if (status == kErrorSuccess) {
                status = FromLmdb(mdb_txn_commit(txn));
            } else {
                mdb_txn_abort(txn);
            }
            if (status != kMapFull) return status;
            batchMapFull_ = true;
            return kErrorDiskFull;  // what the body sees; the batch grows the map and runs again
        }
        std::shared_ptr<Env> e;
        if (uint32_t s = Acquire(&e); s != kErrorSuccess) return s;
        if (e->readOnly) return kErrorAccessDenied;
        for (int attempt = 0; attempt < 40; ++attempt) {
            std::shared_lock lock(e->resize);
            MDB_txn* txn = nullptr;
            int rc = mdb_txn_begin(e->env, nullptr, 0, &txn);
            if (rc == MDB_MAP_RESIZED) {
                lock.unlock();
                AdoptNewSize(*e);
                continue;
            }
            if (rc != MDB_SUCCESS) return FromLmdb(rc);
            uint32_t status = kErrorSuccess;
            try {
                status = body(txn, *e);
            } catch (...) {
                mdb_txn_abort(txn);  // an open write transaction would hold the writer lock for ever
                throw;
            }
            if (status == kErrorSuccess) {
                rc = mdb_txn_commit(txn);
                status = FromLmdb(rc);
            } else {
                mdb_txn_abort(txn);
            }
            if (status != kMapFull) return status;
            lock.unlock();
            std::unique_lock grow(e->resize);
            MDB_envinfo info{};
            mdb_env_info(e->env, &info);
            if (mdb_env_set_mapsize(e->env, info.me_mapsize * 2) != MDB_SUCCESS) return kErrorDiskFull;
        }
        return kErrorDiskFull;
    }

    // ---- records ----
    static bool IsRoot(const std::string& folded) { return folded.find('\\') == std::string::npos; }

    static bool KeyExists(MDB_txn* txn, Env& e, const std::string& folded) {
        if (IsRoot(folded)) return true;
        MDB_val k = Val(folded), v{};
        return mdb_get(txn, e.keys, &k, &v) == MDB_SUCCESS;
    }

    static uint32_t ReadDword(MDB_txn* txn, Env& e, const std::string& valueKey, uint32_t* value) {
        if (valueKey.empty()) return kErrorInvalidParameter;  // not prepared
        MDB_val k = Val(valueKey), v{};
        const int rc = mdb_get(txn, e.values, &k, &v);
        if (rc == MDB_NOTFOUND || rc == MDB_BAD_VALSIZE) return kErrorFileNotFound;
        if (rc != MDB_SUCCESS) return FromLmdb(rc);
        const std::string_view record = View(v);
        if (record.size() < 8 || record.size() < 8ull + GetLe(record, 4, 4)) return kErrorRegistryCorrupt;
        const std::string_view bytes = record.substr(8 + GetLe(record, 4, 4));
        if (GetLe(record, 0, 4) != kRegDword || bytes.size() != 4) return kErrorInvalidData;
        *value = base::LoadLe32(bytes.data());
        return kErrorSuccess;
    }

    static RegFileTime LastWrite(MDB_txn* txn, Env& e, const std::string& folded) {
        MDB_val k = Val(folded), v{};
        if (mdb_get(txn, e.keys, &k, &v) != MDB_SUCCESS || v.mv_size < 8) return 0;
        return GetLe(View(v), 0, 8);
    }

    static uint32_t Put(MDB_txn* txn, MDB_dbi dbi, const std::string& key, const std::string& data) {
        MDB_val k = Val(key), v = Val(data);
        return FromLmdb(mdb_put(txn, dbi, &k, &v, 0));
    }

    // Sets the key's last-write time; a hive root gets a record on its first change.
    static uint32_t Touch(MDB_txn* txn, Env& e, const std::string& folded, RegFileTime now) {
        MDB_val k = Val(folded), v{};
        std::string record;
        PutU64(record, now);
        if (mdb_get(txn, e.keys, &k, &v) == MDB_SUCCESS && v.mv_size >= 8) record.append(View(v).substr(8));
        else if (!IsRoot(folded)) return kErrorRegistryCorrupt;
        return Put(txn, e.keys, folded, record);
    }

    template <class Visit>
    static uint32_t ForEachChild(MDB_txn* txn, MDB_dbi dbi, const std::string& parent, Visit visit) {
        MDB_cursor* cursor = nullptr;
        if (int rc = mdb_cursor_open(txn, dbi, &cursor); rc != MDB_SUCCESS) return FromLmdb(rc);
        const std::string prefix = parent + '\0';
        MDB_val k = Val(prefix), v{};
        int rc = mdb_cursor_get(cursor, &k, &v, MDB_SET_RANGE);
        while (rc == MDB_SUCCESS) {
            const std::string_view key = View(k);
            if (key.substr(0, prefix.size()) != prefix) break;
            visit(key.substr(prefix.size()), View(v));
            rc = mdb_cursor_get(cursor, &k, &v, MDB_NEXT);
        }
        mdb_cursor_close(cursor);
        return rc == MDB_SUCCESS || rc == MDB_NOTFOUND ? kErrorSuccess : FromLmdb(rc);
    }

    template <class Visit>
    static uint32_t Nth(MDB_txn* txn, MDB_dbi dbi, const std::string& parent, uint32_t index, Visit visit) {
        uint32_t seen = 0;
        bool found = false;
        const uint32_t s = ForEachChild(txn, dbi, parent, [&](std::string_view k, std::string_view v) {
            if (!found && seen++ == index) {
                visit(k, v);
                found = true;
            }
        });
        if (s != kErrorSuccess) return s;
        return found ? kErrorSuccess : kErrorNoMoreItems;
    }

    static bool HasChildren(MDB_txn* txn, Env& e, const std::string& folded) {
        bool any = false;
        ForEachChild(txn, e.children, folded, [&](std::string_view, std::string_view) { any = true; });
        return any;
    }

    static uint32_t DeletePrefixed(MDB_txn* txn, MDB_dbi dbi, const std::string& parent) {
        std::vector<std::string> doomed;
        if (uint32_t s = ForEachChild(txn, dbi, parent, [&](std::string_view k, std::string_view) {
                doomed.push_back(parent + '\0' + std::string(k));
            }); s != kErrorSuccess) {
            return s;
        }
        for (const auto& key : doomed) {
            MDB_val k = Val(key);
            if (int rc = mdb_del(txn, dbi, &k, nullptr); rc != MDB_SUCCESS) return FromLmdb(rc);
        }
        return kErrorSuccess;
    }

    // Removes one key without children: its values, its record, its entry in the parent.
    static uint32_t RemoveKey(MDB_txn* txn, Env& e, const std::string& folded) {
        if (uint32_t s = DeletePrefixed(txn, e.values, folded); s != kErrorSuccess) return s;
        MDB_val k = Val(folded);
        if (int rc = mdb_del(txn, e.keys, &k, nullptr); rc != MDB_SUCCESS) return FromLmdb(rc);
        const size_t cut = folded.rfind('\\');
        const std::string parent = folded.substr(0, cut);
        const std::string entry = ChildKey(parent, folded.substr(cut + 1));
        MDB_val c = Val(entry);
        if (int rc = mdb_del(txn, e.children, &c, nullptr); rc != MDB_SUCCESS && rc != MDB_NOTFOUND) return FromLmdb(rc);
        return Touch(txn, e, parent, Now());
    }

    static uint32_t RemoveTree(MDB_txn* txn, Env& e, const std::string& folded) {
        std::vector<std::string> kids;
        if (uint32_t s = ForEachChild(txn, e.children, folded, [&](std::string_view k, std::string_view) {
                kids.push_back(folded + '\\' + std::string(k));
            }); s != kErrorSuccess) {
            return s;
        }
        for (const auto& kid : kids) {
            if (uint32_t s = RemoveTree(txn, e, kid); s != kErrorSuccess) return s;
        }
        return RemoveKey(txn, e, folded);
    }

    const std::string folder_;
    const RegistryStoreOptions options_;
    std::mutex envMutex_;
    std::shared_ptr<Env> env_;
    std::mutex handleMutex_;
    std::unordered_map<uintptr_t, std::shared_ptr<const KeyState>> handles_;
    // The batch of RunAtomically: one at a time; the other members are used only by the
    // thread named in batchThread_.
    std::mutex batchMutex_;
    std::atomic<std::thread::id> batchThread_{};
    MDB_txn* batchTxn_ = nullptr;
    Env* batchEnv_ = nullptr;
    bool batchMapFull_ = false;
};

}  // namespace

RegKeyHandle HkeyLocalMachine() { return RootHandle(static_cast<int32_t>(0x80000002u)); }
RegKeyHandle HkeyCurrentUser() { return RootHandle(static_cast<int32_t>(0x80000001u)); }
bool IsPredefinedKey(RegKeyHandle key) { return key == HkeyLocalMachine() || key == HkeyCurrentUser(); }

std::wstring_view PredefinedKeyName(RegKeyHandle key) {
    if (key == HkeyLocalMachine()) return L"HKEY_LOCAL_MACHINE";
    if (key == HkeyCurrentUser()) return L"HKEY_CURRENT_USER";
    return {};
}

std::shared_ptr<RegistryStore> OpenRegistryStore(const std::wstring& folder, const RegistryStoreOptions& options) {
    std::string path = glimmerpane::base::Utf8FromWide(folder);
    while (path.size() > 1 && path.back() == '/') path.pop_back();
    return std::make_shared<PosixRegistryStore>(std::move(path), options);
}

std::string RegistryEngineKey(RegKeyHandle root, std::wstring_view keyPath, std::wstring_view valueName) {
    std::wstring full(PredefinedKeyName(root));
    if (!keyPath.empty()) full += L"\\" + std::wstring(keyPath);
    return ChildKey(Folded(full), Folded(valueName));
}

uint32_t RegistryEngineRead(const std::wstring& folder, const std::string& engineKey, uint32_t* size) {
    std::string path = glimmerpane::base::Utf8FromWide(folder);
    while (path.size() > 1 && path.back() == '/') path.pop_back();
    std::shared_ptr<Env> e;
    if (uint32_t s = OpenEnv(path, RegistryStoreOptions{}.initialMapSize, &e); s != kErrorSuccess) return s;
    std::shared_lock lock(e->resize);
    MDB_txn* txn = nullptr;
    if (int rc = mdb_txn_begin(e->env, nullptr, MDB_RDONLY, &txn); rc != MDB_SUCCESS) return FromLmdb(rc);
    MDB_val k = Val(engineKey), v{};
    const int rc = mdb_get(txn, e->values, &k, &v);
    mdb_txn_abort(txn);
    if (rc == MDB_SUCCESS && size) *size = static_cast<uint32_t>(v.mv_size);
    return FromLmdb(rc);
}

namespace {

// One store per prefix folder for as long as this code is loaded. The stores are released
// when the library is unloaded (or the process ends): a module that a host loads and
// unloads must not leave an LMDB environment, its memory and its files open behind it.
// Calls after that open an uncached store rather than touching a destroyed table.
struct DefaultStores {
    std::mutex mutex;
    std::map<std::wstring, std::shared_ptr<RegistryStore>> stores;
    static inline std::atomic<bool> alive{false};
    DefaultStores() { alive = true; }
    ~DefaultStores() {
        alive = false;
        std::lock_guard lock(mutex);
        stores.clear();
    }
};

DefaultStores& TheDefaultStores() {
    static DefaultStores stores;
    return stores;
}

}  // namespace

std::shared_ptr<RegistryStore> DefaultRegistryStore() {
    const std::wstring folder = PrefixPath(L"registry");
    DefaultStores& table = TheDefaultStores();
    if (!DefaultStores::alive) return OpenRegistryStore(folder);
    std::lock_guard lock(table.mutex);
    auto& store = table.stores[folder];
    if (!store) store = OpenRegistryStore(folder);
    return store;
}

}  // namespace glimmerpane::platform
