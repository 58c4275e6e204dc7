// The registry test doubles themselves: which calls a FailingRegistryStore fails, that a
// failed call never reaches the store below, and what the in-memory store does where the
// contract suite (tests/platform/RegistryStoreTest.cpp) leaves it open.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "support/CaseNames.h"
#include "support/FailingRegistryStore.h"
#include "support/MemoryRegistryStore.h"

namespace {

using namespace glimmerpane::platform;
using gptest::FailingRegistryStore;
using gptest::RegOp;

constexpr uint32_t kFaultCode = 0xBAD;

// Five calls on a hive root, each of which succeeds without a fault. 'F' marks a call
// answered with the fault's code, '.' one that reached the store.
std::string RunScript(RegistryStore& store) {
    const uint8_t one[4] = {1, 0, 0, 0};
    uint8_t buffer[4];
    uint32_t size = sizeof buffer;
    std::wstring name;
    const uint32_t results[] = {
        store.SetValue(HkeyCurrentUser(), L"v", kRegDword, one, 4),
        store.QueryValue(HkeyCurrentUser(), L"v", nullptr, buffer, &size),
        store.QueryValue(HkeyCurrentUser(), L"v", nullptr, nullptr, &size),
        store.EnumValue(HkeyCurrentUser(), 0, &name, nullptr, nullptr),
        store.DeleteValue(HkeyCurrentUser(), L"v"),
    };
    std::string marks;
    for (uint32_t r : results) marks += r == kFaultCode ? 'F' : r == kErrorSuccess ? '.' : '?';
    return marks;
}

struct FaultCase {
    const char* name;
    FailingRegistryStore::Fault fault;
    const char* marks;
};

void PrintTo(const FaultCase& c, std::ostream* os) {
    *os << c.name << ": from call " << c.fault.from << ", ";
    if (c.fault.times == FailingRegistryStore::kForGood) {
        *os << "for good, of";
    } else {
        *os << c.fault.times << " times, of";
    }
    if (c.fault.only.empty()) *os << " every operation";
    for (RegOp op : c.fault.only) *os << " " << gptest::RegOpName(op);
    *os << " -> " << c.marks;
}

class FailingStoreFaults : public ::testing::TestWithParam<FaultCase> {};

TEST_P(FailingStoreFaults, FailTheCountedCallsFromTheNthOn) {
    FailingRegistryStore store(gptest::MakeMemoryRegistryStore());
    FailingRegistryStore::Fault fault = GetParam().fault;
    fault.code = kFaultCode;
    store.Fail(fault);
    EXPECT_EQ(RunScript(store), GetParam().marks);
    const std::string marks = GetParam().marks;
    EXPECT_EQ(store.Failures(), static_cast<uint64_t>(std::count(marks.begin(), marks.end(), 'F')));
    EXPECT_EQ(store.Calls(RegOp::QueryValue), 2u) << "failed calls are counted too";
}

constexpr uint64_t kForGood = FailingRegistryStore::kForGood;

INSTANTIATE_TEST_SUITE_P(
    Cases, FailingStoreFaults,
    ::testing::Values(FaultCase{"EveryCall", {.from = 0, .times = kForGood, .only = {}}, "FFFFF"},
                      FaultCase{"FromTheThirdCallOn", {.from = 2, .times = kForGood, .only = {}}, "..FFF"},
                      FaultCase{"OnlyTheSecondQuery", {.from = 1, .times = 1, .only = {RegOp::QueryValue}}, "..F.."},
                      FaultCase{"TwoCallsOfTwoOperations",
                                {.from = 0, .times = 2, .only = {RegOp::QueryValue, RegOp::DeleteValue}}, ".FF.."},
                      FaultCase{"PastTheLastCall", {.from = 1, .times = kForGood, .only = {RegOp::EnumValue}}, "....."}),
    gptest::ByName());

TEST(FailingStore, AFailedCallNeverReachesTheStoreBelow) {
    auto memory = gptest::MakeMemoryRegistryStore();
    FailingRegistryStore store(memory);
    store.Fail({.code = kErrorDiskFull, .only = {RegOp::CreateKey}});
    RegKeyHandle key = reinterpret_cast<RegKeyHandle>(uintptr_t{0x10});
    EXPECT_EQ(store.CreateKey(HkeyLocalMachine(), L"Software\\New", 0, kKeyAllAccess, &key, nullptr), kErrorDiskFull);
    EXPECT_EQ(key, nullptr);
    EXPECT_EQ(memory->OpenKey(HkeyLocalMachine(), L"Software\\New", kKeyRead, &key), kErrorFileNotFound);
    store.Heal();
    EXPECT_EQ(RunScript(store), ".....");
    EXPECT_EQ(store.Failures(), 1u);
}

TEST(FailingStore, LogsTheCallsAndTracksTheHandlesItGaveOut) {
    FailingRegistryStore store(gptest::MakeMemoryRegistryStore());
    RegKeyHandle created = nullptr, opened = nullptr;
    ASSERT_EQ(store.CreateKey(HkeyLocalMachine(), L"Software\\Logged", 0, kKeyAllAccess, &created, nullptr),
              kErrorSuccess);
    ASSERT_EQ(store.OpenKey(HkeyLocalMachine(), L"Software\\Logged", kKeyRead, &opened), kErrorSuccess);
    EXPECT_EQ(store.OpenHandles(), 2u);
    EXPECT_EQ(store.CloseKey(created), kErrorSuccess);
    EXPECT_EQ(store.CloseKey(created), kErrorInvalidHandle);
    EXPECT_EQ(store.OpenHandles(), 1u) << "a failed close leaves the count alone";

    const auto last = store.Last(RegOp::OpenKey);
    EXPECT_EQ(last.key, HkeyLocalMachine());
    EXPECT_EQ(last.name, L"Software\\Logged");
    EXPECT_EQ(last.access, kKeyRead);
    const auto log = store.Log();
    std::vector<RegOp> ops;
    for (const auto& call : log) ops.push_back(call.op);
    EXPECT_EQ(ops, (std::vector<RegOp>{RegOp::CreateKey, RegOp::OpenKey, RegOp::CloseKey, RegOp::CloseKey}));
    EXPECT_EQ(store.Last(RegOp::DeleteTree).key, nullptr) << "no such call yet";
    store.CloseKey(opened);
}

// Windows keeps a handle bound to the key it opened; so does the in-memory store.
TEST(MemoryStore, AHandleToADeletedKeyStaysDeletedWhenTheNameReturns) {
    auto store = gptest::MakeMemoryRegistryStore();
    RegKeyHandle old = nullptr, fresh = nullptr;
    ASSERT_EQ(store->CreateKey(HkeyLocalMachine(), L"Software\\Gone", 0, kKeyAllAccess, &old, nullptr), kErrorSuccess);
    ASSERT_EQ(store->DeleteTree(HkeyLocalMachine(), L"Software\\Gone"), kErrorSuccess);
    ASSERT_EQ(store->CreateKey(HkeyLocalMachine(), L"Software\\Gone", 0, kKeyAllAccess, &fresh, nullptr),
              kErrorSuccess);
    const uint8_t one[4] = {1, 0, 0, 0};
    EXPECT_EQ(store->SetValue(old, L"v", kRegDword, one, 4), kErrorKeyDeleted);
    EXPECT_EQ(store->SetValue(fresh, L"v", kRegDword, one, 4), kErrorSuccess);
    EXPECT_EQ(store->CloseKey(old), kErrorSuccess);
    EXPECT_EQ(store->CloseKey(fresh), kErrorSuccess);
}

TEST(MemoryStore, EachStoreIsARegistryOfItsOwn) {
    auto first = gptest::MakeMemoryRegistryStore();
    auto second = gptest::MakeMemoryRegistryStore();
    RegKeyHandle key = nullptr;
    ASSERT_EQ(first->CreateKey(HkeyLocalMachine(), L"Software\\Mine", 0, kKeyAllAccess, &key, nullptr), kErrorSuccess);
    RegKeyHandle other = nullptr;
    EXPECT_EQ(second->OpenKey(HkeyLocalMachine(), L"Software\\Mine", kKeyRead, &other), kErrorFileNotFound);
    EXPECT_EQ(second->CloseKey(key), kErrorInvalidHandle) << "a handle belongs to the store that gave it";
    EXPECT_EQ(first->CloseKey(key), kErrorSuccess);
}

}  // namespace
