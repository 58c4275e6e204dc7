// Tests of the message record and its header layout.
#include <gtest/gtest.h>

#include <cstring>

#include "message/Message.h"

namespace Vornik {
namespace {

MessageHeader RawHeader(uint16_t version, uint32_t totalSize, uint32_t session) {
    MessageHeader h{};
    std::memset(&h, 0, sizeof(h));
    h.marker = 1;
    h.totalSize = totalSize;
    h.flags = 0x11;
    h.headerVersion = version;
    h.replyInfo = 0x0102030405060708ull;
    h.ext1 = 99;
    h.ext2 = 98;
    h.senderSession = session;
    return h;
}

TEST(Message, NewHeaderHasTheDefaultsAndTotalSizeInUtf16Units) {
    const struct { std::wstring name, sender, data; uint32_t totalSize; } cases[] = {
        {L"a", L"", L"", 116},
        {L"", L"", L"", 114},
        {L"name", L"snd", L"{}", 114 + 2 * 9},
        {L"\U0001F600", L"", L"", 118},  // one character above U+FFFF is two UTF-16 units
    };
    for (const auto& c : cases) {
        Message m(std::wstring(c.name), std::wstring(c.sender), std::wstring(c.data));
        EXPECT_EQ(m.totalSize(), c.totalSize) << c.name.size();
        EXPECT_EQ(m.marker(), 1);
        EXPECT_EQ(m.headerVersion(), 2);
        EXPECT_EQ(m.flags(), 0u);
        EXPECT_EQ(m.replyInfo(), 0u);
        EXPECT_EQ(m.senderSession(), 0u);
        const auto* raw = reinterpret_cast<const uint8_t*>(m.getHeader());
        EXPECT_EQ(raw[100] | raw[101] << 8, 11);
        EXPECT_EQ(raw[102] | raw[103] << 8, 8);
    }
}

TEST(Message, TakesTheStringsOver) {
    std::wstring name = L"n", sender = L"s", data = L"d";
    Message m(std::move(name), std::move(sender), std::move(data));
    EXPECT_TRUE(name.empty() && sender.empty() && data.empty());
    EXPECT_EQ(m.getName(), L"n");
    EXPECT_EQ(m.getSender(), L"s");
    EXPECT_EQ(m.getUserData(), L"d");
}

TEST(Message, FieldsAreLittleEndianAtTheirOffsets) {
    Message m(L"a", L"", L"");
    m.setFlags(0xA1B2C3D4);
    m.setSenderSession(0x01020304);
    m.setReplyInfo(0x1122334455667788ull);
    const auto* raw = reinterpret_cast<const uint8_t*>(m.getHeader());
    EXPECT_EQ(raw[6], 0xD4);
    EXPECT_EQ(raw[9], 0xA1);
    EXPECT_EQ(raw[104], 0x04);
    EXPECT_EQ(raw[107], 0x01);
    EXPECT_EQ(raw[92], 0x88);
    EXPECT_EQ(raw[99], 0x11);
}

TEST(Message, FlagOperations) {
    Message m(L"a", L"", L"");
    m.setFlag(FLAG_REPLY);
    m.setFlag(31);
    EXPECT_TRUE(m.testFlag(FLAG_REPLY));
    EXPECT_TRUE(m.testFlag(31));
    EXPECT_FALSE(m.testFlag(FLAG_COPIED));
    m.clearFlag(FLAG_REPLY);
    EXPECT_EQ(m.flags(), 0x80000000u);
    m.setFlag(32);  // out of range: ignored
    EXPECT_EQ(m.flags(), 0x80000000u);
    m.setReplyInfo(5);
    m.clearReplyInfo();
    EXPECT_EQ(m.replyInfo(), 0u);
}

TEST(Message, CopyInOfAVersion1HeaderUpgradesIt) {
    Message m(L"a", L"", L"");
    MessageHeader v1 = RawHeader(1, 200, 0xDEADBEEF);  // bytes past 100 are not part of a version-1 header
    m.copyHeader(&v1);
    EXPECT_EQ(m.totalSize(), 208u);
    EXPECT_EQ(m.headerVersion(), 2);
    EXPECT_EQ(m.senderSession(), 0u);
    EXPECT_EQ(m.flags(), 0x11u);
    EXPECT_EQ(m.replyInfo(), 0x0102030405060708ull);
    EXPECT_NE(m.getExtension(2), nullptr);
    const auto* ext = static_cast<const uint8_t*>(m.getExtension(2));
    EXPECT_EQ(ext[0], 11);
    EXPECT_EQ(ext[2], 8);
}

TEST(Message, CopyInOfAVersion1HeaderSaturatesItsSize) {
    // A hostile size near the top once wrapped round to 4 on the upgrade.
    for (const uint32_t size : {0xFFFFFFF8u, 0xFFFFFFFCu, 0xFFFFFFFFu}) {
        Message m(L"a", L"", L"");
        MessageHeader v1 = RawHeader(1, size, 0);
        m.copyHeader(&v1);
        EXPECT_EQ(m.totalSize(), 0xFFFFFFFFu) << size;
    }
}

TEST(Message, CopyInOfAVersion2HeaderKeepsEverything) {
    Message m(L"a", L"", L"");
    MessageHeader v2 = RawHeader(2, 300, 7);
    m.copyHeader(&v2);
    EXPECT_EQ(std::memcmp(m.getHeader(), &v2, sizeof(v2)), 0);
    EXPECT_EQ(m.senderSession(), 7u);
    m.copyHeader(nullptr);  // leaves it untouched
    EXPECT_EQ(m.totalSize(), 300u);
}

TEST(Message, ExtensionOnlyForVersion2OnBothSides) {
    Message m(L"a", L"", L"");
    EXPECT_NE(m.getExtension(2), nullptr);
    EXPECT_EQ(m.getExtension(1), nullptr);
    EXPECT_EQ(m.getExtension(3), nullptr);
    MessageHeader v3 = RawHeader(3, 200, 0);  // not 2: treated as a shorter header and upgraded
    m.copyHeader(&v3);
    EXPECT_EQ(m.headerVersion(), 2);
    m.getHeader()->headerVersion = 1;
    EXPECT_EQ(m.getExtension(2), nullptr);
}

}  // namespace
}  // namespace Vornik
