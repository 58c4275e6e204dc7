// Tests of the status snapshot's defaults and copy semantics.
#include <gtest/gtest.h>

#include <cstring>

#include "tiles/ProcState.h"

namespace Vornik {
namespace {

TEST(ProcState, ResetGivesTheDefaultsEvenOverGarbage) {
    ProcState state;
    std::memset(static_cast<void*>(&state), 0xAB, sizeof(state));
    state.reset();
    EXPECT_TRUE(state.pupScanEnabled);
    EXPECT_TRUE(state.firewallProductEnabled);
    EXPECT_TRUE(state.antivirusProductEnabled);
    EXPECT_EQ(state.threatsResolved + state.threatsDetected + state.filesScanned + state.connectionsBlocked, 0u);
    EXPECT_EQ(state.rtsState + state.firewallState + state.protectionState, 0u);
    EXPECT_FALSE(state.threatsUnresolved || state.scanOutOfDate || state.rtsStarting || state.rtsRepairing ||
                 state.datOutOfDate || state.updatesOff || state.antivirusActive || state.firewallActive);
}

TEST(ProcState, CopyKeepsOldValuesAfterTheLiveRecordChanges) {
    ProcState live;
    live.filesScanned = 10;
    const ProcState copy = live;
    live.filesScanned = 11;
    live.rtsState = 1;
    EXPECT_EQ(copy.filesScanned, 10u);
    EXPECT_EQ(copy.rtsState, 0u);
}

}  // namespace
}  // namespace Vornik
