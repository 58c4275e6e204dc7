// CRegKey and CObfuscatedRegKey over a temporary store: typed values, shape checks, key
// lifecycle, tree deletion and injected faults.
#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "support/FailingRegistryStore.h"
#include "support/TempRegistry.h"
#include "utility/CObfuscatedRegKey.h"
#include "utility/CRegKey.h"

namespace {

using namespace glimmerpane::platform;
using Kestrix::CRegKey;
using Kestrix::GUID;
using Kestrix::HKEY;
using Kestrix::internal::CObfuscatedRegKeyImpl;
using Kestrix::internal::CRegKeyImpl;
using gptest::RegOp;

constexpr wchar_t kTestKey[] = L"Software\\GpKeyTest";

struct PlainKind {
    static std::shared_ptr<CRegKeyImpl> Make(std::shared_ptr<RegistryStore> s) { return std::make_shared<CRegKeyImpl>(s); }
};
struct ObfuscatedKind {
    static std::shared_ptr<CRegKeyImpl> Make(std::shared_ptr<RegistryStore> s) {
        return std::make_shared<CObfuscatedRegKeyImpl>(s);
    }
};

template <class Kind>
class TypedValues : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_EQ(key_.Create(HkeyLocalMachine(), kTestKey), kErrorSuccess); }
    gptest::TempRegistry registry_;
    CRegKey key_{Kind::Make(registry_.store)};
};
using Kinds = ::testing::Types<PlainKind, ObfuscatedKind>;
TYPED_TEST_SUITE(TypedValues, Kinds);

TYPED_TEST(TypedValues, EveryTypedValueRoundTrips) {
    CRegKey& key = this->key_;
    const GUID guid{0x12345678, 0x9ABC, 0xDEF0, {1, 2, 3, 4, 5, 6, 7, 0xFF}};
    const uint8_t blob[] = {0, 1, 2, 0xFE, 0xFF};
    ASSERT_EQ(key.SetDwordValue(L"dword", 4294967295u), kErrorSuccess);
    ASSERT_EQ(key.SetQwordValue(L"qword", 0xFFFFFFFFFFFFFFFFull), kErrorSuccess);
    ASSERT_EQ(key.SetStringValue(L"sz", L"text ü 😀"), kErrorSuccess);
    ASSERT_EQ(key.SetStringValue(L"expand", L"%PATH%", kRegExpandSz), kErrorSuccess);
    ASSERT_EQ(key.SetMultiStringValue(L"multi", L"one\0two\0\0"), kErrorSuccess);
    ASSERT_EQ(key.SetBinaryValue(L"binary", blob, sizeof blob), kErrorSuccess);
    ASSERT_EQ(key.SetGuidValue(L"guid", guid), kErrorSuccess);

    uint32_t dword = 0;
    EXPECT_EQ(key.QueryDwordValue(L"DWORD", &dword), kErrorSuccess);
    EXPECT_EQ(dword, 4294967295u);
    uint64_t qword = 0;
    EXPECT_EQ(key.QueryQwordValue(L"qword", &qword), kErrorSuccess);
    EXPECT_EQ(qword, 0xFFFFFFFFFFFFFFFFull);
    std::wstring text;
    EXPECT_EQ(key.QueryStringValue(L"sz", &text), kErrorSuccess);
    EXPECT_EQ(text, L"text ü 😀");
    uint32_t type = 0, size = 0;
    EXPECT_EQ(key.QueryValue(L"sz", &type, nullptr, &size), kErrorSuccess);
    EXPECT_EQ(type, kRegSz);
    EXPECT_EQ(size, (9u + 1u) * 2u);  // the emoji is two UTF-16 units
    EXPECT_EQ(key.QueryStringValue(L"expand", &text), kErrorSuccess);
    EXPECT_EQ(text, L"%PATH%");
    wchar_t multi[32];
    uint32_t chars = 32;
    EXPECT_EQ(key.QueryMultiStringValue(L"multi", multi, &chars), kErrorSuccess);
    EXPECT_EQ(chars, 9u);
    EXPECT_EQ(std::wstring(multi, 9), std::wstring(L"one\0two\0\0", 9));
    uint8_t readBlob[8];
    size = sizeof readBlob;
    EXPECT_EQ(key.QueryBinaryValue(L"binary", readBlob, &size), kErrorSuccess);
    ASSERT_EQ(size, sizeof blob);
    EXPECT_EQ(std::memcmp(readBlob, blob, sizeof blob), 0);
    GUID readGuid;
    EXPECT_EQ(key.QueryGuidValue(L"guid", &readGuid), kErrorSuccess);
    EXPECT_EQ(readGuid, guid);
    EXPECT_EQ(key.QueryStringValue(L"guid", &text), kErrorSuccess);
    EXPECT_EQ(text, L"{12345678-9ABC-DEF0-0102-0304050607FF}");
}

TYPED_TEST(TypedValues, WrongTypesAndShapesAreRefused) {
    CRegKey& key = this->key_;
    ASSERT_EQ(key.SetQwordValue(L"qword", 5), kErrorSuccess);
    ASSERT_EQ(key.SetDwordValue(L"dword", 5), kErrorSuccess);
    const uint8_t threeBytes[] = {'a', 0, 'b'};
    ASSERT_EQ(key.SetValue(L"odd", kRegSz, threeBytes, 3), kErrorSuccess);
    const uint8_t noTerminator[] = {'a', 0, 'b', 0};
    ASSERT_EQ(key.SetValue(L"open", kRegSz, noTerminator, 4), kErrorSuccess);
    const uint8_t twoBytes[] = {1, 0};
    ASSERT_EQ(key.SetValue(L"short", kRegDword, twoBytes, 2), kErrorSuccess);
    ASSERT_EQ(key.SetValue(L"multiOne", kRegMultiSz, noTerminator, 4), kErrorSuccess);
    ASSERT_EQ(key.SetStringValue(L"noBrace", L"12345678-9ABC-DEF0-0102-0304050607FF}"), kErrorSuccess);
    ASSERT_EQ(key.SetStringValue(L"badGuid", L"{1234567G-9ABC-DEF0-0102-0304050607FF}"), kErrorSuccess);

    uint32_t dword = 77;
    EXPECT_EQ(key.QueryDwordValue(L"qword", &dword), kErrorInvalidData);
    EXPECT_EQ(dword, 77u);
    EXPECT_EQ(key.QueryDwordValue(L"short", &dword), kErrorInvalidData);
    uint64_t qword = 77;
    EXPECT_EQ(key.QueryQwordValue(L"dword", &qword), kErrorInvalidData);
    EXPECT_EQ(qword, 77u);
    wchar_t buffer[16];
    uint32_t chars = 16;
    EXPECT_EQ(key.QueryStringValue(L"odd", buffer, &chars), kErrorInvalidData);
    chars = 16;
    EXPECT_EQ(key.QueryStringValue(L"open", buffer, &chars), kErrorInvalidData);
    chars = 16;
    EXPECT_EQ(key.QueryStringValue(L"dword", buffer, &chars), kErrorInvalidData);
    chars = 16;
    EXPECT_EQ(key.QueryMultiStringValue(L"multiOne", buffer, &chars), kErrorInvalidData);
    chars = 1;
    EXPECT_EQ(key.QueryMultiStringValue(L"multiOne", buffer, &chars), kErrorInsufficientBuffer);
    uint8_t bytes[8];
    uint32_t size = sizeof bytes;
    EXPECT_EQ(key.QueryBinaryValue(L"dword", bytes, &size), kErrorInvalidData);
    GUID guid{1, 2, 3, {4}};
    EXPECT_EQ(key.QueryGuidValue(L"noBrace", &guid), kErrorInvalidData);
    EXPECT_EQ(guid, GUID{});
    guid = GUID{1, 2, 3, {4}};
    EXPECT_EQ(key.QueryGuidValue(L"badGuid", &guid), kErrorInvalidData);
    EXPECT_EQ(guid, GUID{});
    EXPECT_EQ(key.QueryGuidValue(L"missing", &guid), kErrorFileNotFound);
}

TYPED_TEST(TypedValues, RefusedValuesLeaveTheBufferUntouched) {
    CRegKey& key = this->key_;
    ASSERT_EQ(key.SetDwordValue(L"dword", 0x01020304), kErrorSuccess);
    ASSERT_EQ(key.SetStringValue(L"sz", L"long enough to overflow"), kErrorSuccess);
    for (const wchar_t* name : {L"dword", L"sz"}) {
        SCOPED_TRACE(testing::Message() << (name[0] == L'd' ? "dword" : "sz"));
        uint8_t bytes[8];
        std::memset(bytes, 0xAB, sizeof bytes);
        uint32_t size = sizeof bytes;
        EXPECT_EQ(key.QueryBinaryValue(name, bytes, &size), kErrorInvalidData);
        EXPECT_EQ(size, sizeof bytes);
        for (uint8_t b : bytes) EXPECT_EQ(b, 0xAB);
    }
}

TYPED_TEST(TypedValues, AMultiStringNeedsItsDoubleTerminator) {
    CRegKey& key = this->key_;
    struct Case {
        const char* name;
        std::vector<uint8_t> data;
        uint32_t expected;
    };
    const Case cases[] = {
        {"one terminator", {0, 0}, kErrorInvalidData},
        {"one string, one terminator", {'a', 0, 0, 0}, kErrorInvalidData},
        {"empty list", {0, 0, 0, 0}, kErrorSuccess},
        {"one string", {'a', 0, 0, 0, 0, 0}, kErrorSuccess},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ASSERT_EQ(key.SetValue(L"m", kRegMultiSz, c.data.data(), static_cast<uint32_t>(c.data.size())), kErrorSuccess);
        wchar_t buffer[8] = {L'x', L'x', L'x', L'x', L'x', L'x', L'x', L'x'};
        uint32_t chars = 8;
        EXPECT_EQ(key.QueryMultiStringValue(L"m", buffer, &chars), c.expected);
        if (c.expected == kErrorSuccess) {
            EXPECT_EQ(chars, c.data.size() / 2);
        } else {
            EXPECT_EQ(buffer[0], L'x');
        }
    }
}

TYPED_TEST(TypedValues, StringBuffersFollowTheSizeRules) {
    CRegKey& key = this->key_;
    ASSERT_EQ(key.SetStringValue(L"s", L"abcdef"), kErrorSuccess);
    uint32_t chars = 0;
    EXPECT_EQ(key.QueryStringValue(L"s", nullptr, &chars), kErrorSuccess);
    EXPECT_EQ(chars, 7u);
    wchar_t small[4] = {L'x', L'x', L'x', L'x'};
    chars = 4;
    EXPECT_EQ(key.QueryStringValue(L"s", small, &chars), kErrorMoreData);
    EXPECT_EQ(chars, 0u);
    chars = 0;
    EXPECT_EQ(key.QueryStringValue(L"s", small, &chars), kErrorMoreData);  // never writes past a 0-size buffer
    wchar_t exact[7];
    chars = 7;
    EXPECT_EQ(key.QueryStringValue(L"s", exact, &chars), kErrorSuccess);
    EXPECT_STREQ(exact, L"abcdef");
    ASSERT_EQ(key.SetStringValue(L"empty", L""), kErrorSuccess);
    std::wstring text = L"old";
    EXPECT_EQ(key.QueryStringValue(L"empty", &text), kErrorSuccess);
    EXPECT_EQ(text, L"");
    ASSERT_EQ(key.SetMultiStringValue(L"emptyList", L"\0"), kErrorSuccess);
    wchar_t list[4];
    chars = 4;
    EXPECT_EQ(key.QueryMultiStringValue(L"emptyList", list, &chars), kErrorSuccess);
    EXPECT_EQ(chars, 2u);
}

TYPED_TEST(TypedValues, ArgumentErrorsAre87And13) {
    CRegKey& key = this->key_;
    const uint8_t one = 1;
    EXPECT_EQ(key.SetValue(L"v", kRegBinary, nullptr, 1), kErrorInvalidParameter);
    EXPECT_EQ(key.SetValue(L"v", kRegBinary, &one, 0), kErrorInvalidParameter);
    EXPECT_EQ(key.SetStringValue(L"v", nullptr), kErrorInvalidData);
    EXPECT_EQ(key.SetMultiStringValue(L"v", nullptr), kErrorInvalidData);
    EXPECT_EQ(key.QueryDwordValue(L"v", nullptr), kErrorInvalidParameter);
    CRegKey closed(TypeParam::Make(this->registry_.store));
    uint32_t dword = 0;
    EXPECT_EQ(closed.QueryDwordValue(L"v", &dword), kErrorInvalidParameter);
    EXPECT_EQ(closed.SetDwordValue(L"v", 1), kErrorInvalidParameter);
    EXPECT_EQ(closed.DeleteValue(L"v"), kErrorInvalidParameter);
    EXPECT_EQ(closed.DeleteSubKeyTree(L"v"), kErrorInvalidParameter);
}

// ---- key lifecycle ----

class CRegKeyTest : public ::testing::Test {
protected:
    std::shared_ptr<CRegKeyImpl> NewImpl() { return std::make_shared<CRegKeyImpl>(registry_.store); }
    bool Exists(const wchar_t* path) {
        CRegKey probe(NewImpl());
        return probe.Open(HkeyLocalMachine(), path, kKeyRead) == kErrorSuccess;
    }
    gptest::TempRegistry registry_;
};

TEST_F(CRegKeyTest, DeleteSubKeyTreeRemovesNestedChildren) {
    CRegKey key(NewImpl());
    ASSERT_EQ(key.Create(HkeyLocalMachine(), L"Software\\Tree"), kErrorSuccess);
    for (const wchar_t* path : {L"Software\\Tree\\A\\B\\C", L"Software\\Tree\\A\\B2", L"Software\\Tree\\A\\b3\\x"}) {
        CRegKey child(NewImpl());
        ASSERT_EQ(child.Create(HkeyLocalMachine(), path), kErrorSuccess);
        ASSERT_EQ(child.SetDwordValue(L"v", 1), kErrorSuccess);
    }
    CRegKey sibling(NewImpl());
    ASSERT_EQ(sibling.Create(HkeyLocalMachine(), L"Software\\Tree\\Keep"), kErrorSuccess);
    EXPECT_EQ(key.DeleteSubKeyTree(L"a"), kErrorSuccess);
    EXPECT_FALSE(Exists(L"Software\\Tree\\A"));
    EXPECT_FALSE(Exists(L"Software\\Tree\\A\\B\\C"));
    EXPECT_TRUE(Exists(L"Software\\Tree\\Keep"));
    EXPECT_EQ(key.DeleteSubKeyTree(L"A"), kErrorFileNotFound);
    EXPECT_EQ(key.DeleteSubKey(L"Keep"), kErrorSuccess);
    EXPECT_FALSE(Exists(L"Software\\Tree\\Keep"));
}

TEST_F(CRegKeyTest, DeleteOnCloseRemovesTheKeyWithItsTree) {
    {
        CRegKey key(NewImpl());
        ASSERT_EQ(key.Create(HkeyLocalMachine(), L"Software\\Temp\\Sub"), kErrorSuccess);
        CRegKey parent(NewImpl());
        ASSERT_EQ(parent.Open(HkeyLocalMachine(), L"Software\\Temp"), kErrorSuccess);
        parent.SetDeleteOnClose(true);
        EXPECT_TRUE(parent.IsDeleteOnClose());
    }
    EXPECT_FALSE(Exists(L"Software\\Temp"));
    EXPECT_TRUE(Exists(L"Software"));
}

TEST_F(CRegKeyTest, DetachKeepsTheKeyAndAttachTakesItBack) {
    CRegKey key(NewImpl());
    ASSERT_EQ(key.Create(HkeyLocalMachine(), L"Software\\Detach"), kErrorSuccess);
    key.SetDeleteOnClose(true);
    HKEY handle = key.Detach();
    EXPECT_EQ(key.GetHandle(), nullptr);
    EXPECT_FALSE(key.IsDeleteOnClose());
    key.Close();
    EXPECT_TRUE(Exists(L"Software\\Detach"));
    CRegKey other(NewImpl());
    other.Attach(handle);
    EXPECT_EQ(other.GetHandle(), handle);
    EXPECT_EQ(other.SetDwordValue(L"v", 3), kErrorSuccess);
    EXPECT_EQ(other.Close(), kErrorSuccess);
    EXPECT_EQ(registry_.store->CloseKey(handle), kErrorInvalidHandle);  // closed exactly once
}

TEST_F(CRegKeyTest, ViewFlagsAreRememberedUntilClose) {
    auto impl = NewImpl();
    CRegKey key(impl);
    ASSERT_EQ(key.Create(HkeyLocalMachine(), L"Software\\View", nullptr, 0, kKeyAllAccess | kKeyWow64_32Key),
              kErrorSuccess);
    EXPECT_EQ(impl->ViewFlags(), kKeyWow64_32Key);
    ASSERT_EQ(key.Open(HkeyLocalMachine(), L"Software\\View", kKeyRead | kKeyWow64_64Key), kErrorSuccess);
    EXPECT_EQ(impl->ViewFlags(), kKeyWow64_64Key);
    key.Close();
    EXPECT_EQ(impl->ViewFlags(), 0u);
}

TEST_F(CRegKeyTest, AFailedOpenKeepsThePreviousKey) {
    CRegKey key(NewImpl());
    ASSERT_EQ(key.Create(HkeyLocalMachine(), L"Software\\Stay"), kErrorSuccess);
    HKEY before = key.GetHandle();
    EXPECT_EQ(key.Open(HkeyLocalMachine(), L"Software\\Missing"), kErrorFileNotFound);
    EXPECT_EQ(key.GetHandle(), before);
    EXPECT_EQ(key.SetDwordValue(L"v", 1), kErrorSuccess);
}

TEST_F(CRegKeyTest, CopiesShareOneKeyAndTheLastClosesIt) {
    auto impl = NewImpl();
    auto copy = std::make_unique<CRegKey>(impl);
    ASSERT_EQ(copy->Create(HkeyLocalMachine(), L"Software\\Shared"), kErrorSuccess);
    {
        CRegKey second(impl);
        EXPECT_EQ(second.GetHandle(), copy->GetHandle());
    }
    EXPECT_EQ(copy->SetDwordValue(L"v", 1), kErrorSuccess);  // still open
}

TEST_F(CRegKeyTest, AKeyOpenedForReadRefusesWrites) {
    CRegKey writer(NewImpl());
    ASSERT_EQ(writer.Create(HkeyLocalMachine(), L"Software\\Ro"), kErrorSuccess);
    CRegKey reader(NewImpl());
    ASSERT_EQ(reader.Open(HkeyLocalMachine(), L"Software\\Ro", kKeyRead), kErrorSuccess);
    EXPECT_EQ(reader.SetDwordValue(L"v", 1), kErrorAccessDenied);
    EXPECT_EQ(reader.SetStringValue(L"s", L"x"), kErrorAccessDenied);
}

#ifndef _WIN32  // Windows keys have security and change notification
TEST_F(CRegKeyTest, SecurityAndNotificationAreNotSupportedHere) {
    CRegKey key(NewImpl());
    ASSERT_EQ(key.Create(HkeyLocalMachine(), L"Software\\Sec"), kErrorSuccess);
    uint32_t size = 0;
    EXPECT_EQ(key.GetKeySecurity(4, nullptr, &size), kErrorNotSupported);
    int descriptor = 0;
    EXPECT_EQ(key.SetKeySecurity(4, &descriptor), kErrorNotSupported);
    EXPECT_EQ(key.NotifyChange(true, 1, nullptr), kErrorNotSupported);
    EXPECT_EQ(key.GrantEveryoneFullAccess(true), kErrorNotSupported);
}
#endif

TEST_F(CRegKeyTest, EnumSubKeyReportsShortBuffersAndTheEnd) {
    CRegKey key(NewImpl());
    ASSERT_EQ(key.Create(HkeyLocalMachine(), L"Software\\Enum\\LongerName"), kErrorSuccess);
    ASSERT_EQ(key.Open(HkeyLocalMachine(), L"Software\\Enum"), kErrorSuccess);
    wchar_t name[8];
    uint32_t chars = 8;
    EXPECT_EQ(key.EnumSubKey(0, name, &chars), kErrorMoreData);
    wchar_t big[32];
    chars = 32;
    RegFileTime time = 0;
    EXPECT_EQ(key.EnumSubKey(0, big, &chars, &time), kErrorSuccess);
    EXPECT_STREQ(big, L"LongerName");
    EXPECT_EQ(chars, 10u);
    EXPECT_NE(time, 0u);
    chars = 32;
    EXPECT_EQ(key.EnumSubKey(1, big, &chars), kErrorNoMoreItems);
}

TEST(GuidText, ParsesOnlyTheBracedForm) {
    GUID guid;
    EXPECT_TRUE(Kestrix::GuidFromString(L"{a1b2c3d4-0000-ffff-1234-56789abcdef0}", &guid));
    EXPECT_EQ(guid.Data1, 0xa1b2c3d4u);
    EXPECT_EQ(guid.Data4[7], 0xf0);
    for (const wchar_t* bad : {L"a1b2c3d4-0000-ffff-1234-56789abcdef0", L"{a1b2c3d4-0000-ffff-1234-56789abcdef0",
                               L"{a1b2c3d4_0000-ffff-1234-56789abcdef0}", L"{}", L""}) {
        EXPECT_FALSE(Kestrix::GuidFromString(bad, &guid)) << bad;
    }
}

// ---- the scrambled form ----

TEST_F(CRegKeyTest, ObfuscatedValuesAreNotStoredInTheClearButPlainValuesStillRead) {
    Kestrix::CObfuscatedRegKey secret(registry_.store);
    ASSERT_EQ(secret.Create(HkeyLocalMachine(), L"Software\\Secret"), kErrorSuccess);
    ASSERT_EQ(secret.SetStringValue(L"pw", L"hunter2"), kErrorSuccess);
    CRegKey plain(NewImpl());
    ASSERT_EQ(plain.Open(HkeyLocalMachine(), L"Software\\Secret"), kErrorSuccess);
    uint32_t type = 0, size = 64;
    uint8_t raw[64];
    ASSERT_EQ(plain.QueryValue(L"pw", &type, raw, &size), kErrorSuccess);
    EXPECT_EQ(type, kRegBinary);
    EXPECT_EQ(size, 8u + 16u);
    std::wstring text;
    EXPECT_EQ(plain.QueryStringValue(L"pw", &text), kErrorInvalidData);
    ASSERT_EQ(plain.SetDwordValue(L"Logging Mechanism", 1), kErrorSuccess);
    uint32_t mechanism = 0;
    EXPECT_EQ(secret.QueryDwordValue(L"Logging Mechanism", &mechanism), kErrorSuccess);
    EXPECT_EQ(mechanism, 1u);
}

TEST(ObfuscatedForm, RoundTripsEveryTypeAndLength) {
    for (uint32_t type : {kRegNone, kRegSz, kRegExpandSz, kRegBinary, kRegDword, kRegMultiSz, kRegQword, 0xFFFFFFFFu}) {
        for (size_t length : {1u, 7u, 300u}) {
            std::string data(length, '\0');
            for (size_t i = 0; i < length; ++i) data[i] = static_cast<char>(i * 7);
            const std::string stored = CObfuscatedRegKeyImpl::Scramble(type, data.data(), static_cast<uint32_t>(length));
            EXPECT_NE(stored.substr(8), data);
            uint32_t back = 0;
            std::string plain;
            ASSERT_TRUE(CObfuscatedRegKeyImpl::Unscramble(stored, &back, &plain));
            EXPECT_EQ(back, type);
            EXPECT_EQ(plain, data);
        }
    }
}

// ---- injected faults ----

TEST_F(CRegKeyTest, DeleteSubKeyTreeStopsAtTheFirstFaultAndReturnsIt) {
    const struct {
        RegOp op;
        uint64_t nth;
    } cases[] = {{RegOp::DeleteKey, 0}, {RegOp::DeleteKey, 1}, {RegOp::EnumKey, 0}, {RegOp::EnumKey, 2}};
    for (const auto& c : cases) {
        {
            CRegKey setup(NewImpl());
            ASSERT_EQ(setup.Create(HkeyLocalMachine(), L"Software\\F\\Top\\A\\Leaf"), kErrorSuccess);
            ASSERT_EQ(setup.Create(HkeyLocalMachine(), L"Software\\F\\Top\\B"), kErrorSuccess);
        }
        auto faults = std::make_shared<gptest::FailingRegistryStore>(registry_.store);
        faults->Fail({.from = c.nth, .times = 1, .only = {c.op}});
        CRegKey key(std::make_shared<CRegKeyImpl>(faults));
        ASSERT_EQ(key.Open(HkeyLocalMachine(), L"Software\\F"), kErrorSuccess);
        EXPECT_EQ(key.DeleteSubKeyTree(L"Top"), kErrorRegistryIoFailed) << gptest::RegOpName(c.op) << " " << c.nth;
        EXPECT_EQ(faults->Failures(), 1u);
        EXPECT_TRUE(Exists(L"Software\\F\\Top")) << "a failed tree delete must not report the top as gone";
        key.Close();
        EXPECT_EQ(faults->OpenHandles(), 0u) << "a failed tree delete closes the keys it opened";
        CRegKey cleanup(NewImpl());
        ASSERT_EQ(cleanup.Open(HkeyLocalMachine(), L"Software\\F"), kErrorSuccess);
        ASSERT_EQ(cleanup.DeleteSubKeyTree(L"Top"), kErrorSuccess);
    }
}

TEST_F(CRegKeyTest, AFaultyRawReadFailsEveryTypedReadWithItsCode) {
    CRegKey setup(NewImpl());
    ASSERT_EQ(setup.Create(HkeyLocalMachine(), L"Software\\Q"), kErrorSuccess);
    ASSERT_EQ(setup.SetDwordValue(L"d", 1), kErrorSuccess);
    ASSERT_EQ(setup.SetStringValue(L"s", L"x"), kErrorSuccess);
    for (uint64_t n = 0; n < 2; ++n) {
        auto faults = std::make_shared<gptest::FailingRegistryStore>(registry_.store);
        faults->Fail({.from = n, .times = 1, .only = {RegOp::QueryValue}});
        CRegKey key(std::make_shared<CRegKeyImpl>(faults));
        ASSERT_EQ(key.Open(HkeyLocalMachine(), L"Software\\Q", kKeyRead), kErrorSuccess);
        std::wstring text = L"before";
        // The wide-string read asks the size (call 0) and then reads (call 1).
        EXPECT_EQ(key.QueryStringValue(L"s", &text), kErrorRegistryIoFailed) << n;
        EXPECT_EQ(text, L"before");
    }
}

}  // namespace
