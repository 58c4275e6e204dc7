// ProcState.h - the module's picture of the machine's protection.
//
// A plain record with no lock: the message handlers and the statistics reader write it on
// the worker thread; tile selection reads it there; the renderer gets a copy by value.
#pragma once

#include <cstdint>

namespace Vornik {

struct ProcState {
    uint64_t threatsResolved = 0;     // resolved by scans, summed over five kinds
    uint64_t threatsDetected = 0;     // detected by scans, summed over five kinds
    uint64_t filesScanned = 0;
    uint64_t connectionsBlocked = 0;  // inbound, by the firewall
    bool threatsUnresolved = false;   // threatsDetected > threatsResolved
    bool scanOutOfDate = false;
    uint32_t rtsState = 0;            // real-time scanning: 0 on, 1 off, 2 off while repairing or starting
    bool rtsStarting = false;
    bool rtsRepairing = false;
    bool pupScanEnabled = true;
    uint32_t firewallState = 0;       // 0 on, 1 off, 2 off by the user
    bool datOutOfDate = false;
    bool updatesOff = false;
    bool firewallProductEnabled = true;
    bool antivirusProductEnabled = true;
    bool antivirusActive = false;     // another vendor's active anti-virus is reported
    bool firewallActive = false;      // another vendor's active firewall is reported
    uint32_t protectionState = 0;     // 1 "red", 2 "gray", 0 anything else

    void reset() { *this = ProcState(); }
};

}  // namespace Vornik
