// The built module carries its version in the ELF package note, readable as its file and
// product version.
#include <gtest/gtest.h>

#include <filesystem>

#include "utility/FileVersionInfo.h"
#include "base/Utf.h"

namespace {

#ifndef _WIN32
TEST(PackageNote, ModuleReportsItsVersion) {
    for (const wchar_t* name : {L"FileVersion", L"ProductVersion"}) {
        Kestrix::FileVersionInfo info;
        ASSERT_TRUE(info.Load(glimmerpane::base::WideFromUtf8(GP_MODULE_PATH)));
        std::wstring value;
        EXPECT_EQ(info.GetString(value, name), L"1.6.0") << name;
    }
}

TEST(PackageNote, TruncatedCopiesOfTheModuleHaveNoVersionAndDoNotCrash) {
    namespace fs = std::filesystem;
    const fs::path copy = fs::path(::testing::TempDir()) / "gp_truncated.so";
    const auto size = fs::file_size(GP_MODULE_PATH);
    for (uintmax_t keep : {uintmax_t{16}, uintmax_t{64}, uintmax_t{4096}, size / 2}) {
        fs::copy_file(GP_MODULE_PATH, copy, fs::copy_options::overwrite_existing);
        fs::resize_file(copy, keep);
        Kestrix::FileVersionInfo info;
        // The note sits near the start, but the section table that locates it lies at the
        // end: every prefix here loses it, and the reader must refuse without reading past
        // the end.
        EXPECT_FALSE(info.Load(copy.wstring())) << keep;
    }
    fs::remove(copy);
}
#endif

}  // namespace
