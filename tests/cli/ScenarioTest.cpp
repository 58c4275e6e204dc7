// The scenario format of `glimmerpane run`: the built-in day, and malformed lines reported
// with their line number and reason.
#include <gtest/gtest.h>

#include "cli/Scenario.h"

namespace glimmerpane::cli {
namespace {

TEST(Scenario, BuiltInDayParsesWithEveryComponentAndTheScriptedSteps) {
    Scenario scenario;
    ScenarioError error;
    ASSERT_TRUE(ParseScenario(DefaultScenarioText(), "default", &scenario, &error)) << error.describe();
    EXPECT_EQ(scenario.initial.size(), 8u);
    for (const StatusKind& kind : StatusKinds()) EXPECT_EQ(scenario.initial.count(kind.status), 1u) << kind.status;
    EXPECT_EQ(scenario.seedStats.size(), 12u);
    ASSERT_EQ(scenario.steps.size(), 5u);
    EXPECT_EQ(*scenario.steps[0].expect, std::vector<std::string>{"SECURE"});
    EXPECT_EQ(*scenario.steps[1].expect, (std::vector<std::string>{"FIREWALL_OFF_BY_USER", "SECURE"}));
    EXPECT_EQ(*scenario.steps[2].expect, (std::vector<std::string>{"RTS_OFF", "DAT_OUT_OF_DATE"}));
    // The scan step changes the registry before it sends its message.
    const ScenarioStep& scan = scenario.steps[4];
    ASSERT_GE(scan.actions.size(), 2u);
    EXPECT_EQ(scan.actions[0].kind, ScenarioAction::Kind::Stats);
    EXPECT_EQ(scan.actions[0].stats.at("TotalItemScanned"), 48213u);
    EXPECT_EQ(scan.actions.back().kind, ScenarioAction::Kind::Send);
    EXPECT_EQ(scan.actions.back().name, "Core.Antivirus.LastScanTime");
}

TEST(Scenario, KeepsDirectivesInOrderWithLineNumbers) {
    const std::string text =
        "# comment\n"
        "title  My day \r\n"
        "stats VirusResolved=4294967295\n"
        "\n"
        "step One\n"
        "send Some.Other.Message not json at all\n"
        "stats TotalItemScanned=7\n"
        "send Core.Update.State {\"state\":\"off\"}\n"
        "expect UPDATES_OFF ,SECURE\n";
    Scenario s;
    ScenarioError e;
    ASSERT_TRUE(ParseScenario(text, "f", &s, &e)) << e.describe();
    EXPECT_EQ(s.title, "My day");
    EXPECT_EQ(s.seedStats.at("VirusResolved"), 4294967295u);
    ASSERT_EQ(s.steps.size(), 1u);
    ASSERT_EQ(s.steps[0].actions.size(), 3u);
    EXPECT_EQ(s.steps[0].actions[0].name, "Some.Other.Message");
    EXPECT_EQ(s.steps[0].actions[0].userData, "not json at all");
    EXPECT_EQ(s.steps[0].actions[1].line, 7);
    EXPECT_EQ(s.steps[0].actions[2].userData, "{\"state\":\"off\"}");
    EXPECT_EQ(*s.steps[0].expect, (std::vector<std::string>{"UPDATES_OFF", "SECURE"}));
}

struct BadCase {
    const char* text;
    int line;
    const char* reasonPart;
};

TEST(Scenario, MalformedLinesNameTheLineAndTheReason) {
    const BadCase cases[] = {
        {"step A\nfrobnicate x\n", 2, "unknown directive 'frobnicate'"},
        {"send Core.Update.State {}\n", 1, "outside a step"},
        {"step A\nsend Core.Update.State {\"state\":\n", 2, "not valid JSON"},
        {"step A\nsend Core.Update.State\n", 2, "not valid JSON: (empty)"},
        {"initial Core.Nope {}\n", 1, "eight status message names"},
        {"initial Core.Update.State {}\ninitial Core.Update.State {}\n", 2, "second 'initial'"},
        {"step A\ninitial Core.Update.State {}\n", 2, "before the first 'step'"},
        {"stats VirusResolved=4294967296\nstep A\n", 1, "0 to 4294967295"},
        {"stats VirusResolved=-1\nstep A\n", 1, "whole number"},
        {"stats Bogus=1\nstep A\n", 1, "unknown statistics key 'Bogus'"},
        {"stats VirusResolved\nstep A\n", 1, "not KEY=NUMBER"},
        {"stats\nstep A\n", 1, "at least one"},
        {"step\n", 1, "needs a title"},
        {"step A\nexpect\n", 2, "needs tile names"},
        {"step A\nexpect SECURE,,X\n", 2, "empty tile name"},
        {"step A\nexpect SECURE\nexpect SECURE\n", 3, "second 'expect'"},
        {"# nothing\n", 1, "no 'initial' and no 'step'"},
    };
    for (const BadCase& c : cases) {
        Scenario s;
        ScenarioError e;
        EXPECT_FALSE(ParseScenario(c.text, "day.scn", &s, &e)) << c.text;
        EXPECT_EQ(e.line, c.line) << c.text;
        EXPECT_NE(e.reason.find(c.reasonPart), std::string::npos) << c.text << " -> " << e.reason;
        EXPECT_EQ(e.describe().rfind("day.scn:" + std::to_string(c.line) + ": ", 0), 0u) << e.describe();
    }
}

TEST(Scenario, InteractiveLinesAreSendsOrStatistics) {
    ScenarioAction a;
    std::string reason;
    ASSERT_TRUE(ParseInteractiveLine("  Core.Firewall.State {\"state\":\"off\",\"off_by_user\":true}  ", &a, &reason));
    EXPECT_EQ(a.kind, ScenarioAction::Kind::Send);
    EXPECT_EQ(a.name, "Core.Firewall.State");
    EXPECT_EQ(a.userData, "{\"state\":\"off\",\"off_by_user\":true}");

    ASSERT_TRUE(ParseInteractiveLine("My.Own.Message", &a, &reason));
    EXPECT_EQ(a.name, "My.Own.Message");
    EXPECT_EQ(a.userData, "");

    ASSERT_TRUE(ParseInteractiveLine("stats TotalItemScanned=12 VirusDetected=1", &a, &reason));
    EXPECT_EQ(a.kind, ScenarioAction::Kind::Stats);
    EXPECT_EQ(a.stats.size(), 2u);

    EXPECT_FALSE(ParseInteractiveLine("Core.Firewall.State {oops", &a, &reason));
    EXPECT_NE(reason.find("not valid JSON"), std::string::npos);
    EXPECT_FALSE(ParseInteractiveLine("stats Nope=1", &a, &reason));
}

TEST(Scenario, StatisticsKeysAreTheTwelveRegistryPaths) {
    const auto& keys = StatisticsKeys();
    ASSERT_EQ(keys.size(), 12u);
    EXPECT_EQ(keys.at("VirusResolved"),
              L"SOFTWARE\\Corvane\\Tavrel\\Settings\\Stats\\Dravix\\Activity\\ScanReport\\VirusResolved");
    EXPECT_EQ(keys.at("TotalInboundConnectionBlocked"),
              L"SOFTWARE\\Corvane\\Tavrel\\Settings\\Stats\\Pelmor\\Activity\\TotalInboundConnectionBlocked");
}

}  // namespace
}  // namespace glimmerpane::cli

#include <cstdlib>
#include <fstream>
#include <sstream>

namespace glimmerpane::cli {
namespace {

TEST(Scenario, DocumentedExampleIsTheBuiltInScenario) {
    const char* source = std::getenv("GLIMMERPANE_SOURCE_DIR");
    if (source == nullptr) GTEST_SKIP() << "GLIMMERPANE_SOURCE_DIR is not set (run through ctest)";
    std::ifstream in(std::string(source) + "/docs/scenarios.md");
    ASSERT_TRUE(in) << "docs/scenarios.md is missing";
    std::stringstream doc;
    doc << in.rdbuf();
    EXPECT_NE(doc.str().find("```\n" + DefaultScenarioText() + "```\n"), std::string::npos)
        << "docs/scenarios.md must show the built-in scenario as it is";
}

}  // namespace
}  // namespace glimmerpane::cli
