// RegistryAPI.cpp - single-value reads below HKEY_LOCAL_MACHINE through CRegKey.
#include "tiles/RegistryAPI.h"

#include "utility/CRegKey.h"

namespace Vornik {

namespace reg = glimmerpane::platform;

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
    Kestrix::CRegKey regKey(std::make_shared<Kestrix::internal::CRegKeyImpl>(store_));
    if (regKey.Open(reg::HkeyLocalMachine(), key, reg::kKeyRead) != reg::kErrorSuccess) return MODULE_STATUS_UNSUCCESSFUL;
    uint32_t read = 0;
    if (regKey.QueryDwordValue(valueName, &read) != reg::kErrorSuccess) return MODULE_STATUS_UNSUCCESSFUL;
    value = read;
    return MODULE_STATUS_SUCCESS;
}

}  // namespace Vornik
