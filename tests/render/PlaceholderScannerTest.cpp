// PlaceholderScannerTest.cpp - the hand scanner agrees with std::wregex on the placeholder
// pattern for every input in a table of tricky cases, and with every starting offset.
#include "render/PlaceholderScanner.h"

#include <gtest/gtest.h>

#include <regex>

namespace Vornik {
namespace {

PlaceholderMatch RegexMatch(const std::wstring& text, size_t from) {
    static const std::wregex pattern(L"\\%([^%]+)\\%");
    std::wsmatch match;
    const std::wstring tail = text.substr(from);
    if (!std::regex_search(tail, match, pattern)) return {};
    return {from + static_cast<size_t>(match.position(0)), static_cast<size_t>(match.length(0))};
}

TEST(PlaceholderScannerTest, AgreesWithTheRegularExpression) {
    const std::wstring inputs[] = {
        L"",
        L"no placeholder",
        L"%",
        L"%%",
        L"%%%",
        L"%%%%",
        L"%A%",
        L"a%b%c",
        L"50% and 60%",
        L"100%",
        L"%unterminated",
        L"text %open and %closed%",
        L"%%NAME%%",
        L"%A%%B%",
        L"%A%B%C%",
        L"%outer %inner% outer%",
        L"%SELF%%SELF%",
        L"x%\n%y",
        L"%\u00e9t\u00e9%",
        L"% %",
        L"<text>%TILE_WIDE_TEXT_BODY%</text>",
        L"%%%A%%%",
    };
    for (const std::wstring& input : inputs) {
        for (size_t from = 0; from <= input.size(); ++from) {
            const PlaceholderMatch expected = RegexMatch(input, from);
            const PlaceholderMatch actual = findPlaceholder(input, from);
            SCOPED_TRACE(testing::Message() << "input #" << (&input - inputs) << " from " << from);
            EXPECT_EQ(actual.found(), expected.found());
            if (expected.found()) {
                EXPECT_EQ(actual.position, expected.position);
                EXPECT_EQ(actual.length, expected.length);
            }
        }
    }
}

TEST(PlaceholderScannerTest, NamesTheExpectedStretches) {
    EXPECT_FALSE(findPlaceholder(L"%%").found());
    const PlaceholderMatch percentages = findPlaceholder(L"50% and 60%");
    EXPECT_EQ(percentages.position, 2u);
    EXPECT_EQ(percentages.length, 9u);  // "% and 60%"
    const PlaceholderMatch afterDouble = findPlaceholder(L"%%NAME%%");
    EXPECT_EQ(afterDouble.position, 1u);
    EXPECT_EQ(afterDouble.length, 6u);
}

}  // namespace
}  // namespace Vornik
