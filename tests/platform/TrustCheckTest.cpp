// Contract of the code-signature check: on POSIX the trusted-path check that stands in for
// signatures, on Windows WinVerifyTrust; what is trusted, what is refused and with which
// Win32 code.
#include <gtest/gtest.h>

#ifndef _WIN32
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <functional>

#include "platform/TrustCheck.h"
#include "support/CaseNames.h"
#include "support/TempRegistry.h"
#include "base/Utf.h"

namespace {

namespace fs = std::filesystem;
namespace platform = glimmerpane::platform;
using fs::perms;

// A temporary folder (0700, ours, under the root-owned sticky temporary folder) holding
// trusted/ (0755) with lib.so (0644), and a writable/ folder (0777) with lib.so (0644).
class TrustCheck : public ::testing::Test {
protected:
    void SetUp() override {
        fs::create_directory(root() / "trusted");
        fs::permissions(root() / "trusted", perms::owner_all | perms::group_read | perms::group_exec |
                                                 perms::others_read | perms::others_exec);
        fs::create_directory(root() / "writable");
        fs::permissions(root() / "writable", perms::all);
        for (const char* folder : {"trusted", "writable"}) {
            std::ofstream(root() / folder / "lib.so") << "ELF";
            fs::permissions(root() / folder / "lib.so",
                            perms::owner_read | perms::owner_write | perms::group_read | perms::others_read);
        }
    }
    const fs::path& root() const { return temp.path(); }
    static uint32_t check(const fs::path& path) { return platform::VerifyTrustedFile(glimmerpane::base::WideFromUtf8(path.string())); }

    gptest::TempFolder temp;
};

struct TrustCase {
    const char* name;
    std::function<fs::path(const fs::path& root)> arrange;
    uint32_t expected;
};

void PrintTo(const TrustCase& c, std::ostream* os) { *os << c.name << ", expecting code " << c.expected; }

class TrustCheckCases : public TrustCheck, public ::testing::WithParamInterface<TrustCase> {};

TEST_P(TrustCheckCases, AnswersWithTheExpectedCode) {
    const fs::path path = GetParam().arrange(root());
    std::wstring reason;
    std::wstring verified;
    const uint32_t code = platform::VerifyTrustedFile(glimmerpane::base::WideFromUtf8(path.string()), &verified, &reason);
    EXPECT_EQ(code, GetParam().expected) << glimmerpane::base::Utf8FromWide(reason);
    if (code == 0) {
        EXPECT_EQ(fs::path(glimmerpane::base::Utf8FromWide(verified)), fs::canonical(path));
    } else {
        EXPECT_FALSE(reason.empty());
        EXPECT_TRUE(verified.empty());
    }
}

INSTANTIATE_TEST_SUITE_P(
    Contract, TrustCheckCases,
    ::testing::Values(
        TrustCase{"TrustedFile", [](const fs::path& r) { return r / "trusted" / "lib.so"; }, 0},
        TrustCase{"DoubledSeparator", [](const fs::path& r) { return fs::path(r.string() + "/trusted//lib.so"); }, 0},
        TrustCase{"Missing", [](const fs::path& r) { return r / "trusted" / "none.so"; }, 2},
        TrustCase{"MissingFolder", [](const fs::path& r) { return r / "none" / "lib.so"; }, 2},
        TrustCase{"Directory", [](const fs::path& r) {
                      fs::create_directory(r / "trusted" / "dir.so");
                      return r / "trusted" / "dir.so"; }, 5},
        TrustCase{"GroupWritableFile", [](const fs::path& r) {
                      fs::permissions(r / "trusted" / "lib.so", perms::group_write, fs::perm_options::add);
                      return r / "trusted" / "lib.so"; }, 5},
        TrustCase{"WorldWritableFile", [](const fs::path& r) {
                      fs::permissions(r / "trusted" / "lib.so", perms::others_write, fs::perm_options::add);
                      return r / "trusted" / "lib.so"; }, 5},
        TrustCase{"FileInWorldWritableFolder", [](const fs::path& r) { return r / "writable" / "lib.so"; }, 5},
        TrustCase{"FileInGroupWritableFolder", [](const fs::path& r) {
                      fs::permissions(r / "trusted", perms::group_write, fs::perm_options::add);
                      return r / "trusted" / "lib.so"; }, 5},
        TrustCase{"WritableFolderHigherUp", [](const fs::path& r) {
                      fs::create_directories(r / "trusted" / "a" / "b");
                      fs::copy_file(r / "trusted" / "lib.so", r / "trusted" / "a" / "b" / "lib.so");
                      fs::permissions(r / "trusted" / "a", perms::others_write, fs::perm_options::add);
                      return r / "trusted" / "a" / "b" / "lib.so"; }, 5},
        TrustCase{"LinkToATrustedFile", [](const fs::path& r) {
                      fs::create_symlink(r / "trusted" / "lib.so", r / "trusted" / "link.so");
                      return r / "trusted" / "link.so"; }, 0},
        TrustCase{"LinkIntoAWritableFolder", [](const fs::path& r) {
                      fs::create_symlink(r / "writable" / "lib.so", r / "trusted" / "link.so");
                      return r / "trusted" / "link.so"; }, 5},
        TrustCase{"LinkKeptInAWritableFolder", [](const fs::path& r) {
                      fs::create_symlink(r / "trusted" / "lib.so", r / "writable" / "link.so");
                      return r / "writable" / "link.so"; }, 5},
        TrustCase{"FolderLinkIntoAWritableFolder", [](const fs::path& r) {
                      fs::create_directory_symlink(r / "writable", r / "trusted" / "sub");
                      return r / "trusted" / "sub" / "lib.so"; }, 5},
        TrustCase{"DanglingLink", [](const fs::path& r) {
                      fs::create_symlink(r / "trusted" / "gone.so", r / "trusted" / "link.so");
                      return r / "trusted" / "link.so"; }, 2}),
    gptest::ByName());

TEST_F(TrustCheck, EmptyPathIsAnInvalidParameter) { EXPECT_EQ(platform::VerifyTrustedFile(L""), 87u); }

TEST_F(TrustCheck, ARootOwnedStickyFolderMayBeWritableByAll) {
    // The temporary folder itself is such a folder on every Debian system.
    const fs::path temp = fs::temp_directory_path();
    const auto status = fs::status(temp);
    if ((status.permissions() & perms::sticky_bit) == perms::none) GTEST_SKIP() << "temporary folder not sticky";
    EXPECT_EQ(check(root() / "trusted" / "lib.so"), 0u);
}

TEST_F(TrustCheck, FilesAndFoldersOfOtherUsersAreRefused) {
    if (geteuid() != 0) GTEST_SKIP() << "changing owners needs root";
    constexpr uid_t kNobody = 65534;
    ASSERT_EQ(chown((root() / "trusted" / "lib.so").c_str(), kNobody, static_cast<gid_t>(-1)), 0);
    EXPECT_EQ(check(root() / "trusted" / "lib.so"), 5u);
    ASSERT_EQ(chown((root() / "trusted" / "lib.so").c_str(), 0, static_cast<gid_t>(-1)), 0);
    ASSERT_EQ(check(root() / "trusted" / "lib.so"), 0u);
    ASSERT_EQ(chown((root() / "trusted").c_str(), kNobody, static_cast<gid_t>(-1)), 0);
    EXPECT_EQ(check(root() / "trusted" / "lib.so"), 5u);
    // A sticky folder writable by all passes only when root owns it.
    fs::create_directory(root() / "sticky");
    fs::permissions(root() / "sticky", perms::all | perms::sticky_bit);
    fs::copy_file(root() / "writable" / "lib.so", root() / "sticky" / "lib.so");
    EXPECT_EQ(check(root() / "sticky" / "lib.so"), 0u);
    ASSERT_EQ(chown((root() / "sticky").c_str(), kNobody, static_cast<gid_t>(-1)), 0);
    EXPECT_EQ(check(root() / "sticky" / "lib.so"), 5u);
}

}  // namespace
#endif

#ifdef _WIN32
#include <filesystem>
#include <fstream>

#include "platform/DynamicLibrary.h"
#include "platform/TrustCheck.h"
#include "support/TempRegistry.h"

namespace {

namespace fs = std::filesystem;
namespace platform = glimmerpane::platform;

// The DLLs beside the test carry the build's test signature (cmake/TestSigning.cmake); the
// test executable itself is not signed, as no release file ever is before signing, so it
// shows the refusal a release build gives an unsigned library.
TEST(TrustCheck, SignedLibrariesPassAndEverythingElseHasItsCode) {
    gptest::TempFolder temp;
    const fs::path bin(platform::ExecutableFolder());
    fs::copy_file(bin / "BusBroker.dll", temp.path() / "tampered.dll");
    {
        std::fstream file(temp.path() / "tampered.dll", std::ios::in | std::ios::out | std::ios::binary);
        file.seekp(0x400);  // inside the signed image, past the headers
        file.put('\x5A');
    }
    struct Case {
        const char* name;
        std::wstring path;
        uint32_t code;
    };
    const Case cases[] = {
        {"signed module", (bin / "Glimmerpane.dll").wstring(), platform::kTrustOk},
        {"signed bus library", (bin / "BusBroker.dll").wstring(), platform::kTrustOk},
        {"signed resource library", (bin / "GPNResources.dll").wstring(), platform::kTrustOk},
        {"unsigned executable", platform::ExecutablePath(), platform::kTrustAccessDenied},
        {"changed after signing", (temp.path() / "tampered.dll").wstring(), platform::kTrustAccessDenied},
        {"missing file", (temp.path() / "missing.dll").wstring(), platform::kTrustFileNotFound},
        {"missing folder", (temp.path() / "none" / "missing.dll").wstring(), platform::kTrustFileNotFound},
        {"a folder", temp.path().wstring(), platform::kTrustAccessDenied},
        {"empty path", L"", platform::kTrustInvalidParameter},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        std::wstring verified, reason;
        EXPECT_EQ(platform::VerifyTrustedFile(c.path, &verified, &reason), c.code);
        if (c.code == platform::kTrustOk) {
            EXPECT_EQ(verified, c.path);
        } else {
            EXPECT_FALSE(reason.empty());
        }
    }
}

}  // namespace
#endif
