// The .reg format on its own: what the writer emits for each value type, the
// write-then-read round trip of every type, the spellings the reader accepts, and the
// line and reason of each refusal.
#include "cli/RegFile.h"

#include <gtest/gtest.h>

#include <ostream>
#include <string>
#include <vector>

#include "base/ByteOrder.h"
#include "base/Utf.h"

namespace glimmerpane::cli {

// Readable failure messages for the structures.
void PrintTo(const RegFileValue& v, std::ostream* os) {
    *os << "{\"" << base::Utf8FromWide(v.name) << "\" type " << v.type << (v.remove ? " remove" : "") << " bytes";
    for (unsigned char c : v.data) *os << ' ' << std::hex << static_cast<int>(c) << std::dec;
    *os << '}';
}

void PrintTo(const RegFileKey& k, std::ostream* os) {
    *os << (k.remove ? "[-" : "[") << base::Utf8FromWide(k.path) << "] with " << k.values.size() << " values";
}

namespace {

std::string Sz(const std::wstring& text) { return base::Utf16LeBytesFromWide(text, true); }

// The file text as UTF-16LE with its mark, the way the writer produces it.
std::string Utf16File(const std::wstring& text) { return "\xFF\xFE" + base::Utf16LeBytesFromWide(text, false); }

std::string Written(const std::vector<RegFileKey>& keys) {
    std::string bytes, error;
    EXPECT_TRUE(WriteRegFile(keys, &bytes, &error)) << error;
    return bytes;
}

std::wstring TextOf(const std::string& file) {
    EXPECT_GE(file.size(), 2u);
    EXPECT_EQ(file.substr(0, 2), "\xFF\xFE");
    return base::WideFromUtf16LeBytes(file.data() + 2, file.size() - 2);
}

constexpr wchar_t kHeader[] = L"Windows Registry Editor Version 5.00\r\n\r\n";

TEST(RegFile, WritesEachTypeInRegeditsForm) {
    const struct {
        RegFileValue value;
        const wchar_t* line;
    } cases[] = {
        {{L"", 1, Sz(L"plain"), false}, L"@=\"plain\""},
        {{L"q\"\\", 1, Sz(L"a \"b\" C:\\d"), false}, L"\"q\\\"\\\\\"=\"a \\\"b\\\" C:\\\\d\""},
        {{L"e", 1, Sz(L""), false}, L"\"e\"=\"\""},
        {{L"nl", 1, Sz(L"a\nb"), false}, L"\"nl\"=hex(1):61,00,0a,00,62,00,00,00"},
        {{L"odd", 1, "a", false}, L"\"odd\"=hex(1):61"},
        {{L"noterm", 1, std::string("a\0", 2), false}, L"\"noterm\"=hex(1):61,00"},
        {{L"x", 2, Sz(L"%A%"), false}, L"\"x\"=hex(2):25,00,41,00,25,00,00,00"},
        {{L"b", 3, std::string("\x00\x01\xff", 3), false}, L"\"b\"=hex:00,01,ff"},
        {{L"b0", 3, "", false}, L"\"b0\"=hex:"},
        {{L"d", 4, std::string("\xcd\xab\x00\x00", 4), false}, L"\"d\"=dword:0000abcd"},
        {{L"d3", 4, std::string("\x01\x02\x03", 3), false}, L"\"d3\"=hex(4):01,02,03"},
        {{L"be", 5, std::string("\x00\x00\x00\x01", 4), false}, L"\"be\"=hex(5):00,00,00,01"},
        {{L"m", 7, std::string("a\0\0\0\0\0", 6), false}, L"\"m\"=hex(7):61,00,00,00,00,00"},
        {{L"n", 0, "", false}, L"\"n\"=hex(0):"},
        {{L"qw", 11, std::string(8, '\xff'), false}, L"\"qw\"=hex(b):ff,ff,ff,ff,ff,ff,ff,ff"},
        {{L"odd type", 0x123abc, "\x07", false}, L"\"odd type\"=hex(123abc):07"},
        {{L"gone", 0, "", true}, L"\"gone\"=-"},
        {{L"", 0, "", true}, L"@=-"},
        // A line break in a name would end the line: it is written as an escape.
        {{L"two\r\nlines\n", 1, Sz(L"v"), false}, L"\"two\\r\\nlines\\n\"=\"v\""},
    };
    for (const auto& c : cases) {
        const std::string file = Written({{L"HKEY_CURRENT_USER\\Software\\T", false, {c.value}}});
        EXPECT_EQ(TextOf(file), std::wstring(kHeader) + L"[HKEY_CURRENT_USER\\Software\\T]\r\n" + c.line + L"\r\n\r\n")
            << base::Utf8FromWide(c.line);
    }
}

TEST(RegFile, WrapsLongHexListsBeforeColumn80) {
    std::string bytes;
    for (int i = 0; i < 100; ++i) bytes += static_cast<char>(i);
    const std::wstring text = TextOf(Written({{L"HKEY_LOCAL_MACHINE\\Software\\W", false, {{L"Long", 3, bytes}}}}));
    const std::wstring expectedStart =
        L"\"Long\"=hex:00,01,02,03,04,05,06,07,08,09,0a,0b,0c,0d,0e,0f,10,11,12,13,14,15,\\\r\n"
        L"  16,17,18,19,1a,1b,1c,1d,1e,1f,20,21,22,23,24,25,26,27,28,29,2a,2b,2c,2d,2e,\\\r\n";
    EXPECT_NE(text.find(expectedStart), std::wstring::npos);
    size_t lines = 0;
    for (size_t at = 0, next; (next = text.find(L"\r\n", at)) != std::wstring::npos; at = next + 2, ++lines) {
        EXPECT_LE(next - at, 80u) << base::Utf8FromWide(text.substr(at, next - at));
    }
    EXPECT_GE(lines, 8u);
}

TEST(RegFile, WhatIsWrittenReadsBackUnchangedForEveryType) {
    std::string longBytes;
    for (int i = 0; i < 300; ++i) longBytes += static_cast<char>(i * 7);
    const std::vector<RegFileKey> keys = {
        {L"HKEY_LOCAL_MACHINE\\Software\\Round",
         false,
         {
             {L"", 1, Sz(L"default \"quoted\" C:\\path"), false},
             {L"Ünïcode 😀 \"q\" \\", 1, Sz(L"日本語 😀"), false},
             {L"name with\r\nbreak\nand \\n", 1, Sz(L"x"), false},
             {L"\r", 4, std::string("\x01\0\0\0", 4), false},
             {L"sz empty", 1, Sz(L""), false},
             {L"sz with break", 1, Sz(L"one\r\ntwo"), false},
             {L"sz inner nul", 1, std::string("a\0\0\0b\0\0\0", 8), false},
             {L"sz odd", 1, "abc", false},
             {L"sz no data", 1, "", false},
             {L"none empty", 0, "", false},
             {L"none data", 0, Sz(L"x"), false},
             {L"expand", 2, Sz(L"%TEMP%\\x"), false},
             {L"binary", 3, std::string("\x00\x01\xfe\xff", 4), false},
             {L"binary empty", 3, "", false},
             {L"binary long", 3, longBytes, false},
             {L"dword", 4, std::string("\x78\x56\x34\x12", 4), false},
             {L"dword short", 4, "\x01", false},
             {L"dword big endian", 5, std::string("\x12\x34\x56\x78", 4), false},
             {L"link", 6, Sz(L"\\Registry\\Machine\\X"), false},
             {L"multi", 7, std::string("a\0\0\0b\0\0\0\0\0", 10), false},
             {L"resource list", 8, std::string("\x01\x00\x00\x00", 4), false},
             {L"full resource descriptor", 9, "\x02", false},
             {L"requirements list", 10, "\x03", false},
             {L"qword", 11, std::string("\x01\x02\x03\x04\x05\x06\x07\x08", 8), false},
             {L"unknown type", 0xFFFFFFFFu, "\x09", false},
             {L"removed", 0, "", true},
         }},
        {L"HKEY_LOCAL_MACHINE\\Software\\Round\\Child", false, {{L"v", 4, std::string("\x01\0\0\0", 4), false}}},
        {L"HKEY_LOCAL_MACHINE\\Software\\Round\\Empty", false, {}},
        {L"HKEY_CURRENT_USER\\Software\\Old", true, {}},
    };
    const std::string file = Written(keys);
    std::vector<RegFileKey> read;
    RegFileError error;
    ASSERT_TRUE(ParseRegFile(file, &read, &error)) << error.line << ": " << error.reason;
    ASSERT_EQ(read.size(), keys.size());
    for (size_t k = 0; k < keys.size(); ++k) {
        EXPECT_EQ(read[k].path, keys[k].path);
        EXPECT_EQ(read[k].remove, keys[k].remove);
        ASSERT_EQ(read[k].values.size(), keys[k].values.size()) << base::Utf8FromWide(keys[k].path);
        for (size_t v = 0; v < keys[k].values.size(); ++v) {
            // A deleted value has no type in the file.
            RegFileValue expected = keys[k].values[v];
            if (expected.remove) expected.type = 0;
            EXPECT_EQ(read[k].values[v], expected);
        }
    }
    EXPECT_EQ(Written(read), file);
}

TEST(RegFile, AKeyWithALineBreakInItsNameIsNotWritten) {
    std::string bytes, error;
    EXPECT_FALSE(WriteRegFile({{L"HKEY_CURRENT_USER\\Software\\a\nb", false, {}}}, &bytes, &error));
    EXPECT_NE(error.find("line break"), std::string::npos) << error;
}

TEST(RegFile, ReadsUtf8AndUtf16WithEitherLineEndCommentsAndContinuations) {
    const std::string body =
        "; a comment\n"
        "[HKEY_CURRENT_USER\\Software\\Utf8\\]\n"
        "  \"Bytes\" = hex:01, 02,\\\n"
        "      03\n"
        "\"Text\"=\"caf\xC3\xA9\" ; trailing comment\n"
        "@=dword:1\n"
        "\"Gone\"=-\n"
        "[-HKCU\\Software\\Utf8\\Old]\n";
    const std::vector<RegFileKey> expected = {
        {L"HKEY_CURRENT_USER\\Software\\Utf8\\",
         false,
         {{L"Bytes", 3, "\x01\x02\x03", false},
          {L"Text", 1, Sz(L"café"), false},
          {L"", 4, std::string("\x01\0\0\0", 4), false},
          {L"Gone", 0, "", true}}},
        {L"HKCU\\Software\\Utf8\\Old", true, {}},
    };
    std::string crlf;
    for (char c : body) crlf += c == '\n' ? std::string("\r\n") : std::string(1, c);
    const std::string header = "Windows Registry Editor Version 5.00\n\n";
    const struct {
        const char* form;
        std::string file;
        size_t blankLinesBefore;
    } forms[] = {
        {"UTF-8", header + body, 0},
        {"UTF-8 with mark", "\xEF\xBB\xBF" + header + body, 0},
        {"UTF-8 CRLF", "\r\n" + header + crlf, 1},
        {"UTF-16LE", Utf16File(base::WideFromUtf8(header + crlf)), 0},
    };
    for (const auto& f : forms) {
        std::vector<RegFileKey> read;
        RegFileError error;
        ASSERT_TRUE(ParseRegFile(f.file, &read, &error)) << f.form << " " << error.line << ": " << error.reason;
        EXPECT_EQ(read, expected) << f.form;
        // Each key and value knows the line it began on, so an import can name it.
        const size_t at = f.blankLinesBefore;
        ASSERT_EQ(read.size(), 2u);
        EXPECT_EQ(read[0].line, at + 4) << f.form;
        std::vector<size_t> valueLines;
        for (const auto& v : read[0].values) valueLines.push_back(v.line);
        EXPECT_EQ(valueLines, (std::vector<size_t>{at + 5, at + 7, at + 8, at + 9})) << f.form;
        EXPECT_EQ(read[1].line, at + 10) << f.form;
    }
}

TEST(RegFile, ReadsRegedit4FilesAndPrefixesInAnyCase) {
    const std::string file =
        "REGEDIT4\r\n\r\n[HKEY_CURRENT_USER\\Software\\Old]\r\n"
        "\"Path\"=hex(2):25,41,25,00\r\n"  // 8-bit text in REGEDIT4: widened to UTF-16LE
        "\"Multi\"=HEX(7):61,00,62,00,00\r\n"
        "\"D\"=DWORD:0000000A\r\n"
        "\"B\"=Hex:01,FF\r\n";
    std::vector<RegFileKey> read;
    RegFileError error;
    ASSERT_TRUE(ParseRegFile(file, &read, &error)) << error.line << ": " << error.reason;
    const std::vector<RegFileKey> expected = {{L"HKEY_CURRENT_USER\\Software\\Old",
                                               false,
                                               {{L"Path", 2, Sz(L"%A%"), false},
                                                {L"Multi", 7, std::string("a\0\0\0b\0\0\0\0\0", 10), false},
                                                {L"D", 4, std::string("\x0a\0\0\0", 4), false},
                                                {L"B", 3, "\x01\xff", false}}}};
    EXPECT_EQ(read, expected);
    // In a version 5 file the same hex(2) bytes are taken as they are.
    std::string v5 = file;
    v5.replace(0, 8, "Windows Registry Editor Version 5.00");
    read.clear();
    ASSERT_TRUE(ParseRegFile(v5, &read, &error));
    EXPECT_EQ(read[0].values[0].data, std::string("%A%\0", 4));
}

TEST(RegFile, RefusesBadLinesWithTheirLineAndReason) {
    const std::string header = "Windows Registry Editor Version 5.00\n\n[HKEY_LOCAL_MACHINE\\Software\\Bad]\n\"ok\"=dword:1\n";
    const struct {
        std::string file;
        size_t line;
        const char* reason;
    } cases[] = {
        {"", 1, "not a registry file"},
        {"\n\nREGEDIT5\n", 3, "not a registry file"},
        {"Windows Registry Editor Version 5.00\n\"a\"=\"b\"\n", 2, "a value before the first [key]"},
        {header + "\"d\"=dword:123456789\n", 5, "dword: needs 1 to 8 hex digits"},
        {header + "\"d\"=dword:\n", 5, "dword: needs 1 to 8 hex digits"},
        {header + "\"h\"=hex:01,zz\n", 5, "bad hex byte list"},
        {header + "\"h\"=hex:01,,02\n", 5, "bad hex byte list"},
        {header + "\"h\"=hex:123\n", 5, "bad hex byte list"},
        {header + "\"h\"=hex(q):01\n", 5, "bad hex type 'hex(q)'"},
        {header + "\"h\"=hex(100000000):01\n", 5, "bad hex type"},
        {header + "\"h\"=hex01\n", 5, "hex data needs ':'"},
        {header + "\"s\"=\"unterminated\n", 5, "the string has no closing quote"},
        {header + "\"s\"=\"a\" b\n", 5, "unexpected text after the closing quote"},
        {header + "\"n=1\n", 5, "the value name has no closing quote"},
        {header + "\"n\" 1\n", 5, "expected '=' after the value name"},
        {header + "what\n", 5, "expected a [key]"},
        {header + "\"x\"=what\n", 5, "unrecognised value data"},
        {header + "[HKEY_LOCAL_MACHINE\\Software\\Bad\n", 5, "a key line must end with ']'"},
        {header + "[HKEY_CLASSES_ROOT\\X]\n", 5, "the root must be HKLM or HKCU"},
        {header + "[HKEY_CURRENT_USER\\A\rB]\n", 5, "a key name cannot hold a line break"},
        {header + "[HKEY_LOCAL_MACHINE]\n", 5, "a hive root cannot be imported into"},
        {header + "[-HKCU\\]\n", 5, "a hive root cannot be deleted"},
        {header + "[-HKCU\\Software\\X]\n\"v\"=\"x\"\n", 6, "a value under a deleted [-key]"},
        // A continued list is reported at the line where its value began.
        {header + "\"h\"=hex:01,\\\n  02,\\\n", 5, "the file ends inside a continued line"},
        {header + "\"h\"=hex:01,\\\n  zz\n\"later\"=-\n", 5, "bad hex byte list"},
    };
    for (const auto& c : cases) {
        std::vector<RegFileKey> read;
        RegFileError error;
        EXPECT_FALSE(ParseRegFile(c.file, &read, &error)) << c.file;
        EXPECT_EQ(error.line, c.line) << c.file;
        EXPECT_NE(error.reason.find(c.reason), std::string::npos) << c.file << "\n" << error.reason;
    }
}

TEST(RegFile, SplitsKeyPathsIntoHiveAndPath) {
    const struct {
        const wchar_t* text;
        bool ok;
        RegHive hive;
        const wchar_t* below;
    } cases[] = {
        {L"HKLM\\Software\\X", true, RegHive::LocalMachine, L"Software\\X"},
        {L"hkey_local_machine\\Software\\X\\\\", true, RegHive::LocalMachine, L"Software\\X"},
        {L"HKCU", true, RegHive::CurrentUser, L""},
        {L"HKEY_CURRENT_USER\\", true, RegHive::CurrentUser, L""},
        {L"HKCR\\Software", false, RegHive::LocalMachine, L""},
        {L"", false, RegHive::LocalMachine, L""},
    };
    for (const auto& c : cases) {
        RegHive hive = RegHive::LocalMachine;
        std::wstring below = L"untouched";
        std::string error;
        ASSERT_EQ(SplitRegKeyPath(c.text, &hive, &below, &error), c.ok) << base::Utf8FromWide(c.text);
        if (c.ok) {
            EXPECT_EQ(hive, c.hive) << base::Utf8FromWide(c.text);
            EXPECT_EQ(below, c.below) << base::Utf8FromWide(c.text);
        } else {
            EXPECT_EQ(error, "invalid key name '" + base::Utf8FromWide(c.text) + "': the root must be HKLM or HKCU");
        }
    }
}

}  // namespace
}  // namespace glimmerpane::cli
