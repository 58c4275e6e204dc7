// Tests of the UTF conversions: round trips through every width, and malformed input
// becoming U+FFFD instead of an error.
#include <gtest/gtest.h>

#include "base/Utf.h"

namespace glimmerpane::base {
namespace {

TEST(Utf, RoundTripsKeepEveryCharacter) {
    const std::wstring text = L"a\u00e9\u20ac\U0001F600z";
    EXPECT_EQ(Utf8FromWide(text), "a\xC3\xA9\xE2\x82\xAC\xF0\x9F\x98\x80z");
    EXPECT_EQ(WideFromUtf8(Utf8FromWide(text)), text);
    const std::u16string units = Utf16FromWide(text);
    EXPECT_EQ(units, u"a\u00e9\u20ac\xD83D\xDE00z");
    EXPECT_EQ(WideFromUtf16(units), text);
    EXPECT_EQ(Utf16Length(text), 6u);  // the character above U+FFFF counts two units
}

struct MalformedUtf8 {
    const char* name;
    std::string bytes;
    std::wstring wide;
};

void PrintTo(const MalformedUtf8& c, std::ostream* out) { *out << c.name; }

class UtfMalformed : public ::testing::TestWithParam<MalformedUtf8> {};

TEST_P(UtfMalformed, BecomesReplacementCharacters) { EXPECT_EQ(WideFromUtf8(GetParam().bytes), GetParam().wide); }

INSTANTIATE_TEST_SUITE_P(
    Cases, UtfMalformed,
    ::testing::Values(MalformedUtf8{"LoneContinuation", "a\x80z", L"a\uFFFDz"},
                      MalformedUtf8{"TruncatedSequence", "a\xE2\x82", L"a\uFFFD\uFFFD"},
                      MalformedUtf8{"OverlongSlash", "\xC0\xAF", L"\uFFFD\uFFFD"},
                      MalformedUtf8{"EncodedSurrogate", "\xED\xA0\x80", L"\uFFFD\uFFFD\uFFFD"},
                      MalformedUtf8{"BeyondU10FFFF", "\xF4\x90\x80\x80", L"\uFFFD\uFFFD\uFFFD\uFFFD"},
                      MalformedUtf8{"InvalidLead", "\xFF", L"\uFFFD"}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(Utf, LoneSurrogatesInUtf16BecomeReplacementCharacters) {
    EXPECT_EQ(WideFromUtf16(u"a\xD800z"), L"a\uFFFDz");
    EXPECT_EQ(WideFromUtf16(u"\xDC00"), L"\uFFFD");
}

}  // namespace
}  // namespace glimmerpane::base
