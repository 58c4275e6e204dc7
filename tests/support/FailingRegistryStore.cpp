// FailingRegistryStore.cpp - counting, logging and failing calls on the way to a real store.
#include "support/FailingRegistryStore.h"

#include <algorithm>
#include <ostream>

namespace gptest {

using namespace glimmerpane::platform;

const char* RegOpName(RegOp op) {
    static const char* const kNames[kRegOpCount] = {
        "OpenKey",      "CreateKey", "CloseKey",       "DeleteKey",      "DeleteTree",
        "QueryValue",   "SetValue",  "DeleteValue",    "EnumKey",        "EnumValue",
        "QueryInfoKey", "KeyPath",   "FlushKey",       "GetKeySecurity", "SetKeySecurity",
        "GrantEveryoneFullAccess",   "NotifyChange", "RunAtomically",
    };
    const auto index = static_cast<size_t>(op);
    return index < kRegOpCount ? kNames[index] : "?";
}

void PrintTo(RegOp op, std::ostream* os) { *os << RegOpName(op); }

FailingRegistryStore::FailingRegistryStore(std::shared_ptr<RegistryStore> inner) : inner_(std::move(inner)) {}

void FailingRegistryStore::Fail(Fault fault) {
    std::lock_guard lock(mutex_);
    fault_ = std::move(fault);
    armed_ = true;
    counted_ = 0;
}

void FailingRegistryStore::Heal() {
    std::lock_guard lock(mutex_);
    armed_ = false;
}

uint64_t FailingRegistryStore::Calls(RegOp op) const {
    std::lock_guard lock(mutex_);
    return calls_[static_cast<size_t>(op)];
}

uint64_t FailingRegistryStore::Failures() const {
    std::lock_guard lock(mutex_);
    return failures_;
}

std::vector<FailingRegistryStore::Call> FailingRegistryStore::Log() const {
    std::lock_guard lock(mutex_);
    return log_;
}

FailingRegistryStore::Call FailingRegistryStore::Last(RegOp op) const {
    std::lock_guard lock(mutex_);
    auto found = std::find_if(log_.rbegin(), log_.rend(), [op](const Call& c) { return c.op == op; });
    return found != log_.rend() ? *found : Call{op, nullptr, {}, 0};
}

size_t FailingRegistryStore::OpenHandles() const {
    std::lock_guard lock(mutex_);
    return open_.size();
}

bool FailingRegistryStore::Intercept(RegOp op, RegKeyHandle key, std::wstring_view name, uint32_t access,
                                     uint32_t* code) {
    std::lock_guard lock(mutex_);
    ++calls_[static_cast<size_t>(op)];
    log_.push_back(Call{op, key, std::wstring(name), access});
    if (!armed_) return false;
    if (!fault_.only.empty() && std::find(fault_.only.begin(), fault_.only.end(), op) == fault_.only.end()) {
        return false;
    }
    const uint64_t n = counted_++;
    if (n < fault_.from || n - fault_.from >= fault_.times) return false;
    ++failures_;
    *code = fault_.code;
    return true;
}

uint32_t FailingRegistryStore::OpenKey(RegKeyHandle key, std::wstring_view subKey, uint32_t access,
                                       RegKeyHandle* result) {
    uint32_t code;
    if (Intercept(RegOp::OpenKey, key, subKey, access, &code)) {
        if (result) *result = nullptr;
        return code;
    }
    const uint32_t status = inner_->OpenKey(key, subKey, access, result);
    if (status == kErrorSuccess && result && !IsPredefinedKey(*result)) {
        std::lock_guard lock(mutex_);
        open_.insert(*result);
    }
    return status;
}

uint32_t FailingRegistryStore::CreateKey(RegKeyHandle key, std::wstring_view subKey, uint32_t options,
                                         uint32_t access, RegKeyHandle* result, uint32_t* disposition) {
    uint32_t code;
    if (Intercept(RegOp::CreateKey, key, subKey, access, &code)) {
        if (result) *result = nullptr;
        return code;
    }
    const uint32_t status = inner_->CreateKey(key, subKey, options, access, result, disposition);
    if (status == kErrorSuccess && result && !IsPredefinedKey(*result)) {
        std::lock_guard lock(mutex_);
        open_.insert(*result);
    }
    return status;
}

uint32_t FailingRegistryStore::CloseKey(RegKeyHandle key) {
    uint32_t code;
    if (Intercept(RegOp::CloseKey, key, {}, 0, &code)) return code;
    const uint32_t status = inner_->CloseKey(key);
    if (status == kErrorSuccess) {
        std::lock_guard lock(mutex_);
        open_.erase(key);
    }
    return status;
}

uint32_t FailingRegistryStore::DeleteKey(RegKeyHandle key, std::wstring_view subKey, uint32_t viewFlags) {
    uint32_t code;
    if (Intercept(RegOp::DeleteKey, key, subKey, viewFlags, &code)) return code;
    return inner_->DeleteKey(key, subKey, viewFlags);
}

uint32_t FailingRegistryStore::DeleteTree(RegKeyHandle key, std::wstring_view subKey) {
    uint32_t code;
    if (Intercept(RegOp::DeleteTree, key, subKey, 0, &code)) return code;
    return inner_->DeleteTree(key, subKey);
}

uint32_t FailingRegistryStore::QueryValue(RegKeyHandle key, std::wstring_view name, uint32_t* type, uint8_t* data,
                                          uint32_t* size) {
    uint32_t code;
    if (Intercept(RegOp::QueryValue, key, name, 0, &code)) return code;
    return inner_->QueryValue(key, name, type, data, size);
}

uint32_t FailingRegistryStore::SetValue(RegKeyHandle key, std::wstring_view name, uint32_t type,
                                        const uint8_t* data, uint32_t size) {
    uint32_t code;
    if (Intercept(RegOp::SetValue, key, name, 0, &code)) return code;
    return inner_->SetValue(key, name, type, data, size);
}

uint32_t FailingRegistryStore::DeleteValue(RegKeyHandle key, std::wstring_view name) {
    uint32_t code;
    if (Intercept(RegOp::DeleteValue, key, name, 0, &code)) return code;
    return inner_->DeleteValue(key, name);
}

uint32_t FailingRegistryStore::EnumKey(RegKeyHandle key, uint32_t index, std::wstring* name, RegFileTime* lastWrite) {
    uint32_t code;
    if (Intercept(RegOp::EnumKey, key, {}, 0, &code)) return code;
    return inner_->EnumKey(key, index, name, lastWrite);
}

uint32_t FailingRegistryStore::EnumValue(RegKeyHandle key, uint32_t index, std::wstring* name, uint32_t* type,
                                         std::string* data) {
    uint32_t code;
    if (Intercept(RegOp::EnumValue, key, {}, 0, &code)) return code;
    return inner_->EnumValue(key, index, name, type, data);
}

uint32_t FailingRegistryStore::QueryInfoKey(RegKeyHandle key, RegKeyInfo* info) {
    uint32_t code;
    if (Intercept(RegOp::QueryInfoKey, key, {}, 0, &code)) return code;
    return inner_->QueryInfoKey(key, info);
}

uint32_t FailingRegistryStore::KeyPath(RegKeyHandle key, std::wstring* path) {
    uint32_t code;
    if (Intercept(RegOp::KeyPath, key, {}, 0, &code)) return code;
    return inner_->KeyPath(key, path);
}

uint32_t FailingRegistryStore::FlushKey(RegKeyHandle key) {
    uint32_t code;
    if (Intercept(RegOp::FlushKey, key, {}, 0, &code)) return code;
    return inner_->FlushKey(key);
}

uint32_t FailingRegistryStore::GetKeySecurity(RegKeyHandle key, uint32_t information, void* descriptor,
                                              uint32_t* size) {
    uint32_t code;
    if (Intercept(RegOp::GetKeySecurity, key, {}, 0, &code)) return code;
    return inner_->GetKeySecurity(key, information, descriptor, size);
}

uint32_t FailingRegistryStore::SetKeySecurity(RegKeyHandle key, uint32_t information, void* descriptor) {
    uint32_t code;
    if (Intercept(RegOp::SetKeySecurity, key, {}, 0, &code)) return code;
    return inner_->SetKeySecurity(key, information, descriptor);
}

uint32_t FailingRegistryStore::GrantEveryoneFullAccess(RegKeyHandle key) {
    uint32_t code;
    if (Intercept(RegOp::GrantEveryoneFullAccess, key, {}, 0, &code)) return code;
    return inner_->GrantEveryoneFullAccess(key);
}

uint32_t FailingRegistryStore::NotifyChange(RegKeyHandle key, bool watchSubtree, uint32_t filter, void* event,
                                            bool asynchronous) {
    uint32_t code;
    if (Intercept(RegOp::NotifyChange, key, {}, 0, &code)) return code;
    return inner_->NotifyChange(key, watchSubtree, filter, event, asynchronous);
}

uint32_t FailingRegistryStore::RunAtomically(const std::function<uint32_t()>& body) {
    uint32_t code;
    if (Intercept(RegOp::RunAtomically, nullptr, {}, 0, &code)) return code;
    return inner_->RunAtomically(body);
}

}  // namespace gptest
