// CObfuscatedRegKey.cpp - the scrambled storage form of value data.
#include "utility/CObfuscatedRegKey.h"
#include "base/ByteOrder.h"

#include <cstring>

namespace Kestrix::internal {

namespace reg = glimmerpane::platform;

namespace {
constexpr char kMarker[4] = {'G', 'P', 'X', '1'};
uint8_t Mask(size_t i) { return static_cast<uint8_t>(0xA7 + 31 * i); }
}  // namespace

std::string CObfuscatedRegKeyImpl::Scramble(uint32_t type, const void* data, uint32_t size) {
    std::string stored(kMarker, sizeof kMarker);
    glimmerpane::base::AppendLittleEndian(stored, type);
    const auto* bytes = static_cast<const uint8_t*>(data);
    for (uint32_t i = 0; i < size; ++i) stored += static_cast<char>(bytes[i] ^ Mask(i));
    return stored;
}

bool CObfuscatedRegKeyImpl::Unscramble(const std::string& stored, uint32_t* type, std::string* data) {
    if (stored.size() < 8 || std::memcmp(stored.data(), kMarker, sizeof kMarker) != 0) return false;
    *type = glimmerpane::base::LoadLe32(stored.data() + 4);
    data->resize(stored.size() - 8);
    for (size_t i = 0; i < data->size(); ++i) (*data)[i] = static_cast<char>(static_cast<uint8_t>(stored[8 + i]) ^ Mask(i));
    return true;
}

uint32_t CObfuscatedRegKeyImpl::SetValue(const wchar_t* name, uint32_t type, const void* data, uint32_t size) {
    if (data == nullptr || size == 0) return reg::kErrorInvalidParameter;
    const std::string stored = Scramble(type, data, size);
    return CRegKeyImpl::SetValue(name, reg::kRegBinary, stored.data(), static_cast<uint32_t>(stored.size()));
}

uint32_t CObfuscatedRegKeyImpl::QueryValue(const wchar_t* name, uint32_t* type, void* data, uint32_t* size) {
    if (data != nullptr && size == nullptr) return reg::kErrorInvalidParameter;
    std::string stored;
    uint32_t storedType = 0;
    uint32_t status = reg::kErrorMoreData;
    // Another writer may grow the value between asking its size and reading it.
    for (int attempt = 0; attempt < 4 && status == reg::kErrorMoreData; ++attempt) {
        uint32_t storedSize = 0;
        status = CRegKeyImpl::QueryValue(name, &storedType, nullptr, &storedSize);
        if (status != reg::kErrorSuccess) return status;
        stored.resize(storedSize);
        status = CRegKeyImpl::QueryValue(name, &storedType, stored.data(), &storedSize);
        stored.resize(storedSize);
    }
    if (status != reg::kErrorSuccess) return status;
    uint32_t realType = storedType;
    std::string plain;
    if (storedType != reg::kRegBinary || !Unscramble(stored, &realType, &plain)) plain = std::move(stored);
    if (type) *type = realType;
    const auto needed = static_cast<uint32_t>(plain.size());
    if (data != nullptr) {
        if (*size < needed) {
            *size = needed;
            return reg::kErrorMoreData;
        }
        std::memcpy(data, plain.data(), plain.size());
    }
    if (size) *size = needed;
    return reg::kErrorSuccess;
}

std::shared_ptr<CRegKeyImpl> CObfuscatedRegKeyImpl::NewSibling() const {
    return std::make_shared<CObfuscatedRegKeyImpl>(Store());
}

}  // namespace Kestrix::internal
