// The built `glimmerpane reg` command on a temporary prefix: add/query of every type,
// import/export round trips and clear refusals of bad arguments and bad files.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>

#include "platform/Shell.h"
#include "support/CommandRun.h"
#include "support/TempRegistry.h"
#include "base/Utf.h"

namespace {

using CliRun = gptest::CommandRun;

class RegCommand : public ::testing::Test {
protected:
    // `args` written the sh way (support/CommandRun.h).
    CliRun reg(const std::string& args, const char* input = gptest::kNoInput) {
        return gptest::RunCommand(gptest::ShellLine(GP_CLI_PATH, "reg " + args) + " --prefix " +
                                  glimmerpane::platform::QuoteShellArgument(prefix_.path().string()) + " 2>&1 " + input);
    }
    std::string path(const std::string& name) const { return (prefix_.path() / name).string(); }
    void writeFile(const std::string& name, const std::string& bytes) const {
        std::ofstream(path(name), std::ios::binary) << bytes;
    }
    std::string readFile(const std::string& name) const {
        std::ifstream in(path(name), std::ios::binary);
        return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    }
    static std::string Utf16File(const std::wstring& text) {
        std::string out = "\xFF\xFE";
        for (char16_t u : glimmerpane::base::Utf16FromWide(text)) {
            out += static_cast<char>(u & 0xFF);
            out += static_cast<char>(u >> 8);
        }
        return out;
    }
    gptest::TempFolder prefix_;
};

TEST_F(RegCommand, AddThenQueryRoundTripsEveryType) {
    const struct {
        const char* type;
        const char* data;
        const char* shown;
    } cases[] = {
        {"REG_SZ", "hello world", "REG_SZ    hello world"},
        {"REG_EXPAND_SZ", "%GP_NOT_SET%\\\\x", "REG_EXPAND_SZ    %GP_NOT_SET%\\x"},  // cmd expands a set one
        {"REG_MULTI_SZ", "one\\\\0two\\\\0three", "REG_MULTI_SZ    one\\0two\\0three"},
        {"REG_DWORD", "4294967295", "REG_DWORD    0xffffffff"},
        {"REG_DWORD", "0x10", "REG_DWORD    0x10"},
        {"REG_QWORD", "18446744073709551615", "REG_QWORD    0xffffffffffffffff"},
        {"REG_BINARY", "00ff7F", "REG_BINARY    00FF7F"},
        {"REG_NONE", "", "REG_NONE    "},
    };
    int i = 0;
    for (const auto& c : cases) {
        const std::string name = "v" + std::to_string(i++);
        CliRun add = reg("add 'HKLM\\Software\\GpCli' /v " + name + " /t " + c.type + " /d \"" + c.data + "\" /f");
        ASSERT_EQ(add.exitCode, 0) << add.output;
        CliRun query = reg("query 'HKLM\\Software\\GpCli' /v " + name);
        ASSERT_EQ(query.exitCode, 0) << query.output;
        EXPECT_NE(query.output.find("    " + name + "    " + c.shown + "\n"), std::string::npos)
            << c.type << ": " << query.output;
    }
}

TEST_F(RegCommand, BadArgumentsAndMissingKeysExitWith1AsRegExeDoes) {
    const struct {
        const char* args;
        int exitCode;
        const char* message;
    } cases[] = {
        {"add 'HKLM\\Software\\X' /v d /t REG_DWORD /d 4294967296 /f", 1, "invalid REG_DWORD"},
        {"add 'HKLM\\Software\\X' /v d /t REG_DWORD /d -1 /f", 1, "invalid REG_DWORD"},
        {"add 'HKLM\\Software\\X' /v q /t REG_QWORD /d 18446744073709551616 /f", 1, "invalid REG_QWORD"},
        {"add 'HKLM\\Software\\X' /v b /t REG_BINARY /d 0G /f", 1, "hex digits"},
        {"add 'HKLM\\Software\\X' /v b /t REG_WRONG /d 1 /f", 1, "unknown type"},
        {"add 'HKCR\\Software\\X' /v b /d 1 /f", 1, "HKLM or HKCU"},
        {"add 'HKLM\\Software\\X' /v a /ve /f", 1, "exclude"},
        {"frobnicate", 1, "unknown operation"},
        // Each operation takes only its own switches; reg.exe's syntax error is exit 1 too.
        {"query 'HKLM\\Software' /t REG_BOGUS", 1, "Specify a valid registry type: 'REG_BOGUS'"},
        {"query 'HKLM\\Software' /va", 1, "ERROR: Invalid syntax. the switch /va does not go with query"},
        {"query 'HKLM\\Software' /k", 1, "/k, /d, /c and /e go only with /f"},
        {"query 'HKLM\\Software' /v", 1, "/v needs a value name"},
        {"add 'HKLM\\Software\\X' /k /f", 1, "the switch /k does not go with add"},
        {"export 'HKLM\\Software' x.reg /f", 1, "the switch /f does not go with export"},
        {"query 'HKLM\\Software' /se ab", 1, "/se takes one character"},
        {"query 'HKLM\\Software\\Nowhere'", 1, "unable to find"},
        {"delete 'HKLM\\Software\\Nowhere' /f", 1, "unable to find"},
    };
    for (const auto& c : cases) {
        CliRun run = reg(c.args);
        EXPECT_EQ(run.exitCode, c.exitCode) << c.args << "\n" << run.output;
        EXPECT_NE(run.output.find(c.message), std::string::npos) << c.args << "\n" << run.output;
    }
    EXPECT_EQ(reg("query 'HKLM\\Software\\X'").exitCode, 1) << "a refused add must not create the key";
}

// Query prints what reg.exe prints for each form (line ends apart).
TEST_F(RegCommand, QueryListsFiltersAndSearchesAsRegExe) {
    for (const char* add : {"add 'HKLM\\Software\\Q' /v a /d alpha /f", "add 'HKLM\\Software\\Q' /v n /t REG_DWORD /d 5 /f",
                            "add 'HKLM\\Software\\Q' /v m /t REG_MULTI_SZ /d x\\\\0y /f",
                            "add 'HKLM\\Software\\Q\\Sub' /v s /d beta /f", "add 'HKLM\\Software\\Q\\OnlyKeys\\Leaf' /f",
                            "add 'HKLM\\Software\\Q' /v e /t REG_DWORD_LITTLE_ENDIAN /d 0x10 /f"}) {
        ASSERT_EQ(reg(add).exitCode, 0) << add;
    }
    const std::string q = "HKEY_LOCAL_MACHINE\\Software\\Q";
    const struct {
        const char* args;
        std::string output;
    } cases[] = {
        {"query 'HKLM\\Software\\Q' /t REG_DWORD",
         "\n" + q + "\n    e    REG_DWORD    0x10\n    n    REG_DWORD    0x5\n\n" + q + "\\OnlyKeys\n" + q + "\\Sub\n\n"},
        {"query 'HKLM\\Software\\Q\\OnlyKeys'", "\n" + q + "\\OnlyKeys\\Leaf\n\n"},
        {"query 'HKLM\\Software\\Q' /ve", "\n" + q + "\n    (Default)    REG_SZ    (value not set)\n\n"},
        {"query 'HKLM\\Software\\Q' /v m /se ';' /z /reg:64", "\n" + q + "\n    m    REG_MULTI_SZ (7)    x;y\n\n"},
        {"query 'HKLM\\Software\\Q' /f BET /s", "\n" + q + "\\Sub\n    s    REG_SZ    beta\nEnd of search: 1 match(es) found.\n\n"},
        {"query 'HKLM\\Software\\Q' /f sub /k", "\n" + q + "\\Sub\nEnd of search: 1 match(es) found.\n\n"},
        {"query 'HKLM\\Software\\Q' /f Alpha /c", "End of search: 0 match(es) found.\n\n"},
        {"query 'HKLM\\Software\\Q' /f alph /e", "End of search: 0 match(es) found.\n\n"},
        {"query 'HKLM\\Software\\Q' /f a /v /t REG_SZ", "\n" + q + "\n    a    REG_SZ    alpha\nEnd of search: 1 match(es) found.\n\n"},
        {"query 'HKLM\\Software\\Q\\Sub' /s", "\n" + q + "\\Sub\n    s    REG_SZ    beta\n\n"},
    };
    for (const auto& c : cases) {
        const CliRun run = reg(c.args);
        EXPECT_EQ(run.exitCode, 0) << c.args;
        EXPECT_EQ(run.output, c.output) << c.args;
    }
    for (const char* help : {"query 'HKLM\\Software\\Q' /?", "add /h", "delete -H"}) {
        const CliRun run = reg(help);
        EXPECT_EQ(run.exitCode, 0) << help;
        EXPECT_NE(run.output.find("usage: glimmerpane reg"), std::string::npos) << help;
    }
}

TEST_F(RegCommand, ANoToDeleteCancelsAsAddDoes) {
    ASSERT_EQ(reg("add 'HKLM\\Software\\Keep' /v v /d 1 /f").exitCode, 0);
    writeFile("no.txt", "n\n");
    const std::string answer = "< " + glimmerpane::platform::QuoteShellArgument(path("no.txt"));
    const CliRun run = reg("delete 'HKLM\\Software\\Keep'", answer.c_str());
    EXPECT_EQ(run.exitCode, 1);
    EXPECT_NE(run.output.find("The operation was canceled by the user."), std::string::npos) << run.output;
    EXPECT_EQ(reg("query 'HKLM\\Software\\Keep' /v v").exitCode, 0);
}

TEST_F(RegCommand, ExportOfAnImportedCanonicalFileIsTheSameFile) {
    const std::wstring text =
        L"Windows Registry Editor Version 5.00\r\n\r\n"
        L"[HKEY_LOCAL_MACHINE\\Software\\GpRound]\r\n"
        L"@=\"default \\\"quoted\\\" C:\\\\path\"\r\n"
        L"\"Binary\"=hex:00,01,ff\r\n"
        L"\"Count\"=dword:ffffffff\r\n"
        L"\"Empty\"=\"\"\r\n"
        L"\"Expand\"=hex(2):25,00,41,00,25,00,00,00\r\n"
        L"\"Long\"=hex:00,01,02,03,04,05,06,07,08,09,0a,0b,0c,0d,0e,0f,10,11,12,13,14,15,\\\r\n"
        L"  16,17,18,19,1a,1b,1c,1d,1e,1f,20,21,22,23,24,25,26,27,28,29,2a,2b,2c,2d,2e,\\\r\n"
        L"  2f,30\r\n"
        L"\"Multi\"=hex(7):61,00,00,00,62,00,00,00,00,00\r\n"
        L"\"None\"=hex(0):\r\n"
        L"\"OddString\"=hex(1):61,00,62\r\n"
        L"\"Quad\"=hex(b):ff,ff,ff,ff,ff,ff,ff,ff\r\n"
        L"\"Ünïcode 😀\"=\"日本語\"\r\n"
        L"\r\n"
        L"[HKEY_LOCAL_MACHINE\\Software\\GpRound\\Child]\r\n"
        L"\"v\"=dword:00000001\r\n"
        L"\r\n";
    writeFile("in.reg", Utf16File(text));
    CliRun import = reg("import '" + path("in.reg") + "'");
    ASSERT_EQ(import.exitCode, 0) << import.output;
    CliRun exported = reg("export 'HKLM\\Software\\GpRound' '" + path("out.reg") + "' /y");
    ASSERT_EQ(exported.exitCode, 0) << exported.output;
    EXPECT_EQ(readFile("out.reg"), readFile("in.reg"));
}

TEST_F(RegCommand, Utf8FilesWithContinuationsImportAndReexportStably) {
    writeFile("in.reg",
              "\xEF\xBB\xBFWindows Registry Editor Version 5.00\n\n"
              "; a comment\n"
              "[HKEY_CURRENT_USER\\Software\\Utf8]\n"
              "\"Bytes\" = hex:01, 02,\\\n"
              "      03\n"
              "\"Text\"=\"caf\xC3\xA9\"\n"
              "\"Gone\"=\"x\"\n"
              "\"Gone\"=-\n"
              "[HKEY_CURRENT_USER\\Software\\Utf8\\Old]\n"
              "[-HKEY_CURRENT_USER\\Software\\Utf8\\Old]\n");
    ASSERT_EQ(reg("import '" + path("in.reg") + "'").exitCode, 0);
    CliRun query = reg("query 'HKCU\\Software\\Utf8' /s");
    EXPECT_NE(query.output.find("Bytes    REG_BINARY    010203"), std::string::npos) << query.output;
    EXPECT_NE(query.output.find("Text    REG_SZ    caf\xC3\xA9"), std::string::npos) << query.output;
    EXPECT_EQ(query.output.find("Gone"), std::string::npos) << query.output;
    EXPECT_EQ(query.output.find("Old"), std::string::npos) << query.output;
    ASSERT_EQ(reg("export 'HKCU\\Software\\Utf8' '" + path("a.reg") + "'").exitCode, 0);
    ASSERT_EQ(reg("delete 'HKCU\\Software\\Utf8' /f").exitCode, 0);
    ASSERT_EQ(reg("import '" + path("a.reg") + "'").exitCode, 0);
    ASSERT_EQ(reg("export 'HKCU\\Software\\Utf8' '" + path("b.reg") + "'").exitCode, 0);
    EXPECT_EQ(readFile("a.reg"), readFile("b.reg"));
}

TEST_F(RegCommand, ABadFileNamesFileAndLineAndChangesNothing) {
    const std::string header = "Windows Registry Editor Version 5.00\n\n[HKEY_LOCAL_MACHINE\\Software\\Bad]\n\"ok\"=dword:1\n";
    const struct {
        const char* body;
        const char* reason;
        int line;
    } cases[] = {
        {"\"d\"=dword:123456789\n", "dword:", 5},
        {"\"h\"=hex:01,zz\n", "hex byte", 5},
        {"\"h\"=hex(q):01\n", "bad hex type", 5},
        {"\"s\"=\"unterminated\n", "closing quote", 5},
        {"\"n=1\n", "closing quote", 5},
        {"[HKEY_LOCAL_MACHINE\\Software\\Bad\n", "end with ']'", 5},
        {"[HKEY_CLASSES_ROOT\\X]\n", "HKLM or HKCU", 5},
        {"\"x\"=what\n", "unrecognised value data", 5},
        {"\"h\"=hex:01,\\\n", "ends inside a continued line", 5},
    };
    for (const auto& c : cases) {
        writeFile("bad.reg", header + c.body);
        CliRun run = reg("import '" + path("bad.reg") + "'");
        EXPECT_EQ(run.exitCode, 1) << c.body << run.output;
        EXPECT_NE(run.output.find("bad.reg:" + std::to_string(c.line) + ": "), std::string::npos) << run.output;
        EXPECT_NE(run.output.find(c.reason), std::string::npos) << run.output;
        EXPECT_EQ(reg("query 'HKLM\\Software\\Bad'").exitCode, 1) << "nothing may be imported from a bad file";
    }
    writeFile("plain.reg", "REGEDIT5\n\n[HKEY_LOCAL_MACHINE\\Software\\Bad]\n");
    CliRun run = reg("import '" + path("plain.reg") + "'");
    EXPECT_EQ(run.exitCode, 1);
    EXPECT_NE(run.output.find("plain.reg:1: not a registry file"), std::string::npos) << run.output;
    EXPECT_EQ(reg("import '" + path("missing.reg") + "'").exitCode, 1);
}

TEST_F(RegCommand, AnImportLandsWholeOrNotAtAll) {
    ASSERT_EQ(reg("add 'HKLM\\Software\\Whole' /v kept /t REG_DWORD /d 1 /f").exitCode, 0);
    // The last value passes the reader but the store refuses it: nothing before it may stay.
    writeFile("refused.reg", "Windows Registry Editor Version 5.00\n\n"
                             "[HKEY_LOCAL_MACHINE\\Software\\Whole]\n"
                             "\"kept\"=dword:00000002\n"
                             "[HKEY_LOCAL_MACHINE\\Software\\Whole\\New]\n"
                             "\"a\"=\"b\"\n"
                             "\"" + std::string(600, 'n') + "\"=\"a name too long for the store\"\n");
    CliRun run = reg("import '" + path("refused.reg") + "'");
    EXPECT_EQ(run.exitCode, 1) << run.output;
    EXPECT_NE(run.output.find("refused.reg:7: "), std::string::npos) << run.output;
    EXPECT_NE(run.output.find("too long"), std::string::npos) << run.output;
    CliRun query = reg("query 'HKLM\\Software\\Whole' /s");
    EXPECT_NE(query.output.find("kept    REG_DWORD    0x1"), std::string::npos) << query.output;
    EXPECT_EQ(query.output.find("New"), std::string::npos) << query.output;

    std::filesystem::create_directories(path("folder.reg"));
    CliRun folder = reg("import '" + path("folder.reg") + "'");
    EXPECT_EQ(folder.exitCode, 1) << folder.output;
    EXPECT_NE(folder.output.find("is a folder"), std::string::npos) << folder.output;
}

}  // namespace
