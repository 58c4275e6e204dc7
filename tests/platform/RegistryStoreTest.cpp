// The platform registry's contract, run against every backend this machine has and the
// test doubles that stand in for it, plus the POSIX store's own concerns: several
// processes, a growing map, damaged and read-only files.
#include <gtest/gtest.h>

#ifndef _WIN32
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#endif

#include <chrono>
#include <fstream>
#include <stdexcept>
#include <thread>
#include <vector>

#include "support/FailingRegistryStore.h"
#include "support/MemoryRegistryStore.h"
#include "support/TempRegistry.h"
#include "platform/Registry.h"

namespace {

using namespace glimmerpane::platform;

std::string Bytes(std::initializer_list<int> list) {
    std::string s;
    for (int b : list) s += static_cast<char>(b);
    return s;
}

// The platform's backend: LMDB on POSIX; on Windows the Win32 registry, in a registry of
// the test's own (OpenRegistryStore of a folder other than the machine's prefix).
struct PlatformBackend {
#ifdef _WIN32
    static constexpr const char* kName = "Win32";
#else
    static constexpr const char* kName = "Posix";
#endif
    static std::shared_ptr<RegistryStore> Make(const gptest::TempFolder& folder) {
        return OpenRegistryStore(folder.wide("registry"));
    }
};
// The in-memory store that unit tests use instead of a backend is held to the same contract.
struct MemoryStore {
    static constexpr const char* kName = "Memory";
    static std::shared_ptr<RegistryStore> Make(const gptest::TempFolder&) { return gptest::MakeMemoryRegistryStore(); }
};
// So is the fault injector while no fault is set: it must pass every call through unchanged.
struct UnfailingStore {
    static constexpr const char* kName = "FailingStoreWithoutFault";
    static std::shared_ptr<RegistryStore> Make(const gptest::TempFolder& folder) {
        return std::make_shared<gptest::FailingRegistryStore>(PlatformBackend::Make(folder));
    }
};
struct BackendName {
    template <class Backend>
    static std::string GetName(int) {
        return Backend::kName;
    }
};

template <class Backend>
class RegistryContract : public ::testing::Test {
protected:
    void SetUp() override {
        store_ = Backend::Make(folder_);
        ASSERT_EQ(store_->CreateKey(HkeyLocalMachine(), L"Software\\GpTest", kRegOptionNonVolatile, kKeyAllAccess,
                                    &key_, nullptr),
                  kErrorSuccess);
    }
    void TearDown() override {
        if (key_) store_->CloseKey(key_);
    }
    uint32_t Set(const std::wstring& name, uint32_t type, const std::string& data) {
        return store_->SetValue(key_, name, type, reinterpret_cast<const uint8_t*>(data.data()),
                                static_cast<uint32_t>(data.size()));
    }
    uint32_t Get(const std::wstring& name, uint32_t* type, std::string* data) {
        uint32_t size = 0;
        uint32_t status = store_->QueryValue(key_, name, type, nullptr, &size);
        if (status != kErrorSuccess) return status;
        data->assign(size, '\0');
        return store_->QueryValue(key_, name, type, reinterpret_cast<uint8_t*>(data->data()), &size);
    }

    gptest::TempFolder folder_;
    std::shared_ptr<RegistryStore> store_;
    RegKeyHandle key_ = nullptr;
};

using Backends = ::testing::Types<PlatformBackend, MemoryStore, UnfailingStore>;
TYPED_TEST_SUITE(RegistryContract, Backends, BackendName);

TYPED_TEST(RegistryContract, StoresTheExactBytesAndTypeOfEveryValueType) {
    const struct {
        const wchar_t* name;
        uint32_t type;
        std::string data;
    } cases[] = {
        {L"sz", kRegSz, Bytes({'h', 0, 'i', 0, 0, 0})},
        {L"expand", kRegExpandSz, Bytes({'%', 0, 'X', 0, '%', 0, 0, 0})},
        {L"multi", kRegMultiSz, Bytes({'a', 0, 0, 0, 'b', 0, 0, 0, 0, 0})},
        {L"binary", kRegBinary, Bytes({0, 1, 0xFF, 0})},
        {L"dword", kRegDword, Bytes({0xFF, 0xFF, 0xFF, 0xFF})},
        {L"qword", kRegQword, Bytes({1, 2, 3, 4, 5, 6, 7, 8})},
        {L"none", kRegNone, std::string()},
        {L"odd sz", kRegSz, Bytes({'a', 0, 'b'})},
        {L"", kRegSz, Bytes({'d', 0, 0, 0})},
    };
    for (const auto& c : cases) ASSERT_EQ(this->Set(c.name, c.type, c.data), kErrorSuccess) << c.name;
    for (const auto& c : cases) {
        uint32_t type = 99;
        std::string data;
        ASSERT_EQ(this->Get(c.name, &type, &data), kErrorSuccess) << c.name;
        EXPECT_EQ(type, c.type) << c.name;
        EXPECT_EQ(data, c.data) << c.name;
    }
}

TYPED_TEST(RegistryContract, NamesAreCaseInsensitiveAndKeepTheirSpelling) {
    ASSERT_EQ(this->Set(L"MixedCase", kRegDword, Bytes({1, 0, 0, 0})), kErrorSuccess);
    uint32_t type = 0;
    std::string data;
    EXPECT_EQ(this->Get(L"MIXEDCASE", &type, &data), kErrorSuccess);
    EXPECT_EQ(this->Get(L"mixedcase", &type, &data), kErrorSuccess);

    RegKeyHandle child = nullptr;
    ASSERT_EQ(this->store_->CreateKey(this->key_, L"ÄpfelKey", 0, kKeyAllAccess, &child, nullptr), kErrorSuccess);
    this->store_->CloseKey(child);
    RegKeyHandle again = nullptr;
    uint32_t disposition = 0;
    ASSERT_EQ(this->store_->CreateKey(HkeyLocalMachine(), L"SOFTWARE\\gptest\\äPFELKEY", 0, kKeyRead, &again,
                                      &disposition),
              kErrorSuccess);
    EXPECT_EQ(disposition, kRegOpenedExistingKey);
    std::wstring path;
    EXPECT_EQ(this->store_->KeyPath(again, &path), kErrorSuccess);
    EXPECT_EQ(path, L"HKEY_LOCAL_MACHINE\\Software\\GpTest\\ÄpfelKey");
    std::wstring name;
    EXPECT_EQ(this->store_->EnumValue(this->key_, 0, &name, &type, &data), kErrorSuccess);
    EXPECT_EQ(name, L"MixedCase");
    this->store_->CloseKey(again);
}

TYPED_TEST(RegistryContract, MissingKeysValuesAndBadHandlesHaveTheirCodes) {
    RegKeyHandle h = nullptr;
    EXPECT_EQ(this->store_->OpenKey(HkeyLocalMachine(), L"Software\\Nope", kKeyRead, &h), kErrorFileNotFound);
    EXPECT_EQ(h, nullptr);
    uint32_t type = 0;
    std::string data;
    EXPECT_EQ(this->Get(L"absent", &type, &data), kErrorFileNotFound);
    EXPECT_EQ(this->store_->DeleteValue(this->key_, L"absent"), kErrorFileNotFound);
    EXPECT_EQ(this->store_->OpenKey(HkeyLocalMachine(), L"\\Software", kKeyRead, &h), kErrorBadPathname);
    EXPECT_EQ(this->store_->OpenKey(HkeyLocalMachine(), L"Software\\\\GpTest", kKeyRead, &h), kErrorBadPathname);
    EXPECT_EQ(this->store_->OpenKey(HkeyLocalMachine(), L"Software\\GpTest\\", kKeyRead, &h), kErrorSuccess);
    EXPECT_EQ(this->store_->CloseKey(h), kErrorSuccess);
    EXPECT_EQ(this->store_->CloseKey(h), kErrorInvalidHandle);
    EXPECT_EQ(this->store_->QueryValue(h, L"x", &type, nullptr, nullptr), kErrorInvalidHandle);
    EXPECT_EQ(this->store_->QueryValue(reinterpret_cast<RegKeyHandle>(0x7777), L"x", &type, nullptr, nullptr),
              kErrorInvalidHandle);
}

TYPED_TEST(RegistryContract, TooSmallABufferReportsTheNeededSize) {
    ASSERT_EQ(this->Set(L"v", kRegBinary, std::string(10, 'x')), kErrorSuccess);
    uint8_t buffer[4];
    uint32_t size = sizeof buffer, type = 0;
    EXPECT_EQ(this->store_->QueryValue(this->key_, L"v", &type, buffer, &size), kErrorMoreData);
    EXPECT_EQ(size, 10u);
    EXPECT_EQ(type, kRegBinary);
}

TYPED_TEST(RegistryContract, AKeyOpenedForReadCannotBeWritten) {
    RegKeyHandle reader = nullptr;
    ASSERT_EQ(this->store_->OpenKey(HkeyLocalMachine(), L"Software\\GpTest", kKeyRead, &reader), kErrorSuccess);
    const uint8_t one[4] = {1, 0, 0, 0};
    EXPECT_EQ(this->store_->SetValue(reader, L"v", kRegDword, one, 4), kErrorAccessDenied);
    EXPECT_EQ(this->store_->DeleteValue(reader, L"v"), kErrorAccessDenied);
    RegKeyHandle child = nullptr;
    EXPECT_EQ(this->store_->CreateKey(reader, L"child", 0, kKeyAllAccess, &child, nullptr), kErrorAccessDenied);
    uint32_t type = 0;
    std::string data;
    EXPECT_EQ(this->Get(L"v", &type, &data), kErrorFileNotFound);  // nothing was written
    this->store_->CloseKey(reader);
}

TYPED_TEST(RegistryContract, DeletingAKeyWithChildrenNeedsTheTreeDelete) {
    RegKeyHandle deep = nullptr;
    ASSERT_EQ(this->store_->CreateKey(this->key_, L"a\\b\\c", 0, kKeyAllAccess, &deep, nullptr), kErrorSuccess);
    const uint8_t one[4] = {1, 0, 0, 0};
    ASSERT_EQ(this->store_->SetValue(deep, L"v", kRegDword, one, 4), kErrorSuccess);
    EXPECT_EQ(this->store_->DeleteKey(this->key_, L"a", 0), kErrorAccessDenied);
    EXPECT_EQ(this->store_->DeleteTree(this->key_, L"a"), kErrorSuccess);
    RegKeyHandle h = nullptr;
    EXPECT_EQ(this->store_->OpenKey(this->key_, L"a", kKeyRead, &h), kErrorFileNotFound);
    // The open handle now names a deleted key.
    uint32_t type = 0;
    EXPECT_EQ(this->store_->QueryValue(deep, L"v", &type, nullptr, nullptr), kErrorKeyDeleted);
    EXPECT_EQ(this->store_->SetValue(deep, L"v", kRegDword, one, 4), kErrorKeyDeleted);
    // A re-created key starts empty: no value survived the delete.
    RegKeyHandle fresh = nullptr;
    ASSERT_EQ(this->store_->CreateKey(this->key_, L"a\\b\\c", 0, kKeyAllAccess, &fresh, nullptr), kErrorSuccess);
    EXPECT_EQ(this->store_->QueryValue(fresh, L"v", &type, nullptr, nullptr), kErrorFileNotFound);
    this->store_->CloseKey(deep);
    this->store_->CloseKey(fresh);
    EXPECT_EQ(this->store_->DeleteKey(HkeyLocalMachine(), L"", 0), kErrorAccessDenied);
}

TYPED_TEST(RegistryContract, EnumeratesSubkeysInNameOrderThenEnds) {
    for (const wchar_t* name : {L"beta", L"Alpha", L"gamma"}) {
        RegKeyHandle h = nullptr;
        ASSERT_EQ(this->store_->CreateKey(this->key_, name, 0, kKeyAllAccess, &h, nullptr), kErrorSuccess);
        this->store_->CloseKey(h);
    }
    std::vector<std::wstring> names;
    std::wstring name;
    RegFileTime time = 0;
    uint32_t index = 0, status;
    while ((status = this->store_->EnumKey(this->key_, index++, &name, &time)) == kErrorSuccess) {
        names.push_back(name);
        EXPECT_GT(time, 116444736000000000ull);  // after 1970
    }
    EXPECT_EQ(status, kErrorNoMoreItems);
    EXPECT_EQ(names, (std::vector<std::wstring>{L"Alpha", L"beta", L"gamma"}));
    RegKeyInfo info;
    ASSERT_EQ(this->store_->QueryInfoKey(this->key_, &info), kErrorSuccess);
    EXPECT_EQ(info.subKeyCount, 3u);
    EXPECT_EQ(info.maxSubKeyLength, 5u);
}

TYPED_TEST(RegistryContract, SettingAValueAdvancesTheKeysLastWriteTime) {
    RegKeyInfo before, after;
    ASSERT_EQ(this->store_->QueryInfoKey(this->key_, &before), kErrorSuccess);
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
    ASSERT_EQ(this->Set(L"v", kRegDword, Bytes({1, 0, 0, 0})), kErrorSuccess);
    ASSERT_EQ(this->store_->QueryInfoKey(this->key_, &after), kErrorSuccess);
    EXPECT_GT(after.lastWriteTime, before.lastWriteTime);
}

TYPED_TEST(RegistryContract, ReadsASetOfDwordsWithOneStatusEach) {
    ASSERT_EQ(this->Set(L"Count", kRegDword, Bytes({0x2A, 0, 0, 1})), kErrorSuccess);
    ASSERT_EQ(this->Set(L"Text", kRegSz, Bytes({'x', 0, 0, 0})), kErrorSuccess);
    ASSERT_EQ(this->Set(L"Long", kRegDword, Bytes({1, 0, 0, 0, 0})), kErrorSuccess);
    RegDwordLocation locations[] = {
        {HkeyLocalMachine(), L"software\\gptest", L"COUNT", {}},  // names compare without letter case
        {HkeyLocalMachine(), L"Software\\GpTest", L"Missing", {}},
        {HkeyLocalMachine(), L"Software\\NoSuchKey", L"Count", {}},
        {HkeyLocalMachine(), L"Software\\GpTest", L"Text", {}},
        {HkeyLocalMachine(), L"Software\\GpTest", L"Long", {}},
    };
    for (auto& location : locations) ASSERT_EQ(this->store_->PrepareValue(&location), kErrorSuccess);
    uint32_t values[5] = {7, 7, 7, 7, 7}, statuses[5] = {};
    this->store_->ReadDwordValues(locations, 5, values, statuses);
    EXPECT_EQ(std::vector<uint32_t>(statuses, statuses + 5),
              (std::vector<uint32_t>{kErrorSuccess, kErrorFileNotFound, kErrorFileNotFound, kErrorInvalidData,
                                     kErrorInvalidData}));
    EXPECT_EQ(std::vector<uint32_t>(values, values + 5), (std::vector<uint32_t>{0x0100002A, 7, 7, 7, 7}));

    RegDwordLocation leading{HkeyLocalMachine(), L"\\Software\\GpTest", L"Count", {}};
    RegDwordLocation empty{HkeyLocalMachine(), L"Software\\\\GpTest", L"Count", {}};
    EXPECT_EQ(this->store_->PrepareValue(&leading), kErrorBadPathname);
    EXPECT_EQ(this->store_->PrepareValue(&empty), kErrorBadPathname);
}

#ifndef _WIN32  // Windows has key security, change notification and volatile keys.
TYPED_TEST(RegistryContract, OperationsWithoutMeaningHereSayNotSupported) {
    uint32_t size = 0;
    EXPECT_EQ(this->store_->GetKeySecurity(this->key_, 4, nullptr, &size), kErrorNotSupported);
    EXPECT_EQ(this->store_->NotifyChange(this->key_, true, 1, nullptr, true), kErrorNotSupported);
    RegKeyHandle h = nullptr;
    EXPECT_EQ(this->store_->CreateKey(this->key_, L"volatile", kRegOptionVolatile, kKeyAllAccess, &h, nullptr),
              kErrorNotSupported);
}

#endif

// ---- the POSIX store ----
#ifndef _WIN32

class PosixRegistryStoreTest : public ::testing::Test {
protected:
    gptest::TempFolder folder_;
    std::wstring Folder() const { return folder_.wide("registry"); }
};

uint32_t WriteDword(RegistryStore& store, const wchar_t* key, const wchar_t* name, uint32_t value) {
    RegKeyHandle h = nullptr;
    uint32_t s = store.CreateKey(HkeyLocalMachine(), key, 0, kKeyAllAccess, &h, nullptr);
    if (s != kErrorSuccess) return s;
    const uint8_t bytes[4] = {uint8_t(value), uint8_t(value >> 8), uint8_t(value >> 16), uint8_t(value >> 24)};
    s = store.SetValue(h, name, kRegDword, bytes, 4);
    store.CloseKey(h);
    return s;
}

uint32_t ReadDword(RegistryStore& store, const wchar_t* key, const wchar_t* name, uint32_t* value) {
    RegKeyHandle h = nullptr;
    uint32_t s = store.OpenKey(HkeyLocalMachine(), key, kKeyRead, &h);
    if (s != kErrorSuccess) return s;
    uint8_t bytes[4];
    uint32_t size = 4;
    s = store.QueryValue(h, name, nullptr, bytes, &size);
    store.CloseKey(h);
    *value = bytes[0] | bytes[1] << 8 | bytes[2] << 16 | uint32_t(bytes[3]) << 24;
    return s;
}

TEST_F(PosixRegistryStoreTest, DataOutlivesTheStoreObjects) {
    {
        auto store = OpenRegistryStore(Folder());
        ASSERT_EQ(WriteDword(*store, L"Software\\Keep", L"v", 4294967295u), kErrorSuccess);
    }
    auto store = OpenRegistryStore(Folder());
    uint32_t value = 0;
    ASSERT_EQ(ReadDword(*store, L"software\\keep", L"V", &value), kErrorSuccess);
    EXPECT_EQ(value, 4294967295u);
}

TEST_F(PosixRegistryStoreTest, AFullMapGrowsAndTheWriteSucceeds) {
    RegistryStoreOptions small;
    small.initialMapSize = 64 * 1024;
    auto store = OpenRegistryStore(Folder(), small);
    RegKeyHandle h = nullptr;
    ASSERT_EQ(store->CreateKey(HkeyLocalMachine(), L"Software\\Big", 0, kKeyAllAccess, &h, nullptr), kErrorSuccess);
    const std::string blob(256 * 1024, 'z');
    for (int i = 0; i < 8; ++i) {
        ASSERT_EQ(store->SetValue(h, L"blob" + std::to_wstring(i), kRegBinary,
                                  reinterpret_cast<const uint8_t*>(blob.data()), static_cast<uint32_t>(blob.size())),
                  kErrorSuccess)
            << i;
    }
    uint32_t size = 0;
    EXPECT_EQ(store->QueryValue(h, L"blob7", nullptr, nullptr, &size), kErrorSuccess);
    EXPECT_EQ(size, blob.size());
    store->CloseKey(h);
}

TEST_F(PosixRegistryStoreTest, ACorruptFileGivesAClearStatusAndIsLeftAlone) {
    std::filesystem::create_directories(folder_.path() / "registry");
    const std::string garbage(8192, '\x5A');
    std::ofstream(folder_.path() / "registry" / "data.mdb", std::ios::binary) << garbage;
    auto store = OpenRegistryStore(Folder());
    uint32_t value = 0;
    EXPECT_EQ(ReadDword(*store, L"Software\\X", L"v", &value), kErrorBadDb);
    EXPECT_EQ(WriteDword(*store, L"Software\\X", L"v", 1), kErrorBadDb);
    std::ifstream in(folder_.path() / "registry" / "data.mdb", std::ios::binary);
    const std::string after((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    EXPECT_EQ(after, garbage);
}

TEST_F(PosixRegistryStoreTest, AReadOnlyStoreStillReadsAndRefusesWrites) {
    {
        auto store = OpenRegistryStore(Folder());
        ASSERT_EQ(WriteDword(*store, L"Software\\Ro", L"v", 7), kErrorSuccess);
    }
    const auto dir = folder_.path() / "registry";
    chmod(folder_.path().c_str(), 0755);
    chmod((dir / "data.mdb").c_str(), 0444);
    chmod((dir / "lock.mdb").c_str(), 0666);
    const std::wstring folder = Folder();
    // Bit i set = check i failed.
    auto checks = [&folder]() -> int {
        auto store = OpenRegistryStore(folder);
        uint32_t value = 0;
        int failed = 0;
        if (ReadDword(*store, L"Software\\Ro", L"v", &value) != kErrorSuccess || value != 7) failed |= 1;
        if (WriteDword(*store, L"Software\\Ro", L"v", 8) != kErrorAccessDenied) failed |= 2;
        if (ReadDword(*store, L"Software\\Ro", L"v", &value) != kErrorSuccess || value != 7) failed |= 4;
        return failed;
    };
    if (geteuid() != 0) {
        EXPECT_EQ(checks(), 0);
        return;
    }
    // Root ignores file modes: run the checks as an unprivileged user.
    const pid_t child = fork();
    ASSERT_NE(child, -1);
    if (child == 0) {
        if (setgid(65534) != 0 || setuid(65534) != 0) _exit(100);
        _exit(checks());
    }
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0) << "failed checks (bits): " << WEXITSTATUS(status);
}

TEST_F(PosixRegistryStoreTest, AnUnreachableFolderFailsEveryCallWithoutCrashing) {
    std::ofstream(folder_.path() / "file") << "x";
    auto store = OpenRegistryStore(folder_.wide("file/registry"));
    uint32_t value = 0;
    EXPECT_NE(ReadDword(*store, L"Software\\X", L"v", &value), kErrorSuccess);
    EXPECT_NE(WriteDword(*store, L"Software\\X", L"v", 1), kErrorSuccess);
}

// One process writes while another reads: readers never see an error or half a value.
TEST_F(PosixRegistryStoreTest, TwoProcessesWriteAndReadWithoutTornValues) {
    constexpr int kWrites = 600;
    const std::wstring folder = Folder();
    {
        auto store = OpenRegistryStore(folder);
        ASSERT_EQ(WriteDword(*store, L"Software\\Shared", L"counter", 0), kErrorSuccess);
    }
    const pid_t child = fork();
    ASSERT_NE(child, -1);
    if (child == 0) {
        auto store = OpenRegistryStore(folder);
        RegKeyHandle h = nullptr;
        int failures = store->CreateKey(HkeyLocalMachine(), L"Software\\Shared", 0, kKeyAllAccess, &h, nullptr) != 0;
        for (int i = 1; i <= kWrites && failures == 0; ++i) {
            const std::string blob(1000 + i, static_cast<char>(i & 0xFF));
            failures += store->SetValue(h, L"blob", kRegBinary, reinterpret_cast<const uint8_t*>(blob.data()),
                                        static_cast<uint32_t>(blob.size())) != 0;
            const uint8_t bytes[4] = {uint8_t(i), uint8_t(i >> 8), 0, 0};
            failures += store->SetValue(h, L"counter", kRegDword, bytes, 4) != 0;
        }
        store->CloseKey(h);
        _exit(failures == 0 ? 0 : 1);
    }
    auto store = OpenRegistryStore(folder);
    RegKeyHandle h = nullptr;
    ASSERT_EQ(store->OpenKey(HkeyLocalMachine(), L"Software\\Shared", kKeyRead, &h), kErrorSuccess);
    uint32_t last = 0, reads = 0, errors = 0, torn = 0, backwards = 0;
    int childStatus = 0;
    std::vector<uint8_t> buffer(4096);
    for (;;) {
        const bool done = waitpid(child, &childStatus, WNOHANG) == child;
        uint32_t counter = 0;
        uint8_t bytes[4];
        uint32_t size = 4;
        if (store->QueryValue(h, L"counter", nullptr, bytes, &size) != kErrorSuccess || size != 4) ++errors;
        counter = bytes[0] | bytes[1] << 8;
        if (counter < last) ++backwards;
        last = counter;
        size = static_cast<uint32_t>(buffer.size());
        const uint32_t s = store->QueryValue(h, L"blob", nullptr, buffer.data(), &size);
        if (s == kErrorSuccess) {
            const int i = static_cast<int>(size) - 1000;
            if (i < 1 || i > kWrites) ++torn;
            for (uint32_t k = 0; k < size; ++k) {
                if (buffer[k] != static_cast<uint8_t>(i & 0xFF)) {
                    ++torn;
                    break;
                }
            }
        } else if (!(s == kErrorFileNotFound && last == 0)) {
            ++errors;
        }
        ++reads;
        if (done) break;
    }
    store->CloseKey(h);
    ASSERT_TRUE(WIFEXITED(childStatus));
    EXPECT_EQ(WEXITSTATUS(childStatus), 0) << "the writer failed";
    EXPECT_EQ(errors, 0u);
    EXPECT_EQ(torn, 0u);
    EXPECT_EQ(backwards, 0u);
    EXPECT_EQ(last, static_cast<uint32_t>(kWrites));
    EXPECT_GT(reads, 1u);
}

// Threads of one process share the store; readers run beside a writer (tsan run).
TEST_F(PosixRegistryStoreTest, ThreadsReadWhileAnotherWrites) {
    auto store = OpenRegistryStore(Folder());
    ASSERT_EQ(WriteDword(*store, L"Software\\T", L"v", 0), kErrorSuccess);
    std::atomic<bool> stop{false};
    std::atomic<int> errors{0};
    std::vector<std::thread> readers;
    for (int t = 0; t < 2; ++t) {
        readers.emplace_back([&] {
            while (!stop) {
                uint32_t v = 0;
                if (ReadDword(*store, L"Software\\T", L"v", &v) != kErrorSuccess) ++errors;
            }
        });
    }
    for (uint32_t i = 1; i <= 300; ++i) ASSERT_EQ(WriteDword(*store, L"Software\\T", L"v", i), kErrorSuccess);
    stop = true;
    for (auto& r : readers) r.join();
    EXPECT_EQ(errors.load(), 0);
}

// An import or any other batch of changes: all of them or none, and the store stays usable.
TEST_F(PosixRegistryStoreTest, AnAtomicRunLandsWholeOrNotAtAll) {
    RegistryStoreOptions small;
    small.initialMapSize = 64 * 1024;  // so the successful run must grow the map part way
    auto store = OpenRegistryStore(Folder(), small);
    auto other = OpenRegistryStore(Folder());  // a second object on the same store
    ASSERT_EQ(WriteDword(*store, L"Software\\Batch", L"old", 1), kErrorSuccess);

    // A body that fails after some changes leaves none of them, also the keys it created.
    uint32_t value = 0;
    EXPECT_EQ(store->RunAtomically([&] {
        if (uint32_t s = WriteDword(*store, L"Software\\Batch", L"old", 2); s != kErrorSuccess) return s;
        if (uint32_t s = WriteDword(*store, L"Software\\Batch\\New", L"v", 3); s != kErrorSuccess) return s;
        return kErrorAccessDenied;
    }),
              kErrorAccessDenied);
    EXPECT_EQ(ReadDword(*store, L"Software\\Batch", L"old", &value), kErrorSuccess);
    EXPECT_EQ(value, 1u);
    EXPECT_EQ(ReadDword(*store, L"Software\\Batch\\New", L"v", &value), kErrorFileNotFound);

    // So does a body that throws, and the writer lock is free again for another thread.
    EXPECT_THROW(store->RunAtomically([&]() -> uint32_t {
        WriteDword(*store, L"Software\\Batch", L"thrown", 5);
        throw std::runtime_error("out of the body");
    }),
                 std::runtime_error);
    EXPECT_EQ(ReadDword(*store, L"Software\\Batch", L"thrown", &value), kErrorFileNotFound);
    uint32_t afterThrow = kErrorAccessDenied;  // anything but success
    std::thread([&] { afterThrow = WriteDword(*other, L"Software\\Batch", L"after", 6); }).join();
    EXPECT_EQ(afterThrow, kErrorSuccess);

    // A body that succeeds: it reads its own changes, others do not see them before the end,
    // and a change too large for the map makes the body run again rather than fail.
    int runs = 0;
    uint32_t seenInside = 0, otherInside = 0;
    uint32_t otherStatus = kErrorSuccess;
    const std::string blob(256 * 1024, 'z');
    EXPECT_EQ(store->RunAtomically([&] {
        ++runs;
        if (uint32_t s = WriteDword(*store, L"Software\\Batch\\New", L"v", 4); s != kErrorSuccess) return s;
        if (uint32_t s = ReadDword(*store, L"Software\\Batch\\New", L"v", &seenInside); s != kErrorSuccess) return s;
        std::thread([&] { otherStatus = ReadDword(*other, L"Software\\Batch\\New", L"v", &otherInside); }).join();
        RegKeyHandle h = nullptr;
        if (uint32_t s = store->OpenKey(HkeyLocalMachine(), L"Software\\Batch", kKeyAllAccess, &h); s != kErrorSuccess) {
            return s;
        }
        uint32_t s = kErrorSuccess;
        for (int i = 0; i < 4 && s == kErrorSuccess; ++i) {
            s = store->SetValue(h, L"blob" + std::to_wstring(i), kRegBinary,
                                reinterpret_cast<const uint8_t*>(blob.data()), static_cast<uint32_t>(blob.size()));
        }
        store->CloseKey(h);
        return s;
    }),
              kErrorSuccess);
    EXPECT_GE(runs, 2) << "the map never had to grow: the test does not show the rerun";
    EXPECT_EQ(seenInside, 4u);
    EXPECT_EQ(otherStatus, kErrorFileNotFound) << "another reader saw the change before the run ended";
    EXPECT_EQ(ReadDword(*other, L"Software\\Batch\\New", L"v", &value), kErrorSuccess);
    EXPECT_EQ(value, 4u);
    RegKeyHandle h = nullptr;
    ASSERT_EQ(other->OpenKey(HkeyLocalMachine(), L"Software\\Batch", kKeyRead, &h), kErrorSuccess);
    uint32_t size = 0;
    EXPECT_EQ(other->QueryValue(h, L"blob3", nullptr, nullptr, &size), kErrorSuccess);
    EXPECT_EQ(size, blob.size());
    other->CloseKey(h);
}

TEST_F(PosixRegistryStoreTest, AProcessKilledInsideAnAtomicRunLeavesNothingBehind) {
    const std::wstring folder = Folder();
    const pid_t child = fork();
    ASSERT_NE(child, -1);
    if (child == 0) {
        auto store = OpenRegistryStore(folder);
        store->RunAtomically([&] {
            for (int i = 0; i < 50; ++i) WriteDword(*store, L"Software\\Killed", (L"v" + std::to_wstring(i)).c_str(), i);
            _exit(0);  // dies holding the transaction
            return kErrorSuccess;
        });
        _exit(1);
    }
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    auto store = OpenRegistryStore(folder);
    uint32_t value = 0;
    EXPECT_EQ(ReadDword(*store, L"Software\\Killed", L"v0", &value), kErrorFileNotFound);
    // The dead writer's lock does not hold up the next one.
    EXPECT_EQ(WriteDword(*store, L"Software\\Killed", L"after", 1), kErrorSuccess);
}
#endif  // !_WIN32

}  // namespace
