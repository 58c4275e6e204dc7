// WideFormatTest.cpp - printf-style wide formatting: its bound and its fallback.
#include "base/WideFormat.h"

#include <gtest/gtest.h>

#include <chrono>
#include <string>

namespace glimmerpane::base {
namespace {

TEST(WideFormatTest, ResultsUpToTheLimitAreWholeAndLongerOnesAreTheFormatText) {
    const std::wstring fits(kWideFormatCapacityLimit - 1, L'a');
    EXPECT_EQ(FormatWide(L"%ls", fits.c_str()), fits);
    const std::wstring over(kWideFormatCapacityLimit, L'a');
    EXPECT_EQ(FormatWide(L"%ls", over.c_str()), L"%ls");
    EXPECT_EQ(FormatWide(L"%d-%ls", 5, L"x"), L"5-x");
}

#ifndef _WIN32  // glibc's conversion error: MinGW widens each byte of %s and never fails
TEST(WideFormatTest, AConversionErrorGivesTheFormatTextQuickly) {
    // No wide character stands for this byte: vswprintf fails at every buffer size.
    const auto start = std::chrono::steady_clock::now();
    for (int i = 0; i < 3; ++i) EXPECT_EQ(FormatWide(L"bad %s here", "\xff\xfe"), L"bad %s here");
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(300));
}
#endif

}  // namespace
}  // namespace glimmerpane::base
