// RegistryAPI.h - the module's thin registry access.
//
// Reads single values below HKEY_LOCAL_MACHINE through a plain Kestrix::CRegKey, opened
// with KEY_READ and no view flag. The registry it reads is given to the constructor (empty:
// the process registry); tests give a temporary store or derive and override the reads.
// Results are module statuses: MODULE_STATUS_SUCCESS, or MODULE_STATUS_UNSUCCESSFUL when
// the key cannot be opened or the value cannot be read. Failures are not logged here: the
// caller knows what the value was for and logs that. Safe to use from several threads.
//
// Values read together: a DwordSet names keys prepared once; while a Snapshot of it lives,
// readDword of those keys on the same thread answers from one consistent read of the whole
// set (one read transaction of the store, taken at the first such readDword). Callers still
// call readDword once per key, so a derived class that overrides readDword sees every read.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

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

    // DWORD values that are read together: the same value name under several keys, each
    // key given as a pointer that stays valid (readDword matches it by address).
    class DwordSet {
    public:
        DwordSet(std::vector<const wchar_t*> keys, std::wstring valueName);

    private:
        friend class RegistryAPI;
        std::vector<const wchar_t*> keys_;
        std::wstring valueName_;
        std::vector<glimmerpane::platform::RegDwordLocation> locations_;  // prepared by the first snapshot
        std::vector<uint32_t> prepareStatuses_;
        const glimmerpane::platform::RegistryStore* preparedFor_ = nullptr;
        // The current snapshot's results, kept so that a read allocates nothing.
        std::vector<uint32_t> values_;
        std::vector<uint32_t> statuses_;
    };

    // One consistent view of a set for this thread, until the object goes. The set must
    // outlive it, and one thread uses one set at a time for a given RegistryAPI.
    class Snapshot {
    public:
        Snapshot(RegistryAPI& registry, DwordSet& set);
        ~Snapshot();
        Snapshot(const Snapshot&) = delete;
        Snapshot& operator=(const Snapshot&) = delete;

    private:
        friend class RegistryAPI;
        RegistryAPI& registry_;
        DwordSet& set_;
        Snapshot* previous_;
        bool read_ = false;
        size_t next_ = 0;  // where the next key is looked for first: callers read in order
    };

private:
    // The answer of the current thread's snapshot for key, if it holds it.
    bool answerFromSnapshot(const wchar_t* key, const wchar_t* valueName, ModuleStatus& status, uint32_t& value);

    std::shared_ptr<glimmerpane::platform::RegistryStore> store_;
};

}  // namespace Vornik
