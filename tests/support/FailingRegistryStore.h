// FailingRegistryStore.h - a registry store that fails on request, over a working one.
//
// Forwards every call to the store it wraps, counts the calls of each operation and logs
// their key handle, name and access rights. A Fault makes calls answer its Win32 code
// instead of reaching the wrapped store: from the Nth counted call on (0 is the first), for
// a number of calls or for good, counting every operation or only the ones named. So a
// test can fail "the second value query" or "every call from the fifth on" and check that
// the code under test ends in the right status and record. It also tracks the handles it
// handed out, so that a test can check that a failure path closes what it opened.
//
// Usage:
//   auto store = std::make_shared<gptest::FailingRegistryStore>(gptest::MakeMemoryRegistryStore());
//   store->Fail({.code = kErrorRegistryIoFailed, .from = 1, .only = {gptest::RegOp::QueryValue}});
//
// Safe to use from several threads, like the stores it wraps.
#pragma once

#include <cstdint>
#include <iosfwd>
#include <limits>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <vector>

#include "platform/Registry.h"

namespace gptest {

enum class RegOp {
    OpenKey, CreateKey, CloseKey, DeleteKey, DeleteTree, QueryValue, SetValue, DeleteValue, EnumKey,
    EnumValue, QueryInfoKey, KeyPath, FlushKey, GetKeySecurity, SetKeySecurity, GrantEveryoneFullAccess,
    NotifyChange, RunAtomically,
};
inline constexpr size_t kRegOpCount = static_cast<size_t>(RegOp::RunAtomically) + 1;

const char* RegOpName(RegOp op);

class FailingRegistryStore final : public glimmerpane::platform::RegistryStore {
public:
    static constexpr uint64_t kForGood = std::numeric_limits<uint64_t>::max();

    struct Fault {
        uint32_t code = glimmerpane::platform::kErrorRegistryIoFailed;
        uint64_t from = 0;          // the first counted call that fails, 0-based
        uint64_t times = kForGood;  // how many counted calls fail from there
        std::vector<RegOp> only;    // the operations that count; empty: every operation
    };

    // One call as it arrived: the key handle it names, its subkey or value name (empty for
    // calls without one) and its access rights or view flags (0 for calls without them).
    struct Call {
        RegOp op;
        glimmerpane::platform::RegKeyHandle key;
        std::wstring name;
        uint32_t access;
    };

    explicit FailingRegistryStore(std::shared_ptr<glimmerpane::platform::RegistryStore> inner);

    // Replaces any earlier fault; its count starts at the next call.
    void Fail(Fault fault);
    // Forwards every call again.
    void Heal();

    uint64_t Calls(RegOp op) const;  // calls of op so far, failed or not
    uint64_t Failures() const;       // calls answered by a fault
    std::vector<Call> Log() const;
    // The last call of op; a Call with op set and the rest empty when there was none.
    Call Last(RegOp op) const;
    // Handles from OpenKey and CreateKey not yet closed through this store.
    size_t OpenHandles() const;

    uint32_t OpenKey(glimmerpane::platform::RegKeyHandle key, std::wstring_view subKey, uint32_t access,
                     glimmerpane::platform::RegKeyHandle* result) override;
    uint32_t CreateKey(glimmerpane::platform::RegKeyHandle key, std::wstring_view subKey, uint32_t options,
                       uint32_t access, glimmerpane::platform::RegKeyHandle* result, uint32_t* disposition) override;
    uint32_t CloseKey(glimmerpane::platform::RegKeyHandle key) override;
    uint32_t DeleteKey(glimmerpane::platform::RegKeyHandle key, std::wstring_view subKey, uint32_t viewFlags) override;
    uint32_t DeleteTree(glimmerpane::platform::RegKeyHandle key, std::wstring_view subKey) override;
    uint32_t QueryValue(glimmerpane::platform::RegKeyHandle key, std::wstring_view name, uint32_t* type,
                        uint8_t* data, uint32_t* size) override;
    uint32_t SetValue(glimmerpane::platform::RegKeyHandle key, std::wstring_view name, uint32_t type,
                      const uint8_t* data, uint32_t size) override;
    uint32_t DeleteValue(glimmerpane::platform::RegKeyHandle key, std::wstring_view name) override;
    uint32_t EnumKey(glimmerpane::platform::RegKeyHandle key, uint32_t index, std::wstring* name,
                     glimmerpane::platform::RegFileTime* lastWrite) override;
    uint32_t EnumValue(glimmerpane::platform::RegKeyHandle key, uint32_t index, std::wstring* name, uint32_t* type,
                       std::string* data) override;
    uint32_t QueryInfoKey(glimmerpane::platform::RegKeyHandle key, glimmerpane::platform::RegKeyInfo* info) override;
    uint32_t KeyPath(glimmerpane::platform::RegKeyHandle key, std::wstring* path) override;
    uint32_t FlushKey(glimmerpane::platform::RegKeyHandle key) override;
    uint32_t GetKeySecurity(glimmerpane::platform::RegKeyHandle key, uint32_t information, void* descriptor,
                            uint32_t* size) override;
    uint32_t SetKeySecurity(glimmerpane::platform::RegKeyHandle key, uint32_t information, void* descriptor) override;
    uint32_t GrantEveryoneFullAccess(glimmerpane::platform::RegKeyHandle key) override;
    uint32_t NotifyChange(glimmerpane::platform::RegKeyHandle key, bool watchSubtree, uint32_t filter, void* event,
                          bool asynchronous) override;
    uint32_t RunAtomically(const std::function<uint32_t()>& body) override;

private:
    // Counts and logs the call; true (with *code set) when the fault answers it.
    bool Intercept(RegOp op, glimmerpane::platform::RegKeyHandle key, std::wstring_view name, uint32_t access,
                   uint32_t* code);

    const std::shared_ptr<glimmerpane::platform::RegistryStore> inner_;
    mutable std::mutex mutex_;
    Fault fault_;
    bool armed_ = false;
    uint64_t counted_ = 0;  // calls that counted towards the fault since it was set
    uint64_t calls_[kRegOpCount] = {};
    uint64_t failures_ = 0;
    std::vector<Call> log_;
    std::set<glimmerpane::platform::RegKeyHandle> open_;
};

void PrintTo(RegOp op, std::ostream* os);

}  // namespace gptest
