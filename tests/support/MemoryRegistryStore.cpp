// MemoryRegistryStore.cpp - the in-memory registry store: a tree of keys behind one lock.
#include "support/MemoryRegistryStore.h"

#include "platform/RegistryNames.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstring>
#include <functional>
#include <iterator>
#include <map>
#include <mutex>
#include <string>
#include <unordered_map>
#include <vector>

namespace gptest {

namespace {

using namespace glimmerpane::platform;

constexpr size_t kMaxValueName = kMaxValueNameLength;

// Names compare as the real stores compare them.
std::wstring Folded(std::wstring_view name) { return FoldRegistryName(name); }

// A leading "\" is a bad path name here; the rest of the rules are the shared ones.
uint32_t SplitPath(std::wstring_view path, std::vector<std::wstring>* parts) {
    if (!path.empty() && path.front() == L'\\') return kErrorBadPathname;
    return SplitRegistryPath(path, parts);
}

struct Value {
    std::wstring name;  // as created
    uint32_t type = kRegNone;
    std::string data;
};

struct Node {
    std::wstring name;  // as created; empty for a hive root
    std::weak_ptr<Node> parent;
    RegKeyHandle hive = nullptr;
    std::map<std::wstring, std::shared_ptr<Node>> children;  // by folded name, so in enumeration order
    std::map<std::wstring, Value> values;                    // likewise
    RegFileTime lastWrite = 0;
    bool deleted = false;
};

struct OpenKeyState {
    std::shared_ptr<Node> node;
    uint32_t access = 0;
};

class MemoryRegistryStore final : public RegistryStore {
public:
    MemoryRegistryStore() {
        for (RegKeyHandle hive : {HkeyLocalMachine(), HkeyCurrentUser()}) {
            auto root = std::make_shared<Node>();
            root->hive = hive;
            root->lastWrite = Now();
            roots_[hive] = root;
        }
    }

    uint32_t OpenKey(RegKeyHandle key, std::wstring_view subKey, uint32_t access, RegKeyHandle* result) override {
        if (result == nullptr) return kErrorInvalidParameter;
        *result = nullptr;
        std::lock_guard lock(mutex_);
        OpenKeyState base;
        std::vector<std::wstring> parts;
        if (uint32_t s = Resolve(key, subKey, &base, &parts); s != kErrorSuccess) return s;
        if (base.node->deleted) return kErrorKeyDeleted;
        std::shared_ptr<Node> node;
        if (uint32_t s = Descend(base.node, parts, &node); s != kErrorSuccess) return s;
        *result = NewHandle(std::move(node), NormalizeRegistryAccess(access));
        return kErrorSuccess;
    }

    uint32_t CreateKey(RegKeyHandle key, std::wstring_view subKey, uint32_t options, uint32_t access,
                       RegKeyHandle* result, uint32_t* disposition) override {
        if (result == nullptr) return kErrorInvalidParameter;
        *result = nullptr;
        // Volatile keys mean nothing without a reboot to forget them, as on POSIX.
        if (options != kRegOptionNonVolatile) return kErrorNotSupported;
        std::lock_guard lock(mutex_);
        OpenKeyState base;
        std::vector<std::wstring> parts;
        if (uint32_t s = Resolve(key, subKey, &base, &parts); s != kErrorSuccess) return s;
        if (!parts.empty() && !(base.access & kKeyCreateSubKey)) return kErrorAccessDenied;
        if (base.node->deleted) return kErrorKeyDeleted;
        std::shared_ptr<Node> node = base.node;
        bool created = false;
        for (const auto& part : parts) {
            auto& slot = node->children[Folded(part)];
            if (!slot) {
                slot = std::make_shared<Node>();
                slot->name = part;
                slot->parent = node;
                slot->hive = node->hive;
                slot->lastWrite = Now();
                node->lastWrite = slot->lastWrite;
                created = true;
            }
            node = slot;
        }
        if (disposition) *disposition = created ? kRegCreatedNewKey : kRegOpenedExistingKey;
        *result = NewHandle(std::move(node), NormalizeRegistryAccess(access));
        return kErrorSuccess;
    }

    uint32_t CloseKey(RegKeyHandle key) override {
        if (IsPredefinedKey(key)) return kErrorSuccess;
        std::lock_guard lock(mutex_);
        return handles_.erase(key) == 1 ? kErrorSuccess : kErrorInvalidHandle;
    }

    uint32_t DeleteKey(RegKeyHandle key, std::wstring_view subKey, uint32_t) override {
        std::lock_guard lock(mutex_);
        std::shared_ptr<Node> target;
        if (uint32_t s = FindDeletable(key, subKey, &target); s != kErrorSuccess) return s;
        if (!target->children.empty()) return kErrorAccessDenied;
        Remove(target);
        return kErrorSuccess;
    }

    uint32_t DeleteTree(RegKeyHandle key, std::wstring_view subKey) override {
        std::lock_guard lock(mutex_);
        std::shared_ptr<Node> target;
        if (uint32_t s = FindDeletable(key, subKey, &target); s != kErrorSuccess) return s;
        Remove(target);
        return kErrorSuccess;
    }

    uint32_t QueryValue(RegKeyHandle key, std::wstring_view name, uint32_t* type, uint8_t* data,
                        uint32_t* size) override {
        if (data != nullptr && size == nullptr) return kErrorInvalidParameter;
        std::lock_guard lock(mutex_);
        OpenKeyState state;
        if (uint32_t s = Lookup(key, &state); s != kErrorSuccess) return s;
        if (!(state.access & kKeyQueryValue)) return kErrorAccessDenied;
        if (state.node->deleted) return kErrorKeyDeleted;
        if (name.size() > kMaxValueName) return kErrorFileNotFound;
        auto found = state.node->values.find(Folded(name));
        if (found == state.node->values.end()) return kErrorFileNotFound;
        const std::string& bytes = found->second.data;
        if (type) *type = found->second.type;
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
    }

    uint32_t SetValue(RegKeyHandle key, std::wstring_view name, uint32_t type, const uint8_t* data,
                      uint32_t size) override {
        if (data == nullptr && size != 0) return kErrorInvalidParameter;
        if (name.size() > kMaxValueName) return kErrorInvalidParameter;
        std::lock_guard lock(mutex_);
        OpenKeyState state;
        if (uint32_t s = Lookup(key, &state); s != kErrorSuccess) return s;
        if (!(state.access & kKeySetValue)) return kErrorAccessDenied;
        if (state.node->deleted) return kErrorKeyDeleted;
        Value& value = state.node->values[Folded(name)];
        value.name = name;
        value.type = type;
        if (size == 0) {
            value.data.clear();
        } else {
            value.data.assign(reinterpret_cast<const char*>(data), size);
        }
        state.node->lastWrite = Now();
        return kErrorSuccess;
    }

    uint32_t DeleteValue(RegKeyHandle key, std::wstring_view name) override {
        std::lock_guard lock(mutex_);
        OpenKeyState state;
        if (uint32_t s = Lookup(key, &state); s != kErrorSuccess) return s;
        if (!(state.access & kKeySetValue)) return kErrorAccessDenied;
        if (state.node->deleted) return kErrorKeyDeleted;
        if (state.node->values.erase(Folded(name)) == 0) return kErrorFileNotFound;
        state.node->lastWrite = Now();
        return kErrorSuccess;
    }

    uint32_t EnumKey(RegKeyHandle key, uint32_t index, std::wstring* name, RegFileTime* lastWrite) override {
        std::lock_guard lock(mutex_);
        OpenKeyState state;
        if (uint32_t s = Lookup(key, &state); s != kErrorSuccess) return s;
        if (!(state.access & kKeyEnumerateSubKeys)) return kErrorAccessDenied;
        if (state.node->deleted) return kErrorKeyDeleted;
        if (index >= state.node->children.size()) return kErrorNoMoreItems;
        const Node& child = *std::next(state.node->children.begin(), index)->second;
        if (name) *name = child.name;
        if (lastWrite) *lastWrite = child.lastWrite;
        return kErrorSuccess;
    }

    uint32_t EnumValue(RegKeyHandle key, uint32_t index, std::wstring* name, uint32_t* type,
                       std::string* data) override {
        std::lock_guard lock(mutex_);
        OpenKeyState state;
        if (uint32_t s = Lookup(key, &state); s != kErrorSuccess) return s;
        if (!(state.access & kKeyQueryValue)) return kErrorAccessDenied;
        if (state.node->deleted) return kErrorKeyDeleted;
        if (index >= state.node->values.size()) return kErrorNoMoreItems;
        const Value& value = std::next(state.node->values.begin(), index)->second;
        if (name) *name = value.name;
        if (type) *type = value.type;
        if (data) *data = value.data;
        return kErrorSuccess;
    }

    uint32_t QueryInfoKey(RegKeyHandle key, RegKeyInfo* info) override {
        if (info == nullptr) return kErrorInvalidParameter;
        std::lock_guard lock(mutex_);
        OpenKeyState state;
        if (uint32_t s = Lookup(key, &state); s != kErrorSuccess) return s;
        if (state.node->deleted) return kErrorKeyDeleted;
        *info = RegKeyInfo{};
        info->lastWriteTime = state.node->lastWrite;
        for (const auto& [folded, child] : state.node->children) {
            ++info->subKeyCount;
            info->maxSubKeyLength = std::max(info->maxSubKeyLength, RegistryNameUnits(child->name));
        }
        for (const auto& [folded, value] : state.node->values) {
            ++info->valueCount;
            info->maxValueNameLength = std::max(info->maxValueNameLength, RegistryNameUnits(value.name));
            info->maxValueDataSize = std::max(info->maxValueDataSize, static_cast<uint32_t>(value.data.size()));
        }
        return kErrorSuccess;
    }

    uint32_t KeyPath(RegKeyHandle key, std::wstring* path) override {
        if (path == nullptr) return kErrorInvalidParameter;
        std::lock_guard lock(mutex_);
        OpenKeyState state;
        if (uint32_t s = Lookup(key, &state); s != kErrorSuccess) return s;
        if (state.node->deleted) return kErrorKeyDeleted;
        std::vector<const Node*> chain;
        for (auto node = state.node; node && node->parent.lock(); node = node->parent.lock()) chain.push_back(node.get());
        *path = PredefinedKeyName(state.node->hive);
        for (auto it = chain.rbegin(); it != chain.rend(); ++it) *path += L'\\' + (*it)->name;
        return kErrorSuccess;
    }

    uint32_t FlushKey(RegKeyHandle key) override {
        std::lock_guard lock(mutex_);
        OpenKeyState state;
        return Lookup(key, &state);
    }

    uint32_t GetKeySecurity(RegKeyHandle, uint32_t, void*, uint32_t*) override { return kErrorNotSupported; }
    uint32_t SetKeySecurity(RegKeyHandle, uint32_t, void*) override { return kErrorNotSupported; }
    uint32_t GrantEveryoneFullAccess(RegKeyHandle) override { return kErrorNotSupported; }
    uint32_t NotifyChange(RegKeyHandle, bool, uint32_t, void*, bool) override { return kErrorNotSupported; }
    // No test that uses this store needs changes that land together; say so instead of
    // pretending.
    uint32_t RunAtomically(const std::function<uint32_t()>&) override { return kErrorNotSupported; }

private:
    // Strictly rising, so that every write is seen to advance a key's last-write time.
    RegFileTime Now() {
        using namespace std::chrono;
        const auto since1970 = duration_cast<nanoseconds>(system_clock::now().time_since_epoch()).count();
        const RegFileTime now = static_cast<RegFileTime>(since1970 / 100) + 116444736000000000ull;
        lastTime_ = std::max(now, lastTime_ + 1);
        return lastTime_;
    }

    // Handle values are unique across stores and never odd, so a made-up value is unknown.
    RegKeyHandle NewHandle(std::shared_ptr<Node> node, uint32_t access) {
        static std::atomic<uintptr_t> next{0x100000};
        const auto handle = reinterpret_cast<RegKeyHandle>(next.fetch_add(16));
        handles_[handle] = OpenKeyState{std::move(node), access};
        return handle;
    }

    uint32_t Lookup(RegKeyHandle key, OpenKeyState* out) const {
        if (auto root = roots_.find(key); root != roots_.end()) {
            *out = OpenKeyState{root->second, kKeyAllAccess};
            return kErrorSuccess;
        }
        auto found = handles_.find(key);
        if (found == handles_.end()) return kErrorInvalidHandle;
        *out = found->second;
        return kErrorSuccess;
    }

    uint32_t Resolve(RegKeyHandle key, std::wstring_view subKey, OpenKeyState* base,
                     std::vector<std::wstring>* parts) const {
        if (uint32_t s = Lookup(key, base); s != kErrorSuccess) return s;
        return SplitPath(subKey, parts);
    }

    // The existing key at parts below node, or 2 at the first missing one.
    static uint32_t Descend(std::shared_ptr<Node> node, const std::vector<std::wstring>& parts,
                            std::shared_ptr<Node>* found) {
        for (const auto& part : parts) {
            auto child = node->children.find(Folded(part));
            if (child == node->children.end()) return kErrorFileNotFound;
            node = child->second;
        }
        *found = std::move(node);
        return kErrorSuccess;
    }

    // The key that DeleteKey or DeleteTree would remove: never a hive root.
    uint32_t FindDeletable(RegKeyHandle key, std::wstring_view subKey, std::shared_ptr<Node>* target) const {
        OpenKeyState base;
        std::vector<std::wstring> parts;
        if (uint32_t s = Resolve(key, subKey, &base, &parts); s != kErrorSuccess) return s;
        if (!base.node->parent.lock() && parts.empty()) return kErrorAccessDenied;
        if (base.node->deleted) return kErrorKeyDeleted;
        return Descend(base.node, parts, target);
    }

    // Detaches the key from its parent and marks it and everything below it deleted, so
    // that handles still open on any of them answer kErrorKeyDeleted.
    void Remove(const std::shared_ptr<Node>& target) {
        if (auto parent = target->parent.lock()) {
            parent->children.erase(Folded(target->name));
            parent->lastWrite = Now();
        }
        std::vector<std::shared_ptr<Node>> pending{target};
        while (!pending.empty()) {
            std::shared_ptr<Node> node = std::move(pending.back());
            pending.pop_back();
            for (auto& [folded, child] : node->children) pending.push_back(child);
            node->children.clear();
            node->values.clear();
            node->deleted = true;
        }
    }

    mutable std::mutex mutex_;
    std::map<RegKeyHandle, std::shared_ptr<Node>> roots_;
    std::unordered_map<RegKeyHandle, OpenKeyState> handles_;
    RegFileTime lastTime_ = 0;
};

}  // namespace

std::shared_ptr<RegistryStore> MakeMemoryRegistryStore() { return std::make_shared<MemoryRegistryStore>(); }

}  // namespace gptest
