// Tests of version-resource strings over injected version blocks, and of the POSIX reader
// of the ELF package note on files that have none or are not ELF at all.
#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "platform/FileSystem.h"
#include "support/CaseNames.h"
#include "utility/FileVersionInfo.h"
#include "base/Utf.h"

namespace Kestrix {
namespace {

// Files by path; each holds translations and strings by full sub-block path.
class FakeVersions : public FileVersionAPI {
public:
    struct Resource {
        Translations translations;
        std::map<std::wstring, std::wstring> strings;
    };
    std::map<std::wstring, Resource> files;
    std::vector<std::wstring> sizeQueries;

    uint32_t GetFileVersionInfoSize(const std::wstring& path) override {
        sizeQueries.push_back(path);
        return files.count(path) ? 1 : 0;
    }
    bool GetFileVersionInfo(const std::wstring& path, std::vector<uint8_t>& block) override {
        auto it = files.find(path);
        if (it == files.end()) return false;
        // The block names its file so queries can find the resource again.
        const std::string key = glimmerpane::base::Utf8FromWide(path);
        block.assign(key.begin(), key.end());
        return true;
    }
    bool QueryTranslations(const std::vector<uint8_t>& block, Translations& t) override {
        const Resource* r = Find(block);
        if (r == nullptr || r->translations.empty()) return false;
        t = r->translations;
        return true;
    }
    bool QueryString(const std::vector<uint8_t>& block, const std::wstring& subBlock, std::wstring& value) override {
        const Resource* r = Find(block);
        if (r == nullptr) return false;
        auto it = r->strings.find(subBlock);
        if (it == r->strings.end()) return false;
        value = it->second;
        return true;
    }

private:
    const Resource* Find(const std::vector<uint8_t>& block) {
        auto it = files.find(glimmerpane::base::WideFromUtf8(std::string(block.begin(), block.end())));
        return it == files.end() ? nullptr : &it->second;
    }
};

std::shared_ptr<FakeVersions> TwoFiles() {
    auto fake = std::make_shared<FakeVersions>();
    fake->files[L"a.dll"] = {{{0x0407, 0x04E4}, {0x0409, 0x04B0}},
                             {{L"\\StringFileInfo\\040704E4\\ProductVersion", L"de"},
                              {L"\\StringFileInfo\\040904B0\\ProductVersion", L"en"},
                              {L"\\StringFileInfo\\040904B0\\FileVersion", L"2.0.1"}}};
    fake->files[L"b.dll"] = {{{0x0409, 0x04B0}}, {{L"\\StringFileInfo\\040904B0\\FileVersion", L"9.9"}}};
    fake->files[L"none.dll"] = {{}, {{L"\\StringFileInfo\\040904B0\\FileVersion", L"1.0"}}};
    return fake;
}

struct StringCase {
    const wchar_t* file;
    const wchar_t* name;
    const wchar_t* expected;
};

void PrintTo(const StringCase& c, std::ostream* os) {
    *os << gptest::Show(c.name) << " of " << gptest::Show(c.file) << " reads " << gptest::Show(c.expected);
}

// "a_dll_ProductVersion": the file and the name asked for.
std::string StringCaseName(const ::testing::TestParamInfo<StringCase>& info) {
    std::string name;
    for (const wchar_t* p = info.param.file; *p; ++p) name += static_cast<char>(*p);
    name += '_';
    for (const wchar_t* p = info.param.name; *p; ++p) name += static_cast<char>(*p);
    return gptest::TestNameFrom(name);
}

class FileVersionGetString : public ::testing::TestWithParam<StringCase> {};

TEST_P(FileVersionGetString, FirstTranslationHoldingTheNameWins) {
    FileVersionInfo info(TwoFiles());
    ASSERT_TRUE(info.Load(GetParam().file));
    std::wstring value = L"stale";
    EXPECT_EQ(info.GetString(value, GetParam().name), GetParam().expected);
    EXPECT_EQ(value, GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(Table, FileVersionGetString,
                         ::testing::Values(StringCase{L"a.dll", L"ProductVersion", L"de"},
                                           StringCase{L"a.dll", L"FileVersion", L"2.0.1"},  // second translation only
                                           StringCase{L"a.dll", L"CompanyName", L""},
                                           StringCase{L"none.dll", L"FileVersion", L""}),  // no translation table
                         StringCaseName);

TEST(FileVersionInfo, SecondLoadFailsAndKeepsTheFirstFile) {
    FileVersionInfo info(TwoFiles());
    ASSERT_TRUE(info.Load(L"a.dll"));
    EXPECT_FALSE(info.Load(L"b.dll"));
    std::wstring value;
    EXPECT_EQ(info.GetString(value, L"FileVersion"), L"2.0.1");
}

TEST(FileVersionInfo, UnloadedOrMissingFileGivesEmptyStrings) {
    FileVersionInfo info(TwoFiles());
    std::wstring value = L"stale";
    EXPECT_EQ(info.GetString(value, L"FileVersion"), L"");
    EXPECT_FALSE(info.Load(L"missing.dll"));
    EXPECT_TRUE(info.Load(L"b.dll"));  // a failed load does not count as the one load
}

TEST(SystemFileVersionInfo, LoadsRelativeToTheCachedSystemFolder) {
    const std::wstring sep(1, glimmerpane::platform::kPathSeparator);
    auto fake = TwoFiles();
    fake->files[L"C:\\Sys" + sep + L"a.dll"] = fake->files[L"a.dll"];
    int folderCalls = 0;
    SystemFileVersionInfo info(fake, [&](std::wstring& folder) {
        ++folderCalls;
        folder = L"C:\\Sys";
        return true;
    });
    EXPECT_TRUE(info.Load(L"a.dll"));
    EXPECT_FALSE(info.Load(L"a.dll"));
    EXPECT_EQ(folderCalls, 1);
    EXPECT_EQ(fake->sizeQueries.front(), L"C:\\Sys" + sep + L"a.dll");

    SystemFileVersionInfo unknown(fake, [](std::wstring&) { return false; });
    EXPECT_FALSE(unknown.Load(L"a.dll"));
    EXPECT_EQ(fake->sizeQueries.back(), sep + L"a.dll");
}

#ifndef _WIN32
TEST(FileVersionInfo, FilesWithoutPackageNoteHaveNoVersion) {
    const std::string path = ::testing::TempDir() + "gp_not_elf.so";
    const std::string elfHeaderOnly("\x7f" "ELF\x02\x01\x01", 7);
    for (const std::string& content : {std::string("plain text, not ELF"), elfHeaderOnly, std::string()}) {
        std::ofstream(path, std::ios::binary) << content;
        FileVersionInfo info;
        EXPECT_FALSE(info.Load(glimmerpane::base::WideFromUtf8(path))) << content.size();
    }
    std::remove(path.c_str());
    FileVersionInfo missing;
    EXPECT_FALSE(missing.Load(L"/nonexistent/gp.so"));
    FileVersionInfo self;
    EXPECT_FALSE(self.Load(L"/proc/self/exe"));  // the test binary carries no package note
}
#endif

}  // namespace
}  // namespace Kestrix
