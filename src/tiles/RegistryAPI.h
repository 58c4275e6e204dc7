// RegistryAPI.h - the module's thin registry access.
//
// Reads single values below HKEY_LOCAL_MACHINE through a plain Kestrix::CRegKey, opened
// with KEY_READ and no view flag. The registry it reads is given to the constructor (empty:
// the process registry); tests give a temporary store or derive and override the reads.
// Results are module statuses: MODULE_STATUS_SUCCESS, or MODULE_STATUS_UNSUCCESSFUL when
// the key cannot be opened or the value cannot be read. Failures are not logged here: the
// caller knows what the value was for and logs that. Safe to use from several threads.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "module/ModuleStatus.h"
#include "platform/Registry.h"

namespace Vornik {

class RegistryAPI {
public:
    explicit RegistryAPI(std::shared_ptr<glimmerpane::platform::RegistryStore> store = {});
    virtual ~RegistryAPI();

    // A REG_SZ or REG_EXPAND_SZ value of at most 260 characters (with its terminator);
    // a longer one fails. text is changed only on success.
    virtual ModuleStatus readString(const wchar_t* key, const wchar_t* valueName, std::wstring& text);
    // A REG_DWORD value; value is changed only on success.
    virtual ModuleStatus readDword(const wchar_t* key, const wchar_t* valueName, uint32_t& value);

    static constexpr uint32_t kMaxStringChars = 260;

private:
    std::shared_ptr<glimmerpane::platform::RegistryStore> store_;
};

}  // namespace Vornik
