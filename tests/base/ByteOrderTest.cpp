// Tests of little-endian integers, UTF-16LE packing, hex digits, GUID text, name
// comparison and the message-size formula.
#include <gtest/gtest.h>

#include <cstdint>
#include <limits>
#include <string>
#include <vector>

#include "base/ByteOrder.h"
#include "base/CaseFold.h"
#include "base/Guid.h"
#include "base/Hex.h"
#include "base/MessageSize.h"

namespace glimmerpane::base {
namespace {

TEST(ByteOrder, IntegersAreLittleEndianAtAnyAlignment) {
    const uint8_t bytes[] = {0xEE, 0x01, 0x02, 0x03, 0x04, 0x05, 0x06, 0x07, 0x88};
    EXPECT_EQ(LoadLe16(bytes + 1), 0x0201u);
    EXPECT_EQ(LoadLe32(bytes + 1), 0x04030201u);
    EXPECT_EQ(LoadLe64(bytes + 1), 0x8807060504030201ull);

    uint8_t out[9] = {};
    StoreLittleEndian<uint32_t>(out + 1, 0xA1B2C3D4u);
    EXPECT_EQ(std::vector<uint8_t>(out + 1, out + 5), (std::vector<uint8_t>{0xD4, 0xC3, 0xB2, 0xA1}));

    std::string appended;
    AppendLittleEndian<uint16_t>(appended, 0xBEEF);
    AppendLittleEndian<uint64_t>(appended, 1);
    EXPECT_EQ(appended, std::string("\xEF\xBE\x01\0\0\0\0\0\0\0", 10));
}

TEST(ByteOrder, Utf16LeRoundTripWithAndWithoutTerminator) {
    const std::wstring text = L"A\U0001F600";
    const std::string bytes = Utf16LeBytesFromWide(text, false);
    EXPECT_EQ(bytes, std::string("A\0\x3D\xD8\x00\xDE", 6));
    EXPECT_EQ(Utf16LeBytesFromWide(text, true), bytes + std::string("\0\0", 2));
    EXPECT_EQ(WideFromUtf16LeBytes(bytes.data(), bytes.size()), text);
    // An odd last byte is no unit of its own.
    EXPECT_EQ(WideFromUtf16LeBytes("A\0B", 3), L"A");
}

TEST(Hex, DigitsBothWays) {
    EXPECT_EQ(HexDigitValue(U'0'), 0);
    EXPECT_EQ(HexDigitValue(U'f'), 15);
    EXPECT_EQ(HexDigitValue(U'F'), 15);
    EXPECT_EQ(HexDigitValue(U'g'), -1);
    EXPECT_EQ(HexDigit(10), 'a');
    EXPECT_EQ(HexDigit(10, true), 'A');
    uint64_t value = 7;
    EXPECT_TRUE(ParseHexDigits(std::wstring_view(L"00fFx"), 4, &value));
    EXPECT_EQ(value, 0xFFu);
    EXPECT_FALSE(ParseHexDigits(std::wstring_view(L"0x"), 2, &value));
    EXPECT_FALSE(ParseHexDigits(std::string_view("12"), 3, &value));
    EXPECT_EQ(value, 0xFFu) << "a failed parse leaves the value";
}

TEST(Guid, TextRoundTripAndRefusals) {
    Guid guid;
    guid.Data1 = 0x0123ABCD;
    guid.Data2 = 0x4567;
    guid.Data3 = 0x89EF;
    const uint8_t tail[8] = {0xFE, 0xDC, 0xBA, 0x98, 0x76, 0x54, 0x32, 0x10};
    std::copy(tail, tail + 8, guid.Data4);
    const std::wstring text = GuidToText(guid);
    EXPECT_EQ(text, L"{0123ABCD-4567-89EF-FEDC-BA9876543210}");
    Guid parsed;
    ASSERT_TRUE(GuidFromText(L"{0123abcd-4567-89ef-fedc-ba9876543210}", &parsed));
    EXPECT_EQ(parsed, guid);

    const Guid untouched = parsed;
    for (const wchar_t* bad : {L"0123ABCD-4567-89EF-FEDC-BA9876543210", L"{0123ABCD-4567-89EF-FEDC-BA987654321}",
                               L"{0123ABCD+4567-89EF-FEDC-BA9876543210}", L"{0123ABCG-4567-89EF-FEDC-BA9876543210}"}) {
        EXPECT_FALSE(GuidFromText(bad, &parsed)) << bad;
        EXPECT_EQ(parsed, untouched);
    }
}

TEST(CaseFold, ComparesWithoutCase) {
    EXPECT_TRUE(EqualsIgnoreCase(L"Logging Mechanism", L"LOGGING mechanism"));
    EXPECT_FALSE(EqualsIgnoreCase(L"abc", L"abd"));
    EXPECT_FALSE(EqualsIgnoreCase(L"abc", L"abcd"));
    EXPECT_TRUE(EqualsIgnoreAsciiCase("GPNResources.so", "gpnresources.SO"));
    EXPECT_FALSE(EqualsIgnoreAsciiCase("a.so", "a.sO2"));
    EXPECT_EQ(ToLowerCase(L"BusBroker.DLL"), L"busbroker.dll");
}

TEST(MessageSize, CountsUtf16UnitsTerminatorsAndSaturates) {
    // 108-byte header, three terminators, and "ab", "", one character above U+FFFF.
    EXPECT_EQ(MessageSizeExact(108, L"ab", L"", L"\U0001F600"), 108u + 6u + 2u * 4u);
    EXPECT_EQ(SaturatedMessageSize(42), 42u);
    EXPECT_EQ(SaturatedMessageSize(uint64_t{1} << 33), std::numeric_limits<uint32_t>::max());
}

}  // namespace
}  // namespace glimmerpane::base
