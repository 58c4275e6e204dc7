// CRegKey.h - the owning wrapper of one registry key with typed value access.
//
// All registry access of the program goes through Kestrix::CRegKey. The key handle and the
// typed operations live in Kestrix::internal::CRegKeyImpl, which CRegKey holds by shared
// pointer; copies of a CRegKey share one implementation and so one key. CRegKeyImpl talks
// to the platform registry (platform/Registry.h) given to its constructor (empty = the
// process registry), so tests point it at a temporary store or inject faults by
// overriding its virtual operations.
//
// Results are Win32 error codes: 0 success, 87 when no key is open or a required pointer is
// null, 13 when the stored value has the wrong type or shape, else the platform's code.
// Every typed operation reads and writes through QueryValue and SetValue, so a subclass that
// overrides those two changes the stored form of every value (CObfuscatedRegKeyImpl).
//
// Character counts of the string operations are UTF-16 units, as on Windows: a count is
// the stored byte count / 2. A wchar_t buffer of that many characters always suffices.
// A key object is used by one thread at a time.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "platform/Registry.h"
#include "base/Guid.h"

namespace Kestrix {

using HKEY = glimmerpane::platform::RegKeyHandle;
using glimmerpane::platform::RegFileTime;

using GUID = glimmerpane::base::Guid;

// "{XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX}" (upper-case hex), and its parser: true only for
// exactly that shape (either case); *guid is untouched on failure.
std::wstring GuidToString(const GUID& guid);
bool GuidFromString(std::wstring_view text, GUID* guid);

namespace internal {

class CRegKeyImpl {
public:
    explicit CRegKeyImpl(std::shared_ptr<glimmerpane::platform::RegistryStore> store = {});
    virtual ~CRegKeyImpl();  // closes the key
    CRegKeyImpl(const CRegKeyImpl&) = delete;
    CRegKeyImpl& operator=(const CRegKeyImpl&) = delete;

    // Raw RegQueryValueExW / RegSetValueExW. SetValue: null data or size 0 -> 87.
    virtual uint32_t QueryValue(const wchar_t* name, uint32_t* type, void* data, uint32_t* size);
    virtual uint32_t SetValue(const wchar_t* name, uint32_t type, const void* data, uint32_t size);

    virtual uint32_t SetGuidValue(const wchar_t* name, const GUID& guid);
    virtual uint32_t SetBinaryValue(const wchar_t* name, const void* data, uint32_t size);
    virtual uint32_t SetDwordValue(const wchar_t* name, uint32_t value);
    virtual uint32_t SetQwordValue(const wchar_t* name, uint64_t value);
    // type REG_SZ or REG_EXPAND_SZ (others: 87); null text -> 13.
    virtual uint32_t SetStringValue(const wchar_t* name, const wchar_t* text,
                                    uint32_t type = glimmerpane::platform::kRegSz);
    // text: strings each ended by "\0", the whole ended by one more "\0". null -> 13.
    virtual uint32_t SetMultiStringValue(const wchar_t* name, const wchar_t* text);

    // Zeroes *guid first; the string must begin with "{" and parse, else 13.
    virtual uint32_t QueryGuidValue(const wchar_t* name, GUID* guid);
    virtual uint32_t QueryBinaryValue(const wchar_t* name, void* data, uint32_t* size);
    virtual uint32_t QueryDwordValue(const wchar_t* name, uint32_t* value);
    virtual uint32_t QueryQwordValue(const wchar_t* name, uint64_t* value);
    // Asks the size, allocates and reads (14 when the allocation fails).
    virtual uint32_t QueryStringValue(const wchar_t* name, std::wstring* text);
    // REG_SZ or REG_EXPAND_SZ. buffer null: *chars becomes the size. With a buffer the data
    // must be an even number of bytes ending in a terminator (else 13); 0 bytes -> "".
    // Too small a buffer -> 234 (ERROR_MORE_DATA) and *chars 0.
    virtual uint32_t QueryStringValue(const wchar_t* name, wchar_t* buffer, uint32_t* chars);
    // A buffer of fewer than 2 characters -> 122. REG_MULTI_SZ only; the data must be an even
    // number of bytes, at least 2, ending in two terminators (or being one: the empty list).
    virtual uint32_t QueryMultiStringValue(const wchar_t* name, wchar_t* buffer, uint32_t* chars);

    virtual uint32_t GetKeySecurity(uint32_t information, void* descriptor, uint32_t* size);
    virtual uint32_t SetKeySecurity(uint32_t information, void* descriptor);

    // On success the previous key is closed and the new one taken, with its view bits.
    virtual uint32_t Create(HKEY root, const wchar_t* subKey, const wchar_t* keyClass = nullptr,
                            uint32_t options = glimmerpane::platform::kRegOptionNonVolatile,
                            uint32_t access = glimmerpane::platform::kKeyRead |
                                              glimmerpane::platform::kKeyWrite,
                            void* securityAttributes = nullptr, uint32_t* disposition = nullptr);
    virtual uint32_t Open(HKEY root, const wchar_t* subKey,
                          uint32_t access = glimmerpane::platform::kKeyRead |
                                            glimmerpane::platform::kKeyWrite);
    // Deletes the key's whole tree first when delete-on-close is set.
    virtual uint32_t Close();
    virtual uint32_t Flush();
    virtual HKEY Detach();
    virtual void Attach(HKEY key);
    // name: a buffer of *chars characters; *chars becomes the name's length. 259 at the end,
    // 234 when the buffer is too small.
    virtual uint32_t EnumSubKey(uint32_t index, wchar_t* name, uint32_t* chars, RegFileTime* lastWrite = nullptr);
    virtual uint32_t NotifyChange(bool watchSubtree, uint32_t filter, void* event, bool asynchronous = true);
    virtual uint32_t DeleteSubKey(const wchar_t* name);
    virtual uint32_t DeleteSubKeyTree(const wchar_t* name);
    virtual uint32_t DeleteValue(const wchar_t* name);
    virtual uint32_t GrantEveryoneFullAccess(bool recursive);
    virtual void SetDeleteOnClose(bool deleteOnClose);
    virtual bool IsDeleteOnClose() const;

    HKEY GetHandle() const { return key_; }
    uint32_t ViewFlags() const { return viewFlags_; }
    const std::shared_ptr<glimmerpane::platform::RegistryStore>& Store() const { return store_; }

protected:
    // A fresh implementation of the same kind for a subkey (DeleteSubKeyTree).
    virtual std::shared_ptr<CRegKeyImpl> NewSibling() const;

private:
    std::shared_ptr<glimmerpane::platform::RegistryStore> store_;
    HKEY key_ = nullptr;
    uint32_t viewFlags_ = 0;
    bool deleteOnClose_ = false;
};

}  // namespace internal

class CRegKey {
public:
    CRegKey();
    explicit CRegKey(std::shared_ptr<internal::CRegKeyImpl> impl);  // null: a fresh one
    virtual ~CRegKey();                                             // closes the key

    HKEY GetHandle() const { return impl_->GetHandle(); }
    void Attach(HKEY key) { impl_->Attach(key); }
    HKEY Detach() { return impl_->Detach(); }
    uint32_t Close() { return impl_->Close(); }
    const std::shared_ptr<internal::CRegKeyImpl>& Impl() const { return impl_; }

    virtual uint32_t QueryValue(const wchar_t* name, uint32_t* type, void* data, uint32_t* size);
    virtual uint32_t SetValue(const wchar_t* name, uint32_t type, const void* data, uint32_t size);
    virtual uint32_t SetGuidValue(const wchar_t* name, const GUID& guid);
    virtual uint32_t SetBinaryValue(const wchar_t* name, const void* data, uint32_t size);
    virtual uint32_t SetDwordValue(const wchar_t* name, uint32_t value);
    virtual uint32_t SetQwordValue(const wchar_t* name, uint64_t value);
    virtual uint32_t SetStringValue(const wchar_t* name, const wchar_t* text,
                                    uint32_t type = glimmerpane::platform::kRegSz);
    virtual uint32_t SetMultiStringValue(const wchar_t* name, const wchar_t* text);
    virtual uint32_t QueryGuidValue(const wchar_t* name, GUID* guid);
    virtual uint32_t QueryBinaryValue(const wchar_t* name, void* data, uint32_t* size);
    virtual uint32_t QueryDwordValue(const wchar_t* name, uint32_t* value);
    virtual uint32_t QueryQwordValue(const wchar_t* name, uint64_t* value);
    virtual uint32_t QueryStringValue(const wchar_t* name, std::wstring* text);
    virtual uint32_t QueryStringValue(const wchar_t* name, wchar_t* buffer, uint32_t* chars);
    virtual uint32_t QueryMultiStringValue(const wchar_t* name, wchar_t* buffer, uint32_t* chars);
    virtual uint32_t GetKeySecurity(uint32_t information, void* descriptor, uint32_t* size);
    virtual uint32_t SetKeySecurity(uint32_t information, void* descriptor);
    virtual uint32_t Create(HKEY root, const wchar_t* subKey, const wchar_t* keyClass = nullptr,
                            uint32_t options = glimmerpane::platform::kRegOptionNonVolatile,
                            uint32_t access = glimmerpane::platform::kKeyRead |
                                              glimmerpane::platform::kKeyWrite,
                            void* securityAttributes = nullptr, uint32_t* disposition = nullptr);
    virtual uint32_t Open(HKEY root, const wchar_t* subKey,
                          uint32_t access = glimmerpane::platform::kKeyRead |
                                            glimmerpane::platform::kKeyWrite);
    virtual uint32_t Flush();
    virtual uint32_t EnumSubKey(uint32_t index, wchar_t* name, uint32_t* chars, RegFileTime* lastWrite = nullptr);
    virtual uint32_t NotifyChange(bool watchSubtree, uint32_t filter, void* event, bool asynchronous = true);
    virtual uint32_t DeleteSubKey(const wchar_t* name);
    virtual uint32_t DeleteSubKeyTree(const wchar_t* name);
    virtual uint32_t DeleteValue(const wchar_t* name);
    virtual uint32_t GrantEveryoneFullAccess(bool recursive);

    // Not virtual in the wrapper: the flag lives in the implementation.
    void SetDeleteOnClose(bool deleteOnClose) { impl_->SetDeleteOnClose(deleteOnClose); }
    bool IsDeleteOnClose() const { return impl_->IsDeleteOnClose(); }

private:
    std::shared_ptr<internal::CRegKeyImpl> impl_;
};

}  // namespace Kestrix
