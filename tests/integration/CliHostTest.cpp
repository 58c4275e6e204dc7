// The built glimmerpane command as a user runs it: demo, run (scenario file, malformed
// scenario, standard input, Ctrl-C), preview, and a broken module beside the program.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <regex>
#include <sstream>

#include "platform/Shell.h"
#include "support/TempRegistry.h"

namespace {

namespace fs = std::filesystem;

struct Result {
    int exitCode;
    std::string out;  // stdout and stderr together
};

std::string Quote(const std::string& s) { return "'" + s + "'"; }

std::string ReadFile(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

class CliHost : public ::testing::Test {
protected:
    Result Run(const std::string& arguments, const std::string& stdinRedirect = "< /dev/null",
               const std::string& program = GP_CLI_PATH) {
        const fs::path out = temp_.path() / "out.txt";
        const int code = glimmerpane::platform::RunShellCommand(Quote(program) + " " + arguments + " " + stdinRedirect +
                                                                " > " + Quote(out.string()) + " 2>&1");
        return {code, ReadFile(out)};
    }
    fs::path Write(const std::string& name, const std::string& content) {
        std::ofstream(temp_.path() / name, std::ios::binary) << content;
        return temp_.path() / name;
    }
    gptest::TempFolder temp_;
};

// The tile names of each printed tile set, in order.
std::vector<std::string> TileSets(const std::string& output) {
    std::vector<std::string> sets;
    const std::regex line("tile set [0-9]+ from the module: ([A-Z_, ?]+)");
    for (auto it = std::sregex_iterator(output.begin(), output.end(), line); it != std::sregex_iterator(); ++it)
        sets.push_back((*it)[1]);
    return sets;
}

TEST_F(CliHost, DemoPlaysTheDayAndEndsCleanly) {
    const fs::path html = temp_.path() / "demo.html";
    const Result r = Run("demo --lang en-US --html " + Quote(html.string()));
    ASSERT_EQ(r.exitCode, 0) << r.out;
    for (const char* step : {"NewModule", "InitializeModuleV2", "StartModule", "StopModule", "UninitializeModule",
                             "DestroyModule"}) {
        EXPECT_TRUE(std::regex_search(r.out, std::regex(std::string(step) + " +MODULE_STATUS_SUCCESS"))) << step;
    }
    const std::vector<std::string> sets = TileSets(r.out);
    // Eight refresh answers and eleven scripted messages, one tile set each.
    ASSERT_EQ(sets.size(), 19u) << r.out;
    EXPECT_EQ(sets[0], "SECURE");
    EXPECT_EQ(sets[7], "SECURE");
    auto position = [&](const std::string& set) {
        return std::find(sets.begin(), sets.end(), set) - sets.begin();
    };
    const auto gray = position("FIREWALL_OFF_BY_USER, SECURE");
    const auto red = position("RTS_OFF, DAT_OUT_OF_DATE");
    const auto stats = position("FILES_SCANNED, CONNECTIONS_BLOCKED, THREATS_REMOVED, SECURE");
    ASSERT_LT(gray, static_cast<long>(sets.size()));
    ASSERT_LT(red, static_cast<long>(sets.size()));
    ASSERT_LT(stats, static_cast<long>(sets.size()));
    EXPECT_LT(gray, red);
    EXPECT_LT(red, stats);
    EXPECT_EQ(sets.back(), "FILES_SCANNED, CONNECTIONS_BLOCKED, THREATS_REMOVED, SECURE");
    // The counts come from the registry written in the scan step, rendered by the module.
    EXPECT_NE(r.out.find("48,213 files scanned"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("5 of 5 expected tile sets seen"), std::string::npos);
    EXPECT_NE(r.out.find("preview: " + html.string()), std::string::npos);
    const std::string page = ReadFile(html);
    EXPECT_NE(page.find("data-tile=\"FIREWALL_OFF_BY_USER\""), std::string::npos);
    EXPECT_NE(page.find("Files scanned"), std::string::npos);
    // The temporary prefix is gone.
    std::smatch prefix;
    ASSERT_TRUE(std::regex_search(r.out, prefix, std::regex("prefix +(\\S+)")));
    EXPECT_FALSE(fs::exists(prefix[1].str()));
}

TEST_F(CliHost, DemoSpeaksTheChosenLanguage) {
    const Result r = Run("demo --lang de-DE --html " + Quote((temp_.path() / "de.html").string()));
    ASSERT_EQ(r.exitCode, 0) << r.out;
    EXPECT_NE(r.out.find("Ihr PC ist sicher."), std::string::npos);
    EXPECT_EQ(TileSets(r.out).back(), "FILES_SCANNED, CONNECTIONS_BLOCKED, THREATS_REMOVED, SECURE");
}

TEST_F(CliHost, JsonPrintsTheRawPayloads) {
    const Result r = Run("demo --lang en-US --json --html " + Quote((temp_.path() / "j.html").string()));
    ASSERT_EQ(r.exitCode, 0) << r.out;
    const std::regex payload("\\{\"viewer_payload\":\\{\"tiles\":\\[.*\\],\"clear_existing\":true\\},"
                             "\"viewer_type\":\"corvane-uwp-live-tile\"\\}");
    EXPECT_EQ(std::distance(std::sregex_iterator(r.out.begin(), r.out.end(), payload), std::sregex_iterator()), 19);
}

// What a script relies on: only payloads on standard output with --json, a reader that
// stops early (| head) still gets a clean stop, and no temporary folder is left behind.
TEST_F(CliHost, ScriptsGetOnlyPayloadsAndAClosedPipeStopsCleanly) {
    const fs::path tmp = temp_.path() / "tmp";
    fs::create_directories(tmp);
    const std::string env = "TMPDIR=" + Quote(tmp.string()) + " ";
    const fs::path out = temp_.path() / "stdout.txt";
    const int json = glimmerpane::platform::RunShellCommand(env + Quote(GP_CLI_PATH) + " demo --lang en-US --json > " +
                                                            Quote(out.string()) + " 2>/dev/null");
    ASSERT_EQ(json, 0);
    std::istringstream lines(ReadFile(out));
    int payloads = 0;
    for (std::string line; std::getline(lines, line); ++payloads) {
        ASSERT_EQ(line.rfind("{\"viewer_payload\":{", 0), 0u) << "not a payload: " << line;
        ASSERT_EQ(line.back(), '}') << line;
    }
    EXPECT_EQ(payloads, 19);

    const fs::path code = temp_.path() / "code.txt";
    const fs::path err = temp_.path() / "stderr.txt";
    glimmerpane::platform::RunShellCommand("(" + env + Quote(GP_CLI_PATH) + " demo 2>" + Quote(err.string()) +
                                           "; echo $? > " + Quote(code.string()) + ") | head -1 > /dev/null");
    EXPECT_EQ(ReadFile(code), "141\n") << ReadFile(err);
    for (const auto& entry : fs::directory_iterator(tmp)) {
        EXPECT_EQ(entry.path().filename().string().rfind("glimmerpane-prefix-", 0), std::string::npos)
            << "left behind: " << entry.path();
    }
}

TEST_F(CliHost, ThePreviewNeverFollowsALinkAndABadPathFailsBeforeTheRun) {
    const fs::path victim = Write("victim.txt", "keep me");
    const fs::path page = temp_.path() / "page.html";
    fs::create_symlink(victim, page);
    const Result r = Run("demo --lang en-US --html " + Quote(page.string()));
    ASSERT_EQ(r.exitCode, 0) << r.out;
    EXPECT_EQ(ReadFile(victim), "keep me");
    EXPECT_FALSE(fs::is_symlink(page));
    EXPECT_NE(ReadFile(page).find("data-tile=\"SECURE\""), std::string::npos);

    const Result missing = Run("demo --html " + Quote((temp_.path() / "no" / "such" / "p.html").string()));
    EXPECT_EQ(missing.exitCode, 1) << missing.out;
    EXPECT_NE(missing.out.find("cannot create"), std::string::npos) << missing.out;
    EXPECT_EQ(missing.out.find("NewModule"), std::string::npos) << "the run started: " << missing.out;

    // Without --html: a new file of this run, a different one each time.
    const Result first = Run("demo");
    std::smatch a, b;
    ASSERT_TRUE(std::regex_search(first.out, a, std::regex("preview: (\\S+)"))) << first.out;
    const Result second = Run("demo");
    ASSERT_TRUE(std::regex_search(second.out, b, std::regex("preview: (\\S+)"))) << second.out;
    EXPECT_NE(a[1].str(), b[1].str());
    fs::remove(a[1].str());
    fs::remove(b[1].str());
}

TEST_F(CliHost, APrefixOfTheUsersOwnReachesTheModuleAndIsKept) {
    const fs::path prefix = temp_.path() / "prefix";
    const Result add = Run("reg add 'HKLM\\SOFTWARE\\Corvane\\Tavrel\\Settings\\Stats\\Dravix\\Activity\\ScanReport\\"
                           "TotalItemScanned' /v SDSValue /t REG_DWORD /d 7777 /f --prefix " + Quote(prefix.string()));
    ASSERT_EQ(add.exitCode, 0) << add.out;
    const fs::path input = Write("in.txt", "Core.Protection.State {\"state\":\"green\"}\n");
    const Result r = Run("run - --lang en-US --prefix " + Quote(prefix.string()) + " --html " +
                             Quote((temp_.path() / "p.html").string()),
                         "< " + Quote(input.string()));
    ASSERT_EQ(r.exitCode, 0) << r.out;
    EXPECT_NE(r.out.find("7,777 files scanned"), std::string::npos) << r.out;
    EXPECT_TRUE(fs::exists(prefix / "registry"));

    const Result kept = Run("demo --keep-prefix --html " + Quote((temp_.path() / "k.html").string()));
    ASSERT_EQ(kept.exitCode, 0) << kept.out;
    std::smatch where;
    ASSERT_TRUE(std::regex_search(kept.out, where, std::regex("kept +(\\S+)"))) << kept.out;
    EXPECT_TRUE(fs::exists(where[1].str()));
    fs::remove_all(where[1].str());

    for (const char* args : {"--version", "demo --version", "reg --version"}) {
        const Result v = Run(args);
        EXPECT_EQ(v.exitCode, 0) << args;
        EXPECT_EQ(v.out, "glimmerpane 1.6.0\n") << args;
    }
}

// trace --files hands demo a prefix of its own that keeps the logs, and lists what the
// module really wrote there.
TEST_F(CliHost, TraceFilesListsTheLogFilesTheModuleWrote) {
    const fs::path prefix = temp_.path() / "traced";
    const Result r = Run("trace --files -- demo --lang en-US --prefix " + Quote(prefix.string()) + " --seed-statistics --html " +
                         Quote((temp_.path() / "t.html").string()));
    ASSERT_EQ(r.exitCode, 0) << r.out;
    EXPECT_NE(r.out.find("5 of 5 expected tile sets seen"), std::string::npos) << r.out;
    std::smatch file;
    ASSERT_TRUE(std::regex_search(r.out, file, std::regex("\n  (\\S+\\.log) \\(([0-9]+) bytes\\)"))) << r.out;
    EXPECT_EQ(file[1].str().rfind(prefix.string(), 0), 0u) << file[1];
    EXPECT_TRUE(fs::exists(file[1].str()));
    EXPECT_GT(std::stoul(file[2].str()), 0u);
}

TEST_F(CliHost, ScenarioFileWithAFailedExpectationFailsTheRun) {
    const fs::path scenario = Write("day.scn",
                                    "initial Core.Protection.State {\"state\":\"green\"}\n"
                                    "step Updates off\n"
                                    "send Core.Update.State {\"state\":\"off\"}\n"
                                    "send Core.Protection.State {\"state\":\"red\"}\n"
                                    "expect NO_ACTIVE_ANTIVIRUS, NO_ACTIVE_FIREWALL, UPDATES_OFF\n"
                                    "step Wrong on purpose\n"
                                    "send Core.Protection.State {\"state\":\"green\"}\n"
                                    "expect AT_RISK\n");
    const Result r = Run("run --lang en-US --scenario " + Quote(scenario.string()) + " --html " +
                         Quote((temp_.path() / "r.html").string()));
    EXPECT_EQ(r.exitCode, 1) << r.out;
    // Only the refresh request with an initial state is answered.
    const auto sets = TileSets(r.out);
    ASSERT_EQ(sets.size(), 4u) << r.out;
    EXPECT_EQ(sets[2], "NO_ACTIVE_ANTIVIRUS, NO_ACTIVE_FIREWALL, UPDATES_OFF");
    EXPECT_NE(r.out.find("expected tiles AT_RISK but the last tile set holds SECURE"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("1 of 2 expected tile sets seen"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("DestroyModule        MODULE_STATUS_SUCCESS"), std::string::npos);
}

TEST_F(CliHost, MalformedScenarioNamesFileLineAndReason) {
    const fs::path scenario = Write("bad.scn", "title Bad\nstep One\nsend Core.Firewall.State {\"state\":\n");
    const Result r = Run("run --scenario " + Quote(scenario.string()));
    EXPECT_EQ(r.exitCode, 2);
    EXPECT_NE(r.out.find(scenario.string() + ":3: user data of Core.Firewall.State is not valid JSON"),
              std::string::npos)
        << r.out;
    EXPECT_EQ(r.out.find("NewModule"), std::string::npos) << "nothing is loaded for a malformed scenario";
}

TEST_F(CliHost, BadArgumentsExitWithTwo) {
    for (const char* args : {"demo --lang xx-XX", "demo --lang es-ES", "demo --lang de_DE", "demo --timeout 0", "demo extra", "run", "run --scenario",
                             "run --scenario /nonexistent/file.scn", "preview", "preview a b", "nosuchcommand"}) {
        const Result r = Run(args);
        EXPECT_EQ(r.exitCode, 2) << args << "\n" << r.out;
        EXPECT_NE(r.out.find("glimmerpane:"), std::string::npos) << args;
    }
    for (const char* command : {"demo", "run", "preview", "version", "rc", "host", "publish", "watch"}) {
        const Result r = Run(std::string(command) + " --help");
        EXPECT_EQ(r.exitCode, 0) << command;
        EXPECT_NE(r.out.find("usage: glimmerpane"), std::string::npos) << command;
    }
}

TEST_F(CliHost, InteractiveInputPublishesEachLine) {
    const fs::path input = Write("input.txt",
                                 "Core.Firewall.State {\"state\":\"off\",\"off_by_user\":true}\n"
                                 "Core.Protection.State {\"state\":\"gray\"}\n"
                                 "Some.Unknown.Message hello\n"
                                 "Core.Firewall.State {broken\n"
                                 "stats TotalItemScanned=5\n"
                                 "Core.Protection.State {\"state\":\"green\"}\n");
    const Result r = Run("run - --lang en-US --html " + Quote((temp_.path() / "i.html").string()),
                         "< " + Quote(input.string()));
    ASSERT_EQ(r.exitCode, 0) << r.out;
    const auto sets = TileSets(r.out);
    ASSERT_EQ(sets.size(), 11u) << r.out;  // 8 refresh answers, 3 status lines
    EXPECT_EQ(sets[9], "FIREWALL_OFF_BY_USER, SECURE");
    EXPECT_EQ(sets[10], "FILES_SCANNED, SECURE");
    EXPECT_NE(r.out.find("Some.Unknown.Message hello"), std::string::npos);
    EXPECT_NE(r.out.find("input line 4: user data of Core.Firewall.State is not valid JSON"), std::string::npos);
    EXPECT_NE(r.out.find("1 input lines rejected"), std::string::npos);
}

TEST_F(CliHost, CtrlCStopsAndDestroysTheModule) {
    // Standard input stays open (sleep holds the pipe) so the run waits for lines until the
    // interrupt comes.
    const fs::path out = temp_.path() / "int.txt";
    const int code = glimmerpane::platform::RunShellCommand(
        "sleep 5 | timeout -s INT --preserve-status 2 " + Quote(GP_CLI_PATH) + " run --interactive --html " +
        Quote((temp_.path() / "int.html").string()) + " > " + Quote(out.string()) + " 2>&1");
    const std::string text = ReadFile(out);
    EXPECT_EQ(code, 130) << text;
    EXPECT_NE(text.find("interrupted"), std::string::npos) << text;
    EXPECT_NE(text.find("DestroyModule        MODULE_STATUS_SUCCESS"), std::string::npos) << text;
}

TEST_F(CliHost, PreviewRendersPayloadsAndReportsAFullDisk) {
    const fs::path html = temp_.path() / "demo.html";
    const Result demo = Run("demo --lang en-US --json --html " + Quote(html.string()));
    ASSERT_EQ(demo.exitCode, 0);
    const fs::path payloads = Write("payloads.json", demo.out);  // non-payload lines are skipped
    const Result r = Run("preview " + Quote(payloads.string()));
    ASSERT_EQ(r.exitCode, 0) << r.out;
    EXPECT_NE(r.out.find("19 payloads"), std::string::npos) << r.out;
    const std::string page = ReadFile(temp_.path() / "payloads.html");
    EXPECT_NE(page.find("data-tile=\"RTS_OFF\""), std::string::npos);

    if (fs::exists("/dev/full")) {
        const Result full = Run("preview " + Quote(payloads.string()) + " -o /dev/full");
        EXPECT_EQ(full.exitCode, 1);
        EXPECT_NE(full.out.find("No space left on device"), std::string::npos) << full.out;
    }
    const Result unwritable = Run("preview " + Quote(payloads.string()) + " -o /nonexistent/dir/p.html");
    EXPECT_EQ(unwritable.exitCode, 1);
    EXPECT_NE(unwritable.out.find("cannot create /nonexistent/dir/p.html"), std::string::npos);

    const fs::path junk = Write("junk.json", "{\"not\":\"a payload\"}\n");
    const Result bad = Run("preview " + Quote(junk.string()));
    EXPECT_EQ(bad.exitCode, 2);
    EXPECT_NE(bad.out.find("junk.json:1: no \"viewer_payload\" object"), std::string::npos) << bad.out;
}

TEST_F(CliHost, ABrokenModuleBesideTheProgramIsReportedNotFatal) {
    // A copy of the program whose folder holds a module file that is not a library.
    const fs::path bin = temp_.path() / "bin";
    fs::create_directory(bin);
    const fs::path built = fs::path(GP_CLI_PATH).parent_path();
    fs::copy_file(GP_CLI_PATH, bin / "glimmerpane");
    for (const char* file : {"BusBroker.so", "GPNResources.so"}) fs::copy_file(built / file, bin / file);
    std::ofstream(bin / "Glimmerpane.so") << "not a library";
    Result r = Run("demo --html " + Quote((temp_.path() / "b.html").string()), "< /dev/null",
                   (bin / "glimmerpane").string());
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_NE(r.out.find("cannot load " + (bin / "Glimmerpane.so").string()), std::string::npos) << r.out;

    fs::remove(bin / "BusBroker.so");
    r = Run("demo --html " + Quote((temp_.path() / "b.html").string()), "< /dev/null", (bin / "glimmerpane").string());
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_NE(r.out.find("cannot load the bus library"), std::string::npos) << r.out;
}

TEST_F(CliHost, ModuleBusEitherRunsOrReportsTheRefusedStep) {
    // InitializeModule makes the module load BusBroker itself; until it can, the host must
    // say which step the module refused and still destroy it.
    const Result r = Run("demo --module-bus --lang en-US --html " + Quote((temp_.path() / "m.html").string()));
    if (r.exitCode == 0) {
        EXPECT_EQ(TileSets(r.out).size(), 19u) << r.out;
    } else {
        EXPECT_EQ(r.exitCode, 1);
        EXPECT_TRUE(std::regex_search(r.out, std::regex("InitializeModule +MODULE_STATUS_[A-Z_]+\\(0x8"))) << r.out;
        EXPECT_NE(r.out.find("DestroyModule        MODULE_STATUS_SUCCESS"), std::string::npos) << r.out;
    }
}

}  // namespace

namespace {

// The module's records reach a trace session from its very first one: creation, the bus
// library loader's timer and the worker's handling all appear at level 1.
TEST_F(CliHost, TraceShowsTheModulesRecordsFromTheFirst) {
    const Result r = Run("trace --level 1 -- demo --module-bus --lang en-US --html " +
                         Quote((temp_.path() / "t.html").string()));
    ASSERT_EQ(r.exitCode, 0) << r.out;
    EXPECT_NE(r.out.find("Vornik::createModule: Successfully created Glimmerpane Module"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("M12NPerfTimer|MessageBusLib::MessageBusLib|"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("Vornik::GlimmerpaneImpl::listenForUpdates: Handled message"), std::string::npos);
}

}  // namespace
