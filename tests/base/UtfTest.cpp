// Tests of the UTF conversions: round trips through every width, and malformed input
// becoming U+FFFD instead of an error.
#include <gtest/gtest.h>

#include <vector>

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

// The count is taken sixteen characters at a time: each boundary value at every offset of
// texts of every length up to two steps of sixteen and a tail must count what the conversion
// writes.
TEST(Utf, Utf16LengthEqualsTheConvertedLengthAtAnyOffset) {
    std::vector<wchar_t> samples = {L'a', static_cast<wchar_t>(0xD800), static_cast<wchar_t>(0xFFFF)};
    if constexpr (sizeof(wchar_t) == 4) {
        for (const uint32_t c : {0x10000u, 0x10FFFFu, 0x110000u, 0x7FFFFFFFu, 0x80000000u, 0xFFFFFFFFu})
            samples.push_back(static_cast<wchar_t>(c));
    }
    for (const wchar_t sample : samples) {
        for (size_t length = 1; length <= 37; ++length) {
            for (size_t at = 0; at < length; ++at) {
                std::wstring text(length, L'x');
                text[at] = sample;
                EXPECT_EQ(Utf16Length(text), Utf16FromWide(text).size())
                    << std::hex << static_cast<uint32_t>(sample) << " at " << std::dec << at << " of " << length;
            }
        }
    }
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
