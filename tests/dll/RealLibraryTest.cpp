// SharedLibrary over the real wrapper and the built libraries, copied into a temporary
// folder: a trusted copy loads, an untrusted one is refused before it is mapped, a blocked
// version is refused, and a library without the four exports is unloaded again.
#include <gtest/gtest.h>

#ifndef _WIN32
#include <filesystem>
#include <fstream>
#include <sstream>

#include "dll/LoaderFakes.h"
#include "module/ModuleException.h"
#include "platform/DynamicLibrary.h"
#include "support/RecordingLogger.h"
#include "utility/CObfuscatedRegKey.h"
#include "base/Utf.h"

namespace Vornik {
namespace {

namespace fs = std::filesystem;
namespace platform = glimmerpane::platform;
using ETWLogging::LogSeverity;
using fs::perms;
using gptest::LogCapture;

// The built libraries lie beside the test executable.
fs::path Built(const wchar_t* base) {
    return fs::path(glimmerpane::base::Utf8FromWide(platform::ExecutableFolder() + platform::LibraryFileName(base)));
}

bool IsMapped(const fs::path& path) {
    std::ifstream maps("/proc/self/maps");
    std::string line;
    while (std::getline(maps, line)) {
        if (line.find(path.string()) != std::string::npos) return true;
    }
    return false;
}

class RealLibrary : public ::testing::Test {
protected:
    void SetUp() override {
        folder = temp.path() / "lib";
        fs::create_directory(folder);
        fs::permissions(folder, perms::owner_all | perms::group_read | perms::group_exec | perms::others_read |
                                    perms::others_exec);
    }
    fs::path place(const wchar_t* base) {
        const fs::path target = folder / Built(base).filename();
        fs::copy_file(Built(base), target);
        fs::permissions(target, perms::owner_all | perms::group_read | perms::group_exec | perms::others_read |
                                    perms::others_exec);
        return target;
    }
    std::unique_ptr<SharedLibrary> load(const fs::path& file) {
        const LibraryDescriptor descriptor{glimmerpane::base::WideFromUtf8(file.filename().string()),
                                           {glimmerpane::base::WideFromUtf8(folder.string())}};
        return std::make_unique<SharedLibrary>(descriptor, nullptr, gptest::TestPathHelpers(registry.store), nullptr,
                                               nullptr, std::make_shared<Kestrix::CObfuscatedRegKey>(registry.store));
    }

    gptest::TempFolder temp;
    gptest::TempRegistry registry;
    fs::path folder;
};

TEST_F(RealLibrary, ATrustedCopyOfTheModuleLoadsAndAnswersThroughItsExports) {
    const fs::path file = place(L"Glimmerpane");
    {
        auto library = load(file);
        EXPECT_TRUE(IsMapped(file));
        EXPECT_EQ(library->getFunctions()->getVersionNum(), 1006000u);
        EXPECT_STREQ(library->getFunctions()->getVersionStr(), "1.6.0");
    }
    EXPECT_FALSE(IsMapped(file)) << "the destructor unloads";
}

struct UntrustedCase {
    const char* name;
    void (*arrange)(const fs::path& file, const fs::path& folder);
};

void PrintTo(const UntrustedCase& c, std::ostream* os) { *os << c.name; }

class UntrustedLibrary : public RealLibrary, public ::testing::WithParamInterface<UntrustedCase> {};

TEST_P(UntrustedLibrary, IsRefusedWithTheVerifierCodeAndNeverMapped) {
    const fs::path file = place(L"BusBroker");
    GetParam().arrange(file, folder);
    LogCapture capture;
    EXPECT_THROW(load(file), ModuleException);
    EXPECT_FALSE(IsMapped(file));
    EXPECT_FALSE(capture.containing(L"Library not trusted: ").empty());
    EXPECT_TRUE(capture.has(LogSeverity::Error, L"LoadLibrary Failed. GLE: 5"));
    EXPECT_TRUE(capture.has(LogSeverity::Error,
                            L"Failed to load library. Error code: MODULE_STATUS_UNSUCCESSFUL(2147483650)."));
    EXPECT_TRUE(capture.has(LogSeverity::Error, L"Failed to load library: BusBroker.so."));
    EXPECT_TRUE(capture.has(LogSeverity::Error, L"Failed to load library: BusBroker.so. Throwing ModuleException."));
}

INSTANTIATE_TEST_SUITE_P(
    Cases, UntrustedLibrary,
    ::testing::Values(
        UntrustedCase{"WorldWritable",
                      [](const fs::path& f, const fs::path&) { fs::permissions(f, perms::others_write, fs::perm_options::add); }},
        UntrustedCase{"GroupWritable",
                      [](const fs::path& f, const fs::path&) { fs::permissions(f, perms::group_write, fs::perm_options::add); }},
        UntrustedCase{"InAWritableFolder",
                      [](const fs::path&, const fs::path& d) { fs::permissions(d, perms::others_write, fs::perm_options::add); }},
        UntrustedCase{"LinkIntoAWritableFolder", [](const fs::path& f, const fs::path& d) {
                          const fs::path open = d.parent_path() / "open";
                          fs::create_directory(open);
                          fs::permissions(open, perms::all);
                          fs::rename(f, open / f.filename());
                          fs::create_symlink(open / f.filename(), f);
                      }}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(RealLibrary, ADirectoryNamedLikeTheLibraryIsNotFound) {
    fs::create_directory(folder / "BusBroker.so");
    LogCapture capture;
    EXPECT_THROW(load(folder / "BusBroker.so"), ModuleException);
    EXPECT_TRUE(capture.has(LogSeverity::Error, L"Failed to find valid path for library: BusBroker.so."));
}

TEST_F(RealLibrary, ABlockedVersionIsRefusedBeforeLoading) {
    const fs::path file = place(L"GPNResources");
    Kestrix::CObfuscatedRegKey key(registry.store);
    ASSERT_EQ(key.Create(platform::HkeyLocalMachine(), L"SOFTWARE\\Corvane\\Plinthos\\List\\gpnresources.so"), 0u);
    ASSERT_EQ(key.SetStringValue(L"1.6.0", L"1.6.0"), 0u);
    LogCapture capture;
    EXPECT_THROW(load(file), ModuleException);
    EXPECT_FALSE(IsMapped(file));
    EXPECT_TRUE(capture.has(LogSeverity::Information,
                            L"Blocked library: " + glimmerpane::base::WideFromUtf8(file.string()) + L"."));
}

TEST_F(RealLibrary, TheVersionIsReadFromTheResolvedFileThatIsLoaded) {
    const fs::path real = place(L"Glimmerpane");
    const fs::path link = folder / "Linked.so";
    fs::create_symlink(real.filename(), link);
    auto versions = std::make_shared<gptest::FixedVersionAPI>(L"9.9.9");
    const LibraryDescriptor descriptor{L"Linked.so", {glimmerpane::base::WideFromUtf8(folder.string())}};
    {
        SharedLibrary library(descriptor, nullptr, gptest::TestPathHelpers(registry.store), nullptr,
                              std::make_shared<Kestrix::FileVersionInfo>(versions),
                              std::make_shared<Kestrix::CObfuscatedRegKey>(registry.store));
        EXPECT_TRUE(IsMapped(fs::canonical(real)));
    }
    ASSERT_FALSE(versions->paths.empty());
    for (const std::wstring& path : versions->paths)
        EXPECT_EQ(path, glimmerpane::base::WideFromUtf8(fs::canonical(real).string()));
}

TEST_F(RealLibrary, ALibraryWithoutTheFourExportsIsUnloadedAgain) {
    const fs::path file = place(L"GPNResources");
    LogCapture capture;
    try {
        load(file);
        FAIL() << "no exception";
    } catch (const ModuleException& e) {
        EXPECT_STREQ(e.what(), "Failed to import functions from library");
    }
    EXPECT_FALSE(IsMapped(file));
    EXPECT_TRUE(capture.has(LogSeverity::Error, L"Failed to load CreateObject function from library: GPNResources.so."));
}

TEST(BuiltLibraries, CarryTheirVersionInThePackageNote) {
    for (const wchar_t* base : {L"Glimmerpane", L"BusBroker", L"GPNResources"}) {
        Kestrix::FileVersionInfo info;
        ASSERT_TRUE(info.Load(glimmerpane::base::WideFromUtf8(Built(base).string()))) << Built(base);
        std::wstring version;
        EXPECT_EQ(info.GetString(version, L"FileVersion"), L"1.6.0") << Built(base);
    }
}

}  // namespace
}  // namespace Vornik
#endif
