// CRegKey.cpp - the registry key wrapper and its implementation over the platform registry.
#include "utility/CRegKey.h"
#include "base/Guid.h"
#include "base/ByteOrder.h"

#include <algorithm>
#include <cstring>
#include <new>
#include <vector>

#include "base/Utf.h"

namespace Kestrix {

namespace reg = glimmerpane::platform;

namespace {

constexpr uint32_t kSuccess = reg::kErrorSuccess;
constexpr uint32_t kInvalidParameter = reg::kErrorInvalidParameter;
constexpr uint32_t kInvalidData = reg::kErrorInvalidData;

std::wstring_view NameOf(const wchar_t* name) { return name ? std::wstring_view(name) : std::wstring_view(); }

std::string Utf16Bytes(std::wstring_view text) { return glimmerpane::base::Utf16LeBytesFromWide(text, false); }

std::u16string UnitsOf(const uint8_t* bytes, size_t count) { return glimmerpane::base::Utf16FromLeBytes(bytes, count); }

}  // namespace

std::wstring GuidToString(const GUID& guid) { return glimmerpane::base::GuidToText(guid); }

bool GuidFromString(std::wstring_view text, GUID* guid) { return glimmerpane::base::GuidFromText(text, guid); }

namespace internal {

CRegKeyImpl::CRegKeyImpl(std::shared_ptr<reg::RegistryStore> store)
    : store_(store ? std::move(store) : reg::DefaultRegistryStore()) {}

CRegKeyImpl::~CRegKeyImpl() { CRegKeyImpl::Close(); }

std::shared_ptr<CRegKeyImpl> CRegKeyImpl::NewSibling() const { return std::make_shared<CRegKeyImpl>(store_); }

uint32_t CRegKeyImpl::QueryValue(const wchar_t* name, uint32_t* type, void* data, uint32_t* size) {
    if (key_ == nullptr) return kInvalidParameter;
    return store_->QueryValue(key_, NameOf(name), type, static_cast<uint8_t*>(data), size);
}

uint32_t CRegKeyImpl::SetValue(const wchar_t* name, uint32_t type, const void* data, uint32_t size) {
    if (key_ == nullptr || data == nullptr || size == 0) return kInvalidParameter;
    return store_->SetValue(key_, NameOf(name), type, static_cast<const uint8_t*>(data), size);
}

uint32_t CRegKeyImpl::SetGuidValue(const wchar_t* name, const GUID& guid) {
    return SetStringValue(name, GuidToString(guid).c_str());
}

uint32_t CRegKeyImpl::SetBinaryValue(const wchar_t* name, const void* data, uint32_t size) {
    return SetValue(name, reg::kRegBinary, data, size);
}

uint32_t CRegKeyImpl::SetDwordValue(const wchar_t* name, uint32_t value) {
    uint8_t bytes[4];
    for (int i = 0; i < 4; ++i) bytes[i] = static_cast<uint8_t>(value >> (8 * i));
    return SetValue(name, reg::kRegDword, bytes, sizeof bytes);
}

uint32_t CRegKeyImpl::SetQwordValue(const wchar_t* name, uint64_t value) {
    uint8_t bytes[8];
    for (int i = 0; i < 8; ++i) bytes[i] = static_cast<uint8_t>(value >> (8 * i));
    return SetValue(name, reg::kRegQword, bytes, sizeof bytes);
}

uint32_t CRegKeyImpl::SetStringValue(const wchar_t* name, const wchar_t* text, uint32_t type) {
    if (text == nullptr) return kInvalidData;
    if (type != reg::kRegSz && type != reg::kRegExpandSz) return kInvalidParameter;
    std::string bytes = Utf16Bytes(text);
    bytes.append(2, '\0');
    return SetValue(name, type, bytes.data(), static_cast<uint32_t>(bytes.size()));
}

uint32_t CRegKeyImpl::SetMultiStringValue(const wchar_t* name, const wchar_t* text) {
    if (text == nullptr) return kInvalidData;
    // The list ends at the first empty string; its size counts every terminator.
    const wchar_t* end = text;
    while (*end != L'\0') end += std::wcslen(end) + 1;
    std::string bytes = Utf16Bytes(std::wstring_view(text, static_cast<size_t>(end - text)));
    bytes.append(2, '\0');
    if (end == text) bytes.append(2, '\0');  // the empty list is two terminators
    return SetValue(name, reg::kRegMultiSz, bytes.data(), static_cast<uint32_t>(bytes.size()));
}

uint32_t CRegKeyImpl::QueryGuidValue(const wchar_t* name, GUID* guid) {
    if (guid == nullptr) return kInvalidParameter;
    *guid = GUID{};
    wchar_t text[64];
    uint32_t chars = 64;
    const uint32_t status = QueryStringValue(name, text, &chars);
    if (status != kSuccess) return status;
    if (text[0] != L'{' || !GuidFromString(text, guid)) return kInvalidData;
    return kSuccess;
}

uint32_t CRegKeyImpl::QueryBinaryValue(const wchar_t* name, void* data, uint32_t* size) {
    if (size == nullptr) return kInvalidParameter;
    // Read aside first: a value of another type must leave the caller's buffer as it was.
    uint32_t type = 0;
    uint32_t bytes = *size;
    // One byte at least, so a zero-size buffer is not taken for a size query.
    std::vector<uint8_t> raw(data != nullptr ? std::max<uint32_t>(bytes, 1) : 0);
    const uint32_t status = QueryValue(name, &type, data != nullptr ? raw.data() : nullptr, &bytes);
    if (status != kSuccess && status != reg::kErrorMoreData) return status;
    if (type != reg::kRegBinary) return kInvalidData;
    *size = bytes;
    if (status != kSuccess) return status;
    if (data != nullptr) std::memcpy(data, raw.data(), bytes);
    return kSuccess;
}

uint32_t CRegKeyImpl::QueryDwordValue(const wchar_t* name, uint32_t* value) {
    if (value == nullptr) return kInvalidParameter;
    uint8_t bytes[4];
    uint32_t size = sizeof bytes, type = 0;
    const uint32_t status = QueryValue(name, &type, bytes, &size);
    // Anything larger than 4 bytes cannot be a DWORD, whatever its type says.
    if (status == reg::kErrorMoreData) return kInvalidData;
    if (status != kSuccess) return status;
    if (type != reg::kRegDword || size != sizeof bytes) return kInvalidData;
    *value = glimmerpane::base::LoadLe32(bytes);
    return kSuccess;
}

uint32_t CRegKeyImpl::QueryQwordValue(const wchar_t* name, uint64_t* value) {
    if (value == nullptr) return kInvalidParameter;
    uint8_t bytes[8];
    uint32_t size = sizeof bytes, type = 0;
    const uint32_t status = QueryValue(name, &type, bytes, &size);
    if (status == reg::kErrorMoreData) return kInvalidData;
    if (status != kSuccess) return status;
    if (type != reg::kRegQword || size != sizeof bytes) return kInvalidData;
    *value = glimmerpane::base::LoadLe64(bytes);
    return kSuccess;
}

uint32_t CRegKeyImpl::QueryStringValue(const wchar_t* name, std::wstring* text) {
    if (text == nullptr) return kInvalidParameter;
    uint32_t chars = 0;
    uint32_t status = QueryStringValue(name, nullptr, &chars);
    if (status != kSuccess) return status;
    std::vector<wchar_t> buffer;
    try {
        buffer.resize(static_cast<size_t>(chars) + 1);
    } catch (const std::bad_alloc&) {
        return reg::kErrorOutOfMemory;
    }
    chars = static_cast<uint32_t>(buffer.size());
    status = QueryStringValue(name, buffer.data(), &chars);
    if (status != kSuccess) return status;
    text->assign(buffer.data());
    return kSuccess;
}

uint32_t CRegKeyImpl::QueryStringValue(const wchar_t* name, wchar_t* buffer, uint32_t* chars) {
    if (chars == nullptr) return kInvalidParameter;
    const uint32_t capacity = *chars;
    *chars = 0;
    uint32_t type = 0;
    uint32_t bytes = 0;
    std::vector<uint8_t> raw;
    if (buffer == nullptr) {
        const uint32_t status = QueryValue(name, &type, nullptr, &bytes);
        if (status != kSuccess) return status;
        if (type != reg::kRegSz && type != reg::kRegExpandSz) return kInvalidData;
        *chars = bytes / 2;
        return kSuccess;
    }
    // A zero-capacity buffer cannot even hold the empty string's terminator.
    if (capacity == 0) return reg::kErrorMoreData;
    bytes = capacity * 2;
    raw.resize(bytes);
    const uint32_t status = QueryValue(name, &type, raw.data(), &bytes);
    if (status != kSuccess) return status;
    if (type != reg::kRegSz && type != reg::kRegExpandSz) return kInvalidData;
    if (bytes == 0) {
        buffer[0] = L'\0';
        return kSuccess;
    }
    const std::u16string units = UnitsOf(raw.data(), bytes);
    if (bytes % 2 != 0 || units.back() != u'\0') return kInvalidData;
    const std::wstring wide = glimmerpane::base::WideFromUtf16(units);  // never longer than units
    std::wmemcpy(buffer, wide.data(), wide.size());
    *chars = bytes / 2;
    return kSuccess;
}

uint32_t CRegKeyImpl::QueryMultiStringValue(const wchar_t* name, wchar_t* buffer, uint32_t* chars) {
    if (chars == nullptr) return kInvalidParameter;
    if (buffer != nullptr && *chars < 2) return reg::kErrorInsufficientBuffer;
    uint32_t bytes = buffer ? *chars * 2 : 0;
    *chars = 0;
    uint32_t type = 0;
    std::vector<uint8_t> raw(bytes);
    const uint32_t status = QueryValue(name, &type, buffer ? raw.data() : nullptr, &bytes);
    if (status != kSuccess) return status;
    if (type != reg::kRegMultiSz) return kInvalidData;
    if (buffer != nullptr) {
        if (bytes % 2 != 0 || bytes < 2) return kInvalidData;
        const std::u16string units = UnitsOf(raw.data(), bytes);
        const size_t n = units.size();
        // Even the empty list ends in two terminators (it is what SetMultiStringValue writes).
        if (n < 2 || units[n - 1] != u'\0' || units[n - 2] != u'\0') return kInvalidData;
        const std::wstring wide = glimmerpane::base::WideFromUtf16(units);
        std::wmemcpy(buffer, wide.data(), wide.size());
    }
    *chars = bytes / 2;
    return kSuccess;
}

uint32_t CRegKeyImpl::GetKeySecurity(uint32_t information, void* descriptor, uint32_t* size) {
    if (key_ == nullptr || size == nullptr) return kInvalidParameter;
    return store_->GetKeySecurity(key_, information, descriptor, size);
}

uint32_t CRegKeyImpl::SetKeySecurity(uint32_t information, void* descriptor) {
    if (key_ == nullptr || descriptor == nullptr) return kInvalidParameter;
    return store_->SetKeySecurity(key_, information, descriptor);
}

uint32_t CRegKeyImpl::Create(HKEY root, const wchar_t* subKey, const wchar_t*, uint32_t options, uint32_t access,
                             void*, uint32_t* disposition) {
    if (root == nullptr || subKey == nullptr) return kInvalidParameter;
    HKEY created = nullptr;
    const uint32_t status = store_->CreateKey(root, subKey, options, access, &created, disposition);
    if (status != kSuccess) return status;
    Close();
    key_ = created;
    viewFlags_ = access & reg::kKeyWow64Res;
    return kSuccess;
}

uint32_t CRegKeyImpl::Open(HKEY root, const wchar_t* subKey, uint32_t access) {
    if (root == nullptr) return kInvalidParameter;
    HKEY opened = nullptr;
    const uint32_t status = store_->OpenKey(root, NameOf(subKey), access, &opened);
    if (status != kSuccess) return status;
    Close();
    key_ = opened;
    viewFlags_ = access & reg::kKeyWow64Res;
    return kSuccess;
}

uint32_t CRegKeyImpl::Close() {
    if (key_ == nullptr) return kSuccess;
    uint32_t status = kSuccess;
    if (deleteOnClose_) {
        // The key is gone with its tree; a failure still closes the handle.
        status = store_->DeleteTree(key_, L"");
        deleteOnClose_ = false;
    }
    const uint32_t closed = store_->CloseKey(key_);
    key_ = nullptr;
    viewFlags_ = 0;
    return status != kSuccess ? status : closed;
}

uint32_t CRegKeyImpl::Flush() {
    if (key_ == nullptr) return kInvalidParameter;
    return store_->FlushKey(key_);
}

HKEY CRegKeyImpl::Detach() {
    HKEY key = key_;
    key_ = nullptr;
    viewFlags_ = 0;
    deleteOnClose_ = false;
    return key;
}

void CRegKeyImpl::Attach(HKEY key) {
    Close();
    key_ = key;
    viewFlags_ = 0;
    deleteOnClose_ = false;
}

uint32_t CRegKeyImpl::EnumSubKey(uint32_t index, wchar_t* name, uint32_t* chars, RegFileTime* lastWrite) {
    if (key_ == nullptr || name == nullptr || chars == nullptr) return kInvalidParameter;
    std::wstring found;
    const uint32_t status = store_->EnumKey(key_, index, &found, lastWrite);
    if (status != kSuccess) return status;
    if (found.size() + 1 > *chars) return reg::kErrorMoreData;
    std::wmemcpy(name, found.c_str(), found.size() + 1);
    *chars = static_cast<uint32_t>(found.size());
    return kSuccess;
}

uint32_t CRegKeyImpl::NotifyChange(bool watchSubtree, uint32_t filter, void* event, bool asynchronous) {
    if (key_ == nullptr) return kInvalidParameter;
    return store_->NotifyChange(key_, watchSubtree, filter, event, asynchronous);
}

uint32_t CRegKeyImpl::DeleteSubKey(const wchar_t* name) {
    if (key_ == nullptr || name == nullptr) return kInvalidParameter;
    return store_->DeleteKey(key_, name, viewFlags_);
}

uint32_t CRegKeyImpl::DeleteSubKeyTree(const wchar_t* name) {
    if (key_ == nullptr || name == nullptr) return kInvalidParameter;
    std::shared_ptr<CRegKeyImpl> child = NewSibling();
    uint32_t status = child->Open(key_, name, viewFlags_ | reg::kKeyDeleteTreeAccess);
    if (status != kSuccess) return status;
    wchar_t grandchild[256];
    uint32_t chars = 256;
    while ((status = child->EnumSubKey(0, grandchild, &chars)) == kSuccess) {
        status = child->DeleteSubKeyTree(grandchild);
        if (status != kSuccess) return status;
        chars = 256;
    }
    // The loop ends normally when no child is left; anything else is a real failure.
    if (status != reg::kErrorNoMoreItems) return status;
    child->Close();
    return DeleteSubKey(name);
}

uint32_t CRegKeyImpl::DeleteValue(const wchar_t* name) {
    if (key_ == nullptr) return kInvalidParameter;
    return store_->DeleteValue(key_, NameOf(name));
}

uint32_t CRegKeyImpl::GrantEveryoneFullAccess(bool recursive) {
    if (key_ == nullptr) return kInvalidParameter;
    uint32_t status = store_->GrantEveryoneFullAccess(key_);
    if (status != kSuccess || !recursive) return status;
    for (uint32_t index = 0;; ++index) {
        wchar_t name[256];
        uint32_t chars = 256;
        status = EnumSubKey(index, name, &chars);
        if (status == reg::kErrorNoMoreItems) return kSuccess;
        if (status != kSuccess) return status;
        std::shared_ptr<CRegKeyImpl> child = NewSibling();
        status = child->Open(key_, name, viewFlags_ | reg::kKeyAllAccess);
        if (status == kSuccess) status = child->GrantEveryoneFullAccess(true);
        if (status != kSuccess) return status;
    }
}

void CRegKeyImpl::SetDeleteOnClose(bool deleteOnClose) { deleteOnClose_ = deleteOnClose; }
bool CRegKeyImpl::IsDeleteOnClose() const { return deleteOnClose_; }

}  // namespace internal

// ---- CRegKey: forwards to its implementation ----

CRegKey::CRegKey() : impl_(std::make_shared<internal::CRegKeyImpl>()) {}
CRegKey::CRegKey(std::shared_ptr<internal::CRegKeyImpl> impl)
    : impl_(impl ? std::move(impl) : std::make_shared<internal::CRegKeyImpl>()) {}

// Copies share the key: only the last one closes it, so that destroying a copy cannot
// pull the key from under the others.
CRegKey::~CRegKey() {
    if (impl_.use_count() == 1) impl_->Close();
}

uint32_t CRegKey::QueryValue(const wchar_t* n, uint32_t* t, void* d, uint32_t* s) { return impl_->QueryValue(n, t, d, s); }
uint32_t CRegKey::SetValue(const wchar_t* n, uint32_t t, const void* d, uint32_t s) { return impl_->SetValue(n, t, d, s); }
uint32_t CRegKey::SetGuidValue(const wchar_t* n, const GUID& g) { return impl_->SetGuidValue(n, g); }
uint32_t CRegKey::SetBinaryValue(const wchar_t* n, const void* d, uint32_t s) { return impl_->SetBinaryValue(n, d, s); }
uint32_t CRegKey::SetDwordValue(const wchar_t* n, uint32_t v) { return impl_->SetDwordValue(n, v); }
uint32_t CRegKey::SetQwordValue(const wchar_t* n, uint64_t v) { return impl_->SetQwordValue(n, v); }
uint32_t CRegKey::SetStringValue(const wchar_t* n, const wchar_t* t, uint32_t ty) { return impl_->SetStringValue(n, t, ty); }
uint32_t CRegKey::SetMultiStringValue(const wchar_t* n, const wchar_t* t) { return impl_->SetMultiStringValue(n, t); }
uint32_t CRegKey::QueryGuidValue(const wchar_t* n, GUID* g) { return impl_->QueryGuidValue(n, g); }
uint32_t CRegKey::QueryBinaryValue(const wchar_t* n, void* d, uint32_t* s) { return impl_->QueryBinaryValue(n, d, s); }
uint32_t CRegKey::QueryDwordValue(const wchar_t* n, uint32_t* v) { return impl_->QueryDwordValue(n, v); }
uint32_t CRegKey::QueryQwordValue(const wchar_t* n, uint64_t* v) { return impl_->QueryQwordValue(n, v); }
uint32_t CRegKey::QueryStringValue(const wchar_t* n, std::wstring* t) { return impl_->QueryStringValue(n, t); }
uint32_t CRegKey::QueryStringValue(const wchar_t* n, wchar_t* b, uint32_t* c) { return impl_->QueryStringValue(n, b, c); }
uint32_t CRegKey::QueryMultiStringValue(const wchar_t* n, wchar_t* b, uint32_t* c) { return impl_->QueryMultiStringValue(n, b, c); }
uint32_t CRegKey::GetKeySecurity(uint32_t i, void* d, uint32_t* s) { return impl_->GetKeySecurity(i, d, s); }
uint32_t CRegKey::SetKeySecurity(uint32_t i, void* d) { return impl_->SetKeySecurity(i, d); }
uint32_t CRegKey::Create(HKEY r, const wchar_t* s, const wchar_t* c, uint32_t o, uint32_t a, void* sa, uint32_t* d) {
    return impl_->Create(r, s, c, o, a, sa, d);
}
uint32_t CRegKey::Open(HKEY r, const wchar_t* s, uint32_t a) { return impl_->Open(r, s, a); }
uint32_t CRegKey::Flush() { return impl_->Flush(); }
uint32_t CRegKey::EnumSubKey(uint32_t i, wchar_t* n, uint32_t* c, RegFileTime* t) { return impl_->EnumSubKey(i, n, c, t); }
uint32_t CRegKey::NotifyChange(bool w, uint32_t f, void* e, bool a) { return impl_->NotifyChange(w, f, e, a); }
uint32_t CRegKey::DeleteSubKey(const wchar_t* n) { return impl_->DeleteSubKey(n); }
uint32_t CRegKey::DeleteSubKeyTree(const wchar_t* n) { return impl_->DeleteSubKeyTree(n); }
uint32_t CRegKey::DeleteValue(const wchar_t* n) { return impl_->DeleteValue(n); }
uint32_t CRegKey::GrantEveryoneFullAccess(bool r) { return impl_->GrantEveryoneFullAccess(r); }

}  // namespace Kestrix
