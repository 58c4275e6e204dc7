// The selection tables as one table of cases: every row of the red, gray and default
// selections and the consequences that follow from them.
#include <gtest/gtest.h>

#include <functional>

#include "tiles/TileSelection.h"

namespace Vornik {
namespace {

struct SelectionCase {
    const char* label;
    std::function<void(ProcState&)> set;
    std::vector<TileContent> expected;
};

void Red(ProcState& s) {
    s.protectionState = 1;
    s.antivirusActive = true;
    s.firewallActive = true;
}

TEST(TileSelection, FollowsTheTables) {
    const SelectionCase cases[] = {
        {"defaults", [](ProcState&) {}, {SECURE}},
        {"red defaults", [](ProcState& s) { s.protectionState = 1; }, {NO_ACTIVE_ANTIVIRUS, NO_ACTIVE_FIREWALL}},
        {"red nothing wrong", Red, {AT_RISK}},
        {"red rts off beats inactive antivirus",
         [](ProcState& s) { Red(s); s.rtsState = 1; s.antivirusActive = false; }, {RTS_OFF}},
        {"red scan out of date", [](ProcState& s) { Red(s); s.scanOutOfDate = true; }, {SCAN_OUT_OF_DATE}},
        {"red rts 2 falls through", [](ProcState& s) { Red(s); s.rtsState = 2; s.scanOutOfDate = true; },
         {SCAN_OUT_OF_DATE}},
        {"red all four areas",
         [](ProcState& s) {
             Red(s);
             s.rtsState = 1;
             s.threatsUnresolved = true;
             s.firewallState = 1;
             s.updatesOff = true;
         },
         {RTS_OFF, THREATS_UNRESOLVED, FIREWALL_OFF, UPDATES_OFF}},
        {"red rts off ends its row", [](ProcState& s) { Red(s); s.rtsState = 1; s.scanOutOfDate = true; }, {RTS_OFF}},
        {"red no active antivirus ends its row",
         [](ProcState& s) { Red(s); s.antivirusActive = false; s.scanOutOfDate = true; }, {NO_ACTIVE_ANTIVIRUS}},
        {"red threats do not depend on an active antivirus",
         [](ProcState& s) { Red(s); s.antivirusActive = false; s.threatsUnresolved = true; },
         {NO_ACTIVE_ANTIVIRUS, THREATS_UNRESOLVED}},
        {"red threats alone", [](ProcState& s) { Red(s); s.threatsUnresolved = true; }, {THREATS_UNRESOLVED}},
        {"red firewall off ends its row",
         [](ProcState& s) { Red(s); s.firewallState = 1; s.firewallActive = false; }, {FIREWALL_OFF}},
        {"red firewall off alone", [](ProcState& s) { Red(s); s.firewallState = 1; }, {FIREWALL_OFF}},
        {"red no active firewall alone", [](ProcState& s) { Red(s); s.firewallActive = false; }, {NO_ACTIVE_FIREWALL}},
        {"red no active firewall while off by user",
         [](ProcState& s) { Red(s); s.firewallState = 2; s.firewallActive = false; }, {NO_ACTIVE_FIREWALL}},
        {"red updates off alone", [](ProcState& s) { Red(s); s.updatesOff = true; }, {UPDATES_OFF}},
        {"red example",
         [](ProcState& s) {
             s.protectionState = 1;
             s.rtsState = 1;
             s.threatsDetected = 5;
             s.threatsResolved = 3;
             s.threatsUnresolved = true;
             s.firewallState = 1;
             s.updatesOff = true;
         },
         {RTS_OFF, THREATS_UNRESOLVED, FIREWALL_OFF, UPDATES_OFF}},
        {"red firewall off by user is no red cause", [](ProcState& s) { Red(s); s.firewallState = 2; }, {AT_RISK}},
        {"red updates beat dat", [](ProcState& s) { Red(s); s.updatesOff = true; s.datOutOfDate = true; }, {UPDATES_OFF}},
        {"red dat", [](ProcState& s) { Red(s); s.datOutOfDate = true; }, {DAT_OUT_OF_DATE}},
        {"red never shows statistics",
         [](ProcState& s) { Red(s); s.filesScanned = 5; s.threatsResolved = 2; s.connectionsBlocked = 3; }, {AT_RISK}},
        {"gray repairing and statistics",
         [](ProcState& s) {
             s.protectionState = 2;
             s.firewallState = 2;
             s.rtsState = 2;
             s.rtsRepairing = true;
             s.rtsStarting = true;
             s.filesScanned = 10;
             s.connectionsBlocked = 4;
             s.threatsResolved = 1;
         },
         {FIREWALL_OFF_BY_USER, RTS_REPAIRING, FILES_SCANNED, SECURE}},
        {"gray starting", [](ProcState& s) { s.protectionState = 2; s.rtsState = 2; s.rtsStarting = true; },
         {RTS_STARTING, SECURE}},
        {"gray repairing without rts 2", [](ProcState& s) { s.protectionState = 2; s.rtsRepairing = true; }, {SECURE}},
        {"gray starting without rts 2", [](ProcState& s) { s.protectionState = 2; s.rtsStarting = true; }, {SECURE}},
        {"gray rts 1 is no gray cause",
         [](ProcState& s) { s.protectionState = 2; s.rtsState = 1; s.rtsRepairing = true; s.rtsStarting = true; },
         {SECURE}},
        {"gray rts 2 without either flag", [](ProcState& s) { s.protectionState = 2; s.rtsState = 2; }, {SECURE}},
        {"gray firewall off is not off by user", [](ProcState& s) { s.protectionState = 2; s.firewallState = 1; },
         {SECURE}},
        {"gray firewall off by user alone", [](ProcState& s) { s.protectionState = 2; s.firewallState = 2; },
         {FIREWALL_OFF_BY_USER, SECURE}},
        {"gray firewall off and rts 1 keep the statistics",
         [](ProcState& s) {
             s.protectionState = 2;
             s.firewallState = 1;
             s.rtsState = 1;
             s.connectionsBlocked = 1;
             s.threatsResolved = 1;
         },
         {CONNECTIONS_BLOCKED, THREATS_REMOVED, SECURE}},
        {"gray all statistics",
         [](ProcState& s) { s.protectionState = 2; s.filesScanned = 1; s.connectionsBlocked = 1; s.threatsResolved = 1; },
         {FILES_SCANNED, CONNECTIONS_BLOCKED, THREATS_REMOVED, SECURE}},
        {"state 0 statistics", [](ProcState& s) { s.filesScanned = 1; s.connectionsBlocked = 1; s.threatsResolved = 1; },
         {FILES_SCANNED, CONNECTIONS_BLOCKED, THREATS_REMOVED, SECURE}},
        {"antivirus product disabled",
         [](ProcState& s) {
             s.antivirusProductEnabled = false;
             s.filesScanned = 1;
             s.threatsResolved = 1;
             s.connectionsBlocked = 1;
         },
         {CONNECTIONS_BLOCKED, SECURE}},
        {"firewall product disabled", [](ProcState& s) { s.firewallProductEnabled = false; s.connectionsBlocked = 9; },
         {SECURE}},
        {"state 0 firewall off by user hides connections",
         [](ProcState& s) { s.firewallState = 2; s.connectionsBlocked = 9; }, {SECURE}},
        {"state 0 rts 2 hides threats removed and names no rts cause",
         [](ProcState& s) { s.rtsState = 2; s.rtsRepairing = true; s.rtsStarting = true; s.threatsResolved = 9; },
         {SECURE}},
        {"state 0 firewall off by user names no cause", [](ProcState& s) { s.firewallState = 2; }, {SECURE}},
        {"state 0 firewall off keeps connections", [](ProcState& s) { s.firewallState = 1; s.connectionsBlocked = 2; },
         {CONNECTIONS_BLOCKED, SECURE}},
        {"state 0 rts off keeps threats removed", [](ProcState& s) { s.rtsState = 1; s.threatsResolved = 2; },
         {THREATS_REMOVED, SECURE}},
        {"state 0 red causes are not shown",
         [](ProcState& s) {
             s.rtsState = 1;
             s.threatsUnresolved = true;
             s.scanOutOfDate = true;
             s.updatesOff = true;
             s.datOutOfDate = true;
         },
         {SECURE}},
        {"unknown protection state acts as 0", [](ProcState& s) { s.protectionState = 7; s.filesScanned = 3; },
         {FILES_SCANNED, SECURE}},
    };
    for (const auto& c : cases) {
        ProcState state;
        c.set(state);
        EXPECT_EQ(selectTileContents(state), c.expected) << c.label;
    }
}

}  // namespace
}  // namespace Vornik
