// VersionResourceTest.cpp - the built libraries carry the project version as their file and
// product version: the version resource on Windows, the ELF package note on POSIX, read
// through the same platform calls that the block list and the version queries use.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/DynamicLibrary.h"
#include "platform/OSVersion.h"

namespace glimmerpane::platform {
namespace {

TEST(VersionResource, EveryShippedLibraryCarriesTheProjectVersion) {
    for (const wchar_t* name : {L"Glimmerpane", L"BusBroker", L"GPNResources"}) {
        const std::wstring path = ExecutableFolder() + LibraryFileName(name);
        SCOPED_TRACE(std::string(path.begin(), path.end()));
        std::vector<uint8_t> block;
        ASSERT_GT(FileVersionInfoSize(path), 0u);
        ASSERT_TRUE(ReadFileVersionInfo(path, block));
        std::vector<std::pair<uint16_t, uint16_t>> translations;
        ASSERT_TRUE(QueryVersionTranslations(block, translations));
        ASSERT_EQ(translations.size(), 1u);
        EXPECT_EQ(translations[0].first, 0x0409);
        EXPECT_EQ(translations[0].second, 0x04B0);
        for (const wchar_t* field : {L"FileVersion", L"ProductVersion"}) {
            std::wstring value;
            EXPECT_TRUE(QueryVersionString(block, std::wstring(L"\\StringFileInfo\\040904B0\\") + field, value));
            EXPECT_EQ(value, L"" GP_PROJECT_VERSION);
        }
    }
}

}  // namespace
}  // namespace glimmerpane::platform
