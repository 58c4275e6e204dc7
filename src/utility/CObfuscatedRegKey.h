// CObfuscatedRegKey.h - a registry key whose value data is stored scrambled.
//
// CObfuscatedRegKeyImpl overrides the two raw operations of CRegKeyImpl, so every typed
// operation of the key (DWORD, string, GUID, ...) reads and writes the scrambled form. A
// value is stored as REG_BINARY: the marker "GPX1", the value's real type (4 bytes,
// little-endian), then the data with each byte i XOR-ed with (0xA7 + 31 * i) mod 256.
// Reads give back the real type and data. A value that is not in that form (written by
// hand or by a plain key) reads as it is stored. The form is documented in docs/registry.md.
#pragma once

#include <memory>

#include "utility/CRegKey.h"

namespace Kestrix {

namespace internal {

class CObfuscatedRegKeyImpl : public CRegKeyImpl {
public:
    using CRegKeyImpl::CRegKeyImpl;

    uint32_t QueryValue(const wchar_t* name, uint32_t* type, void* data, uint32_t* size) override;
    uint32_t SetValue(const wchar_t* name, uint32_t type, const void* data, uint32_t size) override;

    // The stored form of (type, data) and back; false when stored is not in that form.
    static std::string Scramble(uint32_t type, const void* data, uint32_t size);
    static bool Unscramble(const std::string& stored, uint32_t* type, std::string* data);

protected:
    std::shared_ptr<CRegKeyImpl> NewSibling() const override;
};

}  // namespace internal

class CObfuscatedRegKey : public CRegKey {
public:
    explicit CObfuscatedRegKey(std::shared_ptr<glimmerpane::platform::RegistryStore> store = {})
        : CRegKey(std::make_shared<internal::CObfuscatedRegKeyImpl>(std::move(store))) {}
    explicit CObfuscatedRegKey(std::shared_ptr<internal::CObfuscatedRegKeyImpl> impl)
        : CRegKey(impl ? std::shared_ptr<internal::CRegKeyImpl>(std::move(impl))
                       : std::make_shared<internal::CObfuscatedRegKeyImpl>()) {}
};

}  // namespace Kestrix
