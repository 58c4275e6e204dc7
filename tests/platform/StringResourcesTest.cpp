// StringResourcesTest.cpp - the POSIX stand-in for LoadLibraryW / LoadStringW /
// GetModuleHandleW / GetModuleFileNameW, against a resource library built from a test
// script, and the MUI loader with and without the (fake) MUI runtime.
#include "platform/StringResources.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "platform/DynamicLibrary.h"
#include "platform/LanguageIds.h"
#include "platform/MuiResourceLoader.h"
#include "support/TestEnvironment.h"
#include "support/TempRegistry.h"
#include "base/Utf.h"

namespace glimmerpane::platform {
namespace {

using gptest::ScopedEnvironment;

class StringResourcesTest : public testing::Test {
protected:
    void SetUp() override {
        library_ = LoadResourceLibrary(gptest::TestLibraryFolder() + L"TestStrings.so");
        ASSERT_NE(library_, nullptr) << LastErrorCode();
    }
    void TearDown() override {
        if (library_ != nullptr) {
            EXPECT_TRUE(FreeResourceLibrary(library_));
        }
    }
    std::wstring load(uint32_t id) {
        const wchar_t* text = nullptr;
        const int length = LoadResourceString(library_, id, reinterpret_cast<wchar_t*>(&text), 0);
        return length > 0 ? std::wstring(text, static_cast<size_t>(length)) : std::wstring();
    }
    ModuleHandle library_ = nullptr;
};

TEST_F(StringResourcesTest, BufferSizeZeroGivesAPointerIntoTheLibrary) {
    ScopedEnvironment env;
    env.language("en_US.UTF-8");
    const wchar_t* first = nullptr;
    const wchar_t* second = nullptr;
    ASSERT_EQ(LoadResourceString(library_, 1, reinterpret_cast<wchar_t*>(&first), 0), 5);
    ASSERT_EQ(LoadResourceString(library_, 1, reinterpret_cast<wchar_t*>(&second), 0), 5);
    EXPECT_EQ(first, second);  // the same read-only text, not a copy
    EXPECT_EQ(std::wstring(first, 5), L"Hello");
    EXPECT_EQ(load(102), L"Quote \" and tab\t and line\nbreak");
    EXPECT_EQ(load(7), L"\U0001F600 wide");
}

TEST_F(StringResourcesTest, CopyingTruncatesAndTerminates) {
    ScopedEnvironment env;
    env.language("en_US.UTF-8");
    wchar_t buffer[4] = {L'x', L'x', L'x', L'x'};
    EXPECT_EQ(LoadResourceString(library_, 1, buffer, 4), 3);
    EXPECT_EQ(std::wstring(buffer), L"Hel");
    EXPECT_EQ(LoadResourceString(library_, 1, nullptr, 4), 0);
    EXPECT_EQ(LastErrorCode(), kErrorInvalidParameter);
}

TEST_F(StringResourcesTest, LanguageFollowsTheEnvironmentWithoutPerStringFallback) {
    struct Case {
        std::optional<std::string> language, lcAll, lcMessages, lang;
        std::wstring greeting;
    };
    const Case cases[] = {
        {std::nullopt, std::nullopt, std::nullopt, "de_DE.UTF-8", L"Grüß Gott"},
        {std::nullopt, std::nullopt, std::nullopt, "de_AT.UTF-8", L"Grüß Gott"},  // same language, other region
        {std::nullopt, std::nullopt, std::nullopt, "en_GB.UTF-8", L"Hello"},
        {std::nullopt, "de_DE.UTF-8", std::nullopt, "en_US.UTF-8", L"Grüß Gott"},  // LC_ALL wins over LANG
        {std::nullopt, std::nullopt, "de_DE.UTF-8", "en_US.UTF-8", L"Grüß Gott"},  // and LC_MESSAGES
        {"fr:de", std::nullopt, std::nullopt, "en_US.UTF-8", L"Grüß Gott"},       // LANGUAGE list, in order
        {std::nullopt, std::nullopt, std::nullopt, "ja_JP.UTF-8", L"Neutral hello"},  // unknown: neutral table
        {std::nullopt, std::nullopt, std::nullopt, "C", L"Neutral hello"},
    };
    for (const Case& c : cases) {
        ScopedEnvironment env;
        env.set("LANGUAGE", c.language).set("LC_ALL", c.lcAll).set("LC_MESSAGES", c.lcMessages).set("LANG", c.lang);
        EXPECT_EQ(load(1), c.greeting) << (c.lang ? *c.lang : "") << " / " << (c.language ? *c.language : "");
    }
    ScopedEnvironment env;
    env.language("de_DE.UTF-8");
    // 101 exists only in English: German users get nothing, as on Windows.
    const wchar_t* text = nullptr;
    EXPECT_EQ(LoadResourceString(library_, 101, reinterpret_cast<wchar_t*>(&text), 0), 0);
    EXPECT_EQ(LastErrorCode(), kErrorResourceNameNotFound);
    EXPECT_EQ(load(102), L"Anführung \" und Tab\t und Zeile\nUmbruch");
}

TEST_F(StringResourcesTest, ALibraryWithoutTableHasNoStrings) {
    const wchar_t* text = nullptr;
    // The fake MUI runtime is a shared library without a string table.
    ModuleHandle other = LoadResourceLibrary(gptest::TestLibraryFolder() + L"Corvane/Platform/CvRtMui.so");
    ASSERT_NE(other, nullptr);
    EXPECT_EQ(LoadResourceString(other, 1, reinterpret_cast<wchar_t*>(&text), 0), 0);
    EXPECT_EQ(LastErrorCode(), kErrorResourceTypeNotFound);
    EXPECT_TRUE(FreeResourceLibrary(other));
}

TEST(StringResourcesLoadTest, MissingAndInvalidLibrariesFailWithWin32Codes) {
    EXPECT_EQ(LoadResourceLibrary(gptest::TestLibraryFolder() + L"NoSuch.so"), nullptr);
    EXPECT_EQ(LastErrorCode(), kErrorModNotFound);
    const std::wstring notALibrary = glimmerpane::base::WideFromUtf8(gptest::SourceFolder()) + L"resources/GPNResources.rc";
    EXPECT_EQ(LoadResourceLibrary(notALibrary), nullptr);
    EXPECT_EQ(LastErrorCode(), kErrorBadExeFormat);
    EXPECT_TRUE(PathExists(notALibrary));
    EXPECT_FALSE(PathExists(notALibrary + L".missing"));
    EXPECT_EQ(LastErrorCode(), kErrorFileNotFound);
}

TEST(StringResourcesModuleTest, FindsLoadedModulesByFileNameAndReportsTheirPaths) {
    ModuleHandle library = LoadResourceLibrary(gptest::TestLibraryFolder() + L"TestStrings.so");
    ASSERT_NE(library, nullptr);
    for (const wchar_t* name : {L"TestStrings.so", L"teststrings.SO"}) {
        ModuleHandle found = FindLoadedModule(name);
        ASSERT_EQ(found, library) << name;
    }
    wchar_t buffer[1024] = {};
    const uint32_t length = LoadedModuleFileName(library, buffer, 1024);
    EXPECT_EQ(std::wstring(buffer, length), gptest::TestLibraryFolder() + L"TestStrings.so");
    wchar_t small[8] = {};
    EXPECT_EQ(LoadedModuleFileName(library, small, 8), 8u);
    EXPECT_EQ(LastErrorCode(), kErrorInsufficientBuffer);
    EXPECT_EQ(std::wstring(small).size(), 7u);
    EXPECT_TRUE(FreeResourceLibrary(library));
    EXPECT_EQ(FindLoadedModule(L"TestStrings.so"), nullptr);
    EXPECT_EQ(LastErrorCode(), kErrorModNotFound);

    // The executable is found under its own file name, and owns this test's code.
    ModuleHandle self = FindLoadedModule(L"gp_unit_tests");
    ASSERT_NE(self, nullptr);
    EXPECT_EQ(ModuleContainingAddress(reinterpret_cast<const void*>(&LoadResourceLibrary)), self);
    const uint32_t selfLength = LoadedModuleFileName(self, buffer, 1024);
    EXPECT_EQ(std::wstring(buffer, selfLength), gptest::BinFolder() + L"gp_unit_tests");
}

TEST(LanguageIdsTest, MapsLocaleNamesAndChoosesWithWindowsFallbacks) {
    EXPECT_EQ(LanguageIdFromLocaleName("de_DE.UTF-8@euro"), 0x0407);
    EXPECT_EQ(LanguageIdFromLocaleName("fr-CA"), 0x0c0c);
    EXPECT_EQ(LanguageIdFromLocaleName("en"), 0x0009);
    EXPECT_EQ(LanguageIdFromLocaleName("POSIX"), std::nullopt);
    EXPECT_EQ(LanguageIdFromLocaleName("xx_YY"), std::nullopt);
    EXPECT_EQ(LanguageTag(0x040c), "fr-FR");
    const std::vector<uint16_t> shipped = {0x0409, 0x0407, 0x040c};
    EXPECT_EQ(ChooseLanguage(shipped, {0x0c0c}), 2u);          // fr-CA -> fr-FR
    EXPECT_EQ(ChooseLanguage(shipped, {0x0411, 0x0407}), 1u);  // first known preference
    EXPECT_EQ(ChooseLanguage(shipped, {}), 0u);                // en-US without a neutral table
    EXPECT_EQ(ChooseLanguage({0x0407, 0x0409}, {0x0411}), 1u);
    EXPECT_EQ(ChooseLanguage({0x0407, 0x0000}, {0x0411}), 1u);
    EXPECT_EQ(ChooseLanguage({}, {0x0409}), std::string::npos);
}

// ---- MUI loader ----

TEST(MuiResourceLoaderTest, WithoutTheRuntimeThePlainFunctionsServe) {
    ScopedEnvironment env;
    env.language("de_DE.UTF-8").set("CommonProgramFiles", "/nonexistent-common-files");
    MuiResourceLoader loader(MuiResourceLoader::DefaultCandidates());
    ASSERT_FALSE(loader.usesMuiRuntime());
    ModuleHandle library = loader.loadLibrary(gptest::TestLibraryFolder() + L"TestStrings.so");
    ASSERT_NE(library, nullptr);
    const wchar_t* text = nullptr;
    const int length = loader.loadString(library, 1, reinterpret_cast<wchar_t*>(&text), 0);
    EXPECT_EQ(std::wstring(text, static_cast<size_t>(length)), L"Grüß Gott");
    EXPECT_TRUE(FreeResourceLibrary(library));
}

unsigned FakeCalls(ModuleHandle runtime) {
    auto calls = reinterpret_cast<unsigned (*)()>(FindSymbol(runtime, "FakeMuiCalls", nullptr));
    return calls ? calls() : 0;
}

TEST(MuiResourceLoaderTest, TheRuntimeUnderCommonProgramFilesServesLoads) {
    ScopedEnvironment env;
    std::wstring folder = gptest::TestLibraryFolder();
    folder.pop_back();
    env.language("de_DE.UTF-8").set("CommonProgramFiles", glimmerpane::base::Utf8FromWide(folder));
    const std::vector<std::wstring> candidates = MuiResourceLoader::DefaultCandidates();
    ASSERT_EQ(candidates.size(), 2u);
    EXPECT_EQ(candidates[0], folder + L"/Corvane/Platform/CvRtMui.so");
    EXPECT_EQ(candidates[1], L"CvRtMui.so");
    MuiResourceLoader loader(candidates);
    ASSERT_TRUE(loader.usesMuiRuntime());
    EXPECT_EQ(loader.runtimePath(), candidates[0]);
    ModuleHandle library = loader.loadLibrary(gptest::TestLibraryFolder() + L"TestStrings.so");
    ASSERT_NE(library, nullptr);
    const wchar_t* text = nullptr;
    const int length = loader.loadString(library, 1, reinterpret_cast<wchar_t*>(&text), 0);
    // The fake runtime always answers in English: the German user's plain loader would not.
    EXPECT_EQ(std::wstring(text, static_cast<size_t>(length)), L"Hello");
    EXPECT_EQ(loader.loadString(library, 999, reinterpret_cast<wchar_t*>(&text), 0), 0);
    EXPECT_EQ(LastErrorCode(), kErrorResourceNameNotFound);
    ModuleHandle runtime = FindLoadedModule(L"CvRtMui.so");
    EXPECT_EQ(FakeCalls(runtime), 3u);
    EXPECT_TRUE(FreeResourceLibrary(library));
}

TEST(MuiResourceLoaderTest, TheBareNameFindsAnAlreadyLoadedRuntime) {
    ScopedEnvironment env;
    env.language("de_DE.UTF-8").set("CommonProgramFiles", std::nullopt);
    // Loading it first stands in for the system search finding it.
    ModuleHandle preloaded = LoadResourceLibrary(gptest::TestLibraryFolder() + L"Corvane/Platform/CvRtMui.so");
    ASSERT_NE(preloaded, nullptr);
    {
        const std::vector<std::wstring> candidates = MuiResourceLoader::DefaultCandidates();
        ASSERT_EQ(candidates, std::vector<std::wstring>{L"CvRtMui.so"});
        MuiResourceLoader loader(candidates);
        ASSERT_TRUE(loader.usesMuiRuntime());
        ModuleHandle library = loader.loadLibrary(gptest::TestLibraryFolder() + L"TestStrings.so");
        ASSERT_NE(library, nullptr);
        const wchar_t* text = nullptr;
        const int length = loader.loadString(library, 1, reinterpret_cast<wchar_t*>(&text), 0);
        EXPECT_EQ(std::wstring(text, static_cast<size_t>(length)), L"Hello");
        EXPECT_EQ(FakeCalls(preloaded), 2u);
        EXPECT_TRUE(FreeResourceLibrary(library));
    }
    EXPECT_TRUE(FreeResourceLibrary(preloaded));
}

// ---- trust ----

bool IsMapped(const std::filesystem::path& file) {
    std::ifstream maps("/proc/self/maps");
    std::string line;
    while (std::getline(maps, line)) {
        if (line.find(file.string()) != std::string::npos) return true;
    }
    return false;
}

struct UntrustedCopy {
    const char* name;
    void (*arrange)(const std::filesystem::path& file, const std::filesystem::path& folder);
};

const UntrustedCopy kUntrustedCopies[] = {
    {"world-writable file",
     [](const std::filesystem::path& f, const std::filesystem::path&) {
         std::filesystem::permissions(f, std::filesystem::perms::others_write, std::filesystem::perm_options::add);
     }},
    {"group-writable folder",
     [](const std::filesystem::path&, const std::filesystem::path& d) {
         std::filesystem::permissions(d, std::filesystem::perms::group_write, std::filesystem::perm_options::add);
     }},
    {"link into a writable folder",
     [](const std::filesystem::path& f, const std::filesystem::path& d) {
         const std::filesystem::path open = d.parent_path() / "open";
         std::filesystem::create_directory(open);
         std::filesystem::permissions(open, std::filesystem::perms::all);
         std::filesystem::rename(f, open / f.filename());
         std::filesystem::create_symlink(open / f.filename(), f);
     }},
};

// A copy of a test library in a trusted folder of its own, then made untrusted.
std::filesystem::path PlaceCopy(const gptest::TempFolder& temp, const std::wstring& source, const UntrustedCopy& c) {
    namespace fs = std::filesystem;
    const fs::perms kExecutable = fs::perms::owner_all | fs::perms::group_read | fs::perms::group_exec |
                                  fs::perms::others_read | fs::perms::others_exec;
    const fs::path folder = temp.path() / "lib";
    fs::create_directory(folder);
    fs::permissions(folder, kExecutable);
    const fs::path file = folder / fs::path(glimmerpane::base::Utf8FromWide(source)).filename();
    fs::copy_file(glimmerpane::base::Utf8FromWide(source), file);
    fs::permissions(file, kExecutable);
    c.arrange(file, folder);
    return file;
}

TEST(StringResourcesTrustTest, AnUntrustedResourceLibraryIsNeverMapped) {
    for (const UntrustedCopy& c : kUntrustedCopies) {
        SCOPED_TRACE(c.name);
        gptest::TempFolder temp;
        const std::filesystem::path file = PlaceCopy(temp, gptest::TestLibraryFolder() + L"TestStrings.so", c);
        EXPECT_EQ(LoadResourceLibrary(glimmerpane::base::WideFromUtf8(file.string())), nullptr);
        EXPECT_EQ(LastErrorCode(), base::kErrorAccessDenied);
        EXPECT_FALSE(IsMapped(file));
        EXPECT_FALSE(IsMapped(std::filesystem::canonical(file)));
    }
}

TEST(StringResourcesTrustTest, AnUntrustedMuiRuntimeIsNeverMapped) {
    for (const UntrustedCopy& c : kUntrustedCopies) {
        SCOPED_TRACE(c.name);
        gptest::TempFolder temp;
        const std::filesystem::path file =
            PlaceCopy(temp, gptest::TestLibraryFolder() + L"Corvane/Platform/CvRtMui.so", c);
        MuiResourceLoader loader({glimmerpane::base::WideFromUtf8(file.string())});
        EXPECT_FALSE(loader.usesMuiRuntime());
        EXPECT_FALSE(IsMapped(std::filesystem::canonical(file)));
    }
}

TEST(StringResourcesTrustTest, TheMuiRuntimeIsHandedOnlyTrustedResourceLibraries) {
    MuiResourceLoader loader({gptest::TestLibraryFolder() + L"Corvane/Platform/CvRtMui.so"});
    ASSERT_TRUE(loader.usesMuiRuntime());
    ModuleHandle runtime = FindLoadedModule(L"CvRtMui.so");
    const unsigned before = FakeCalls(runtime);
    for (const UntrustedCopy& c : kUntrustedCopies) {
        SCOPED_TRACE(c.name);
        gptest::TempFolder temp;
        const std::filesystem::path file = PlaceCopy(temp, gptest::TestLibraryFolder() + L"TestStrings.so", c);
        EXPECT_EQ(loader.loadLibrary(glimmerpane::base::WideFromUtf8(file.string())), nullptr);
        EXPECT_EQ(LastErrorCode(), base::kErrorAccessDenied);
    }
    EXPECT_EQ(FakeCalls(runtime), before) << "the runtime was never asked";
}

}  // namespace
}  // namespace glimmerpane::platform
