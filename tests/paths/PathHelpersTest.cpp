// Path macro expansion: the table, the scanner's edge cases (checked against the
// ECMAScript pattern), the host image parts and the install folder from the registry.
#include <gtest/gtest.h>

#include <regex>

#include "dll/LoaderFakes.h"
#include "paths/PathHelpers.h"
#include "platform/DynamicLibrary.h"
#include "platform/FileSystem.h"
#include "utility/CRegKey.h"

namespace Vornik {
namespace {

namespace platform = glimmerpane::platform;
using Kestrix::internal::OSKind;

// A system of a chosen platform and emulation, for the OS macro and the install folder.
class FakeOSInfo : public PathHelpers::OSInfo {
public:
    FakeOSInfo(uint32_t platformId, bool wow64) : platform_(platformId), wow64_(wow64) {}
    uint32_t GetPlatform() override { return platform_; }
    bool IsWow64() override { return wow64_; }

private:
    uint32_t platform_;
    bool wow64_;
};

class PathHelpersTest : public ::testing::Test {
protected:
    PathHelpersTest() {
        shell->folders[Kestrix::GuidToString(FOLDERID_ProgramData)] = L"/pd";
        shell->folders[Kestrix::GuidToString(FOLDERID_ProgramFilesCommonX86)] = L"/pf86/Common";
        shell->folders[Kestrix::GuidToString(FOLDERID_Profile)] = L"$(App.Name)";
    }
    std::wstring expand(std::wstring path, uint32_t platformId = 1, bool wow64 = false) {
        PathHelpers helpers(shell, std::make_shared<FakeOSInfo>(platformId, wow64),
                            std::make_shared<RegistryAPI>(registry.store));
        EXPECT_TRUE(helpers.expand(path));
        return path;
    }
    void setInstallDir(const wchar_t* name, const wchar_t* value) {
        Kestrix::CRegKey key(std::make_shared<Kestrix::internal::CRegKeyImpl>(registry.store));
        ASSERT_EQ(key.Create(platform::HkeyLocalMachine(), L"SOFTWARE\\Corvane\\Plinthos"), 0u);
        ASSERT_EQ(key.SetStringValue(name, value), 0u);
    }

    gptest::TempRegistry registry;
    std::shared_ptr<gptest::FakeShell> shell = std::make_shared<gptest::FakeShell>();
};

TEST_F(PathHelpersTest, TextWithoutMacrosOrWithMalformedOnesStaysAsWritten) {
    for (const std::wstring text :
         {L"", L"plain/path", L"$(", L"$(App.Folder", L"$()", L"$()x", L"a$b(c)", L"$(Unknown.Macro)/x",
          L"$(app.folder)", L"$(APP.FOLDER)", L"$(FOLDERID_programdata)", L"$(App.Folder )"}) {
        EXPECT_EQ(expand(text), text);
    }
}

TEST_F(PathHelpersTest, ReplacesKnownFoldersAndKeepsTheRest) {
    EXPECT_EQ(expand(L"$(FOLDERID_ProgramData)/Corvane/$(FOLDERID_ProgramFilesCommonX86)"),
              L"/pd/Corvane//pf86/Common");
    // A folder the shell cannot give stays as written.
    EXPECT_EQ(expand(L"$(FOLDERID_Desktop)/x"), L"$(FOLDERID_Desktop)/x");
}

TEST_F(PathHelpersTest, OnlyTheInnerMacroOfANestedOneIsReplaced) {
    EXPECT_EQ(expand(L"$(A$(FOLDERID_ProgramData))"), L"$(A/pd)");
    EXPECT_EQ(expand(L"$($(FOLDERID_ProgramData))"), L"$(/pd)");
}

TEST_F(PathHelpersTest, AReplacementIsNotScannedAgain) {
    EXPECT_EQ(expand(L"$(FOLDERID_Profile)"), L"$(App.Name)");
}

TEST_F(PathHelpersTest, PlatformNames) {
    EXPECT_EQ(expand(L"$(OS.Platform)", 0), L"win32");
    EXPECT_EQ(expand(L"$(OS.Platform)", 1), L"x64");
    EXPECT_EQ(expand(L"$(OS.Platform)", 2), L"PlatformUnknown");
    EXPECT_EQ(expand(L"$(OS.Platform)", 3), L"$(OS.Platform)");
}

#ifndef _WIN32  // the classification of Linux itself
TEST_F(PathHelpersTest, TheDefaultSystemOnLinuxIsPlatformUnknown) {
    PathHelpers helpers(shell, nullptr, std::make_shared<RegistryAPI>(registry.store));
    std::wstring path = L"$(OS.Platform)";
    helpers.expand(path);
    EXPECT_EQ(path, L"PlatformUnknown");
}
#endif

TEST_F(PathHelpersTest, InstallFolderComesFromTheRegistryViewOfTheProcess) {
    EXPECT_EQ(expand(L"$(Plinthos.InstallDir)/lib"), L"$(Plinthos.InstallDir)/lib") << "no value: stays";
    setInstallDir(L"Install Dir", L"/opt/plinthos");
    setInstallDir(L"Install Dir32", L"/opt/plinthos32");
    EXPECT_EQ(expand(L"$(Plinthos.InstallDir)/lib", 1, false), L"/opt/plinthos/lib");
    EXPECT_EQ(expand(L"$(Plinthos.InstallDir)/lib", 1, true), L"/opt/plinthos32/lib");
}

TEST_F(PathHelpersTest, ApplicationMacrosDescribeTheHostImage) {
    const std::wstring image = platform::ExecutablePath();
    ASSERT_FALSE(image.empty());
    const std::wstring folder = platform::ExecutableFolder();
    EXPECT_EQ(expand(L"$(App.Path)"), image);
    EXPECT_EQ(expand(L"$(App.Folder)"), folder);
    EXPECT_EQ(expand(L"$(App.Folder)" + std::wstring(1, platform::kPathSeparator) + L"sub"),
              folder + platform::kPathSeparator + L"sub");
    EXPECT_EQ(expand(L"$(App.Folder)$(App.Binary)"), image);
    EXPECT_EQ(expand(L"$(App.Name)"), L"gp_unit_tests");
    EXPECT_EQ(folder.back(), platform::kPathSeparator);
}

struct SplitCase {
    std::wstring path;
    bool windows;
    ImagePathParts parts;
};

TEST(SplitImagePath, SplitsAsTheRuntimeDoes) {
    const SplitCase cases[] = {
        {L"C:\\Program Files\\Host\\modhost.exe", true, {L"C:", L"\\Program Files\\Host\\", L"modhost", L".exe"}},
        {L"C:/a/b.c/host", true, {L"C:", L"/a/b.c/", L"host", L""}},
        {L"\\\\server\\share\\x.tar.gz", true, {L"", L"\\\\server\\share\\", L"x.tar", L".gz"}},
        {L"/usr/lib/glimmerpane/host", false, {L"", L"/usr/lib/glimmerpane/", L"host", L""}},
        {L"/a\\b/c.d\\e", false, {L"", L"/a\\b/", L"c", L".d\\e"}},
        {L"/opt/.hidden", false, {L"", L"/opt/", L"", L".hidden"}},
        {L"C:x", false, {L"", L"", L"C:x", L""}},
    };
    for (const SplitCase& c : cases) {
        const ImagePathParts parts = SplitImagePath(c.path, c.windows);
        EXPECT_EQ(parts.drive, c.parts.drive) << c.path;
        EXPECT_EQ(parts.folder, c.parts.folder) << c.path;
        EXPECT_EQ(parts.name, c.parts.name) << c.path;
        EXPECT_EQ(parts.extension, c.parts.extension) << c.path;
        EXPECT_EQ(JoinImagePathParts(parts, 15), c.path);
        EXPECT_EQ(JoinImagePathParts(parts, PART_NAME | PART_EXTENSION), parts.name + parts.extension);
    }
}

// The scanner finds exactly what the ECMAScript pattern "\$\([^$()]+\)" finds.
TEST_F(PathHelpersTest, FindsWhatThePatternFinds) {
    const std::wregex pattern(L"\\$\\([^$()]+\\)");
    const wchar_t alphabet[] = {L'$', L'(', L')', L'a'};
    std::wstring text;
    for (int n = 0; n < 4 * 4 * 4 * 4 * 4 * 4; ++n) {
        text.clear();
        for (int k = n, i = 0; i < 6; ++i, k /= 4) text += alphabet[k % 4];
        // Unknown macros stay, so expansion is the identity; the scanner is checked through a
        // known macro written into every match position instead.
        std::wstring expected;
        auto begin = text.cbegin();
        std::wsmatch match;
        while (std::regex_search(begin, text.cend(), match, pattern)) {
            expected.append(begin, match[0].first);
            expected += L"$(FOLDERID_ProgramData)";
            begin = match[0].second;
        }
        expected.append(begin, text.cend());
        EXPECT_EQ(expand(text), text) << "unknown macros stay";
        std::wstring viaScanner = expand(expected);
        std::wstring viaPattern;
        begin = expected.cbegin();
        while (std::regex_search(begin, expected.cend(), match, pattern)) {
            viaPattern.append(begin, match[0].first);
            viaPattern += match.str() == L"$(FOLDERID_ProgramData)" ? L"/pd" : match.str();
            begin = match[0].second;
        }
        viaPattern.append(begin, expected.cend());
        EXPECT_EQ(viaScanner, viaPattern) << expected;
    }
}

TEST_F(PathHelpersTest, LongInputNeedsNoDeepStack) {
    std::wstring text = L"$(" + std::wstring(200000, L'a') + L")" + L"$(FOLDERID_ProgramData)";
    EXPECT_EQ(expand(text), L"$(" + std::wstring(200000, L'a') + L")/pd");
}

}  // namespace
}  // namespace Vornik
