// Tests of the OS classification over an injected fake system, one case per table row, and
// of what the real version source reports on this machine.
#include <gtest/gtest.h>

#include <atomic>
#include <map>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "platform/FileSystem.h"
#include "support/CaseNames.h"
#include "utility/OSInfoProxy.h"

namespace Kestrix::internal {
namespace {

// A system with a platform id, a minor version and a service pack, answering equality tests.
class FakeVersionAPI : public WinOSVersionAPI {
public:
    uint32_t platformId = 2;
    uint32_t minor = 0;
    uint16_t servicePack = 0;
    std::atomic<int> calls{0};

    bool VerifyVersion(const OSVersionRecord& record, uint32_t typeMask, uint64_t conditionMask) override {
        ++calls;
        if (conditionMask != SetConditionMask(0, typeMask, kVerEqual)) return false;
        switch (typeMask) {
            case kVerPlatformId: return record.platformId == platformId;
            case kVerMinorVersion: return record.minorVersion == minor;
            case kVerServicePackMajor: return record.servicePackMajor == servicePack;
            default: return false;
        }
    }
};

// kernel32.dll's ProductVersion, or no version resource when empty.
class FakeKernelVersion : public FileVersionAPI {
public:
    explicit FakeKernelVersion(std::wstring version) : version_(std::move(version)) {}
    std::vector<std::wstring> loadedPaths;

    uint32_t GetFileVersionInfoSize(const std::wstring& path) override {
        loadedPaths.push_back(path);
        return version_.empty() ? 0 : 1;
    }
    bool GetFileVersionInfo(const std::wstring&, std::vector<uint8_t>& block) override {
        block.assign(1, 0);
        return true;
    }
    bool QueryTranslations(const std::vector<uint8_t>&, Translations& t) override {
        t = {{0x0409, 0x04B0}};
        return true;
    }
    bool QueryString(const std::vector<uint8_t>&, const std::wstring& subBlock, std::wstring& value) override {
        if (subBlock != L"\\StringFileInfo\\040904B0\\ProductVersion") return false;
        value = version_;
        return true;
    }

private:
    std::wstring version_;
};

bool SystemFolder(std::wstring& folder) {
    folder = L"C:\\Windows\\System32";
    return true;
}

struct Row {
    const char* name;
    uint32_t platformId;
    const wchar_t* productVersion;
    uint32_t minor;        // of the old family's probe
    uint16_t servicePack;  // the fake system's service pack
    bool classified;
    uint32_t kind, platform, major, minorOut, servicePackOut;
};

void PrintTo(const Row& r, std::ostream* os) {
    *os << r.name << ": platform id " << r.platformId << ", kernel " << gptest::Show(r.productVersion) << ", probe minor "
        << r.minor << ", service pack " << r.servicePack;
    if (r.classified) {
        *os << " -> kind " << r.kind << ", platform " << r.platform << ", version " << r.major << "." << r.minorOut
            << " SP" << r.servicePackOut;
    } else {
        *os << " -> not classified";
    }
}

class OSClassification : public ::testing::TestWithParam<Row> {};

TEST_P(OSClassification, Row) {
    const Row& r = GetParam();
    auto api = std::make_shared<FakeVersionAPI>();
    api->platformId = r.platformId;
    api->minor = r.minor;
    api->servicePack = r.servicePack;
    auto files = std::make_shared<FakeKernelVersion>(r.productVersion);
    OSInfoProxy<> proxy(api, files, &SystemFolder);

    uint32_t kind = 99, platform = 99;
    EXPECT_EQ(proxy.GetOSKindAndPlatform(kind, platform), r.classified);
    EXPECT_EQ(kind, r.kind);
    EXPECT_EQ(platform, r.platform);
    EXPECT_EQ(proxy.GetOSKind(), r.kind);
    EXPECT_EQ(proxy.GetPlatform(), r.platform);
    uint32_t major = 77, minor = 77, sp = 77;
    const bool hasVersion = r.classified && r.kind != OS_KIND_NT_OTHER;
    EXPECT_EQ(proxy.GetVersion(major, minor, sp), hasVersion);
    if (hasVersion) {
        EXPECT_EQ(major, r.major);
        EXPECT_EQ(minor, r.minorOut);
        EXPECT_EQ(sp, r.servicePackOut);
    } else {
        EXPECT_EQ(major + minor + sp, 3u * 77u);
    }
    ASSERT_FALSE(files->loadedPaths.empty());
    EXPECT_EQ(files->loadedPaths.front(), std::wstring(L"C:\\Windows\\System32") +
                                              glimmerpane::platform::kPathSeparator + L"kernel32.dll");
}

INSTANTIATE_TEST_SUITE_P(
    Table, OSClassification,
    ::testing::Values(
        Row{"OldFamilyMinor0", 1, L"4.0.950", 0, 0, true, 1, 0, 4, 0, 0},
        Row{"OldFamilyMinor10", 1, L"4.10.1998", 10, 0, true, 2, 0, 4, 10, 0},
        Row{"OldFamilyMinor89", 1, L"4.89", 89, 0, true, 2, 0, 4, 89, 0},
        Row{"OldFamilyMinor90", 1, L"4.90.3000", 90, 0, true, 5, 0, 4, 90, 0},
        Row{"OldFamilyNoMinorMatches", 1, L"4.0", 100, 0, false, 0, 2, 0, 0, 0},
        Row{"NT351", 2, L"3.51.1057", 0, 0, true, 3, 0, 3, 51, 0},
        Row{"NT4", 2, L"4.0.1381", 0, 6, true, 3, 0, 4, 0, 0},
        Row{"NT50Sp4", 2, L"5.0.2195.6717", 0, 4, true, 4, 0, 5, 0, 4},
        Row{"NT50Sp5NotProbed", 2, L"5.0.2195", 0, 5, true, 4, 0, 5, 0, 0},
        Row{"NT51Sp3", 2, L"5.1.2600.5512", 0, 3, true, 6, 1, 5, 1, 3},
        Row{"NT51Sp4NotProbed", 2, L"5.1.2600", 0, 4, true, 6, 1, 5, 1, 0},
        Row{"NT52Sp2", 2, L"5.2.3790", 0, 2, true, 6, 1, 5, 2, 2},
        Row{"NT60Sp2", 2, L"6.0.6002", 0, 2, true, 7, 1, 6, 0, 2},
        Row{"NT60Sp3NotProbed", 2, L"6.0.6002", 0, 3, true, 7, 1, 6, 0, 0},
        Row{"NT61Sp1", 2, L"6.1.7601.17514", 0, 1, true, 8, 1, 6, 1, 1},
        Row{"NT62", 2, L"6.2.9200", 0, 1, true, 9, 1, 6, 2, 0},
        Row{"NT63", 2, L"6.3.9600.16384 (winblue_rtm.130821-1623)", 0, 0, true, 10, 1, 6, 3, 0},
        Row{"NT64", 2, L"6.4", 0, 0, true, 10, 1, 6, 4, 0},
        Row{"NT10", 2, L"10.0.19041.1", 0, 0, true, 11, 1, 10, 0, 0},
        Row{"NT11Other", 2, L"11.0.1", 0, 0, true, 12, 1, 0, 0, 0},
        Row{"NT7Other", 2, L"7.0", 0, 0, true, 12, 1, 0, 0, 0},
        Row{"OtherPlatformId", 0, L"10.0", 0, 0, false, 0, 2, 0, 0, 0},
        Row{"NoSystemDllVersion", 2, L"", 0, 0, false, 0, 2, 0, 0, 0}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(OSInfoProxy, SystemDllVersionHasUpToFourParts) {
    auto api = std::make_shared<FakeVersionAPI>();
    OSInfoProxy<> full(api, std::make_shared<FakeKernelVersion>(L"10.0.19041.1288.7"), &SystemFolder);
    uint32_t v[4] = {9, 9, 9, 9};
    ASSERT_TRUE(full.GetSystemDllVersion(v));
    EXPECT_EQ((std::vector<uint32_t>(v, v + 4)), (std::vector<uint32_t>{10, 0, 19041, 1288}));
    OSInfoProxy<> shortVersion(api, std::make_shared<FakeKernelVersion>(L"6.1"), &SystemFolder);
    ASSERT_TRUE(shortVersion.GetSystemDllVersion(v));
    EXPECT_EQ((std::vector<uint32_t>(v, v + 4)), (std::vector<uint32_t>{6, 1, 0, 0}));
}

TEST(OSInfoProxy, ClassifiesOnceAndCopiesShareTheResult) {
    auto api = std::make_shared<FakeVersionAPI>();
    OSInfoProxy<> proxy(api, std::make_shared<FakeKernelVersion>(L"10.0"), &SystemFolder);
    EXPECT_EQ(proxy.GetPlatform(), 1u);
    const int afterFirst = api->calls.load();
    OSInfoProxy<> copy(proxy);
    EXPECT_EQ(copy.GetOSKind(), 11u);
    EXPECT_EQ(proxy.GetOSKind(), 11u);
    EXPECT_EQ(api->calls.load(), afterFirst);
}

TEST(OSInfoProxy, FailedClassificationIsRetried) {
    auto api = std::make_shared<FakeVersionAPI>();
    api->platformId = 7;
    OSInfoProxy<> proxy(api, std::make_shared<FakeKernelVersion>(L"10.0"), &SystemFolder);
    EXPECT_EQ(proxy.GetPlatform(), 2u);
    api->platformId = 2;  // the next question classifies again and now succeeds
    EXPECT_EQ(proxy.GetPlatform(), 1u);
}

TEST(OSInfoProxy, ConcurrentQuestionsClassifyOnce) {
    auto api = std::make_shared<FakeVersionAPI>();
    api->servicePack = 1;
    auto files = std::make_shared<FakeKernelVersion>(L"6.1");
    OSInfoProxy<> proxy(api, files, &SystemFolder);
    std::vector<std::thread> threads;
    std::atomic<int> wrong{0};
    for (int i = 0; i < 8; ++i)
        threads.emplace_back([&] {
            OSInfoProxy<> mine(proxy);
            if (mine.GetOSKind() != 8u || mine.GetPlatform() != 1u) ++wrong;
        });
    for (auto& t : threads) t.join();
    EXPECT_EQ(wrong.load(), 0);
    EXPECT_EQ(files->loadedPaths.size(), 1u);
}

TEST(OSInfoProxy, IsNTAsksThePlatformIdDirectly) {
    auto api = std::make_shared<FakeVersionAPI>();
    OSInfoProxy<> proxy(api, std::make_shared<FakeKernelVersion>(L""), &SystemFolder);
    EXPECT_TRUE(proxy.IsNT());
    api->platformId = 1;
    EXPECT_FALSE(proxy.IsNT());
}

#ifndef _WIN32
TEST(OSInfoProxy, LinuxIsReportedAsAnUnknownPlatform) {
    OSInfoProxy<> proxy;
    uint32_t kind = 99, platform = 99;
    EXPECT_FALSE(proxy.GetOSKindAndPlatform(kind, platform));
    EXPECT_EQ(kind, 0u);
    EXPECT_EQ(platform, 2u);
    EXPECT_FALSE(proxy.IsNT());
    EXPECT_EQ(proxy.IsWow64(), sizeof(void*) == 4);  // a 64-bit build is never emulated
    // The real version source answers Linux's own facts.
    WinOSVersionAPI running;
    OSVersionRecord record;
    record.platformId = glimmerpane::platform::kPlatformIdPosix;
    EXPECT_TRUE(running.VerifyVersion(record, kVerPlatformId, SetConditionMask(0, kVerPlatformId, kVerEqual)));
    record.majorVersion = 2;
    EXPECT_TRUE(running.VerifyVersion(record, kVerMajorVersion, SetConditionMask(0, kVerMajorVersion, 3)));
    EXPECT_FALSE(running.VerifyVersion(record, kVerMajorVersion, SetConditionMask(0, kVerMajorVersion, 4)));
}
#endif

TEST(SetConditionMask, PlacesThreeBitsPerTypeIndex) {
    EXPECT_EQ(SetConditionMask(0, kVerMinorVersion, 1), 1u);
    EXPECT_EQ(SetConditionMask(0, kVerMajorVersion, 3), 3u << 3);
    EXPECT_EQ(SetConditionMask(0, kVerServicePackMajor, kVerEqual), 1ull << 15);
    EXPECT_EQ(SetConditionMask(SetConditionMask(0, kVerPlatformId, 5), kVerPlatformId, 1), 1ull << 9);
}

}  // namespace
}  // namespace Kestrix::internal
