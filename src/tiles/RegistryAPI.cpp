// RegistryAPI.cpp - single-value reads below HKEY_LOCAL_MACHINE through CRegKey, and sets of
// values read in one go.
#include "tiles/RegistryAPI.h"

#include <cwchar>

#include "utility/CRegKey.h"

namespace Vornik {

namespace reg = glimmerpane::platform;

namespace {
// The snapshot the current thread reads through, innermost first.
thread_local RegistryAPI::Snapshot* t_snapshot = nullptr;
}  // namespace

RegistryAPI::RegistryAPI(std::shared_ptr<reg::RegistryStore> store)
    : store_(store ? std::move(store) : reg::DefaultRegistryStore()) {}

RegistryAPI::~RegistryAPI() = default;

ModuleStatus RegistryAPI::readString(const wchar_t* key, const wchar_t* valueName, std::wstring& text) {
    if (key == nullptr) return MODULE_STATUS_UNSUCCESSFUL;
    Kestrix::CRegKey regKey(std::make_shared<Kestrix::internal::CRegKeyImpl>(store_));
    if (regKey.Open(reg::HkeyLocalMachine(), key, reg::kKeyRead) != reg::kErrorSuccess) return MODULE_STATUS_UNSUCCESSFUL;
    wchar_t buffer[kMaxStringChars];
    uint32_t chars = kMaxStringChars;
    if (regKey.QueryStringValue(valueName, buffer, &chars) != reg::kErrorSuccess) return MODULE_STATUS_UNSUCCESSFUL;
    text.assign(chars == 0 ? L"" : buffer);
    return MODULE_STATUS_SUCCESS;
}

ModuleStatus RegistryAPI::readDword(const wchar_t* key, const wchar_t* valueName, uint32_t& value) {
    if (key == nullptr) return MODULE_STATUS_UNSUCCESSFUL;
    if (ModuleStatus status; answerFromSnapshot(key, valueName, status, value)) return status;
    Kestrix::CRegKey regKey(std::make_shared<Kestrix::internal::CRegKeyImpl>(store_));
    if (regKey.Open(reg::HkeyLocalMachine(), key, reg::kKeyRead) != reg::kErrorSuccess) return MODULE_STATUS_UNSUCCESSFUL;
    uint32_t read = 0;
    if (regKey.QueryDwordValue(valueName, &read) != reg::kErrorSuccess) return MODULE_STATUS_UNSUCCESSFUL;
    value = read;
    return MODULE_STATUS_SUCCESS;
}

RegistryAPI::DwordSet::DwordSet(std::vector<const wchar_t*> keys, std::wstring valueName)
    : keys_(std::move(keys)), valueName_(std::move(valueName)) {}

RegistryAPI::Snapshot::Snapshot(RegistryAPI& registry, DwordSet& set)
    : registry_(registry), set_(set), previous_(t_snapshot) {
    t_snapshot = this;
}

RegistryAPI::Snapshot::~Snapshot() { t_snapshot = previous_; }

bool RegistryAPI::answerFromSnapshot(const wchar_t* key, const wchar_t* valueName, ModuleStatus& status,
                                     uint32_t& value) {
    Snapshot* snapshot = t_snapshot;
    if (snapshot == nullptr || &snapshot->registry_ != this) return false;
    DwordSet& set = snapshot->set_;
    const size_t count = set.keys_.size();
    size_t index = count;
    for (size_t step = 0; step < count && index == count; ++step) {
        const size_t candidate = (snapshot->next_ + step) % count;
        if (set.keys_[candidate] == key) index = candidate;
    }
    if (index == count || valueName == nullptr || set.valueName_ != valueName) return false;
    if (!snapshot->read_) {
        // Key paths are split and folded once per store, not once per read.
        if (set.preparedFor_ != store_.get()) {
            set.locations_.assign(count, {});
            set.prepareStatuses_.assign(count, reg::kErrorSuccess);
            for (size_t i = 0; i < count; ++i) {
                set.locations_[i] = {reg::HkeyLocalMachine(), set.keys_[i], set.valueName_, {}};
                set.prepareStatuses_[i] = store_->PrepareValue(&set.locations_[i]);
            }
            set.preparedFor_ = store_.get();
        }
        set.values_.assign(count, 0);
        set.statuses_.assign(count, reg::kErrorSuccess);
        store_->ReadDwordValues(set.locations_.data(), count, set.values_.data(), set.statuses_.data());
        for (size_t i = 0; i < count; ++i) {
            if (set.prepareStatuses_[i] != reg::kErrorSuccess) set.statuses_[i] = set.prepareStatuses_[i];
        }
        snapshot->read_ = true;
    }
    snapshot->next_ = index + 1;
    if (set.statuses_[index] != reg::kErrorSuccess) {
        status = MODULE_STATUS_UNSUCCESSFUL;
        return true;
    }
    value = set.values_[index];
    status = MODULE_STATUS_SUCCESS;
    return true;
}

}  // namespace Vornik
