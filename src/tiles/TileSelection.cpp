// TileSelection.cpp - the selection tables.
#include "tiles/TileSelection.h"

namespace Vornik {

namespace {

std::vector<TileContent> SelectRed(const ProcState& s) {
    std::vector<TileContent> tiles;
    if (s.rtsState == 1) {
        tiles.push_back(RTS_OFF);
    } else if (!s.antivirusActive) {
        tiles.push_back(NO_ACTIVE_ANTIVIRUS);
    } else if (s.scanOutOfDate) {
        tiles.push_back(SCAN_OUT_OF_DATE);
    }
    if (s.threatsUnresolved) tiles.push_back(THREATS_UNRESOLVED);
    if (s.firewallState == 1) {
        tiles.push_back(FIREWALL_OFF);
    } else if (!s.firewallActive) {
        tiles.push_back(NO_ACTIVE_FIREWALL);
    }
    if (s.updatesOff) {
        tiles.push_back(UPDATES_OFF);
    } else if (s.datOutOfDate) {
        tiles.push_back(DAT_OUT_OF_DATE);
    }
    if (tiles.empty()) tiles.push_back(AT_RISK);
    return tiles;
}

void AppendStatisticsAndSecure(const ProcState& s, std::vector<TileContent>& tiles) {
    if (s.antivirusProductEnabled && s.filesScanned > 0) tiles.push_back(FILES_SCANNED);
    if (s.firewallProductEnabled && s.firewallState != 2 && s.connectionsBlocked > 0) tiles.push_back(CONNECTIONS_BLOCKED);
    if (s.antivirusProductEnabled && s.rtsState != 2 && s.threatsResolved > 0) tiles.push_back(THREATS_REMOVED);
    tiles.push_back(SECURE);
}

}  // namespace

std::vector<TileContent> selectTileContents(const ProcState& s) {
    if (s.protectionState == 1) return SelectRed(s);
    std::vector<TileContent> tiles;
    if (s.protectionState == 2) {
        if (s.firewallState == 2) tiles.push_back(FIREWALL_OFF_BY_USER);
        if (s.rtsState == 2 && s.rtsRepairing) {
            tiles.push_back(RTS_REPAIRING);
        } else if (s.rtsState == 2 && s.rtsStarting) {
            tiles.push_back(RTS_STARTING);
        }
    }
    AppendStatisticsAndSecure(s, tiles);
    return tiles;
}

}  // namespace Vornik
