// BenchStatistics.h - the twelve statistics the module benchmarks seed: every count above
// zero, so that each message selects four tiles (FILES_SCANNED, CONNECTIONS_BLOCKED,
// THREATS_REMOVED, SECURE).
#pragma once

#include <cstdint>
#include <memory>
#include <utility>

#include "platform/Registry.h"
#include "utility/CRegKey.h"

namespace gpbench {

#define GP_SCAN_REPORT L"SOFTWARE\\Corvane\\Tavrel\\Settings\\Stats\\Dravix\\Activity\\ScanReport\\"
inline constexpr std::pair<const wchar_t*, uint32_t> kStatistics[] = {
    {GP_SCAN_REPORT L"RootKitsResolved", 1},        {GP_SCAN_REPORT L"TrackingCookiesResolved", 2},
    {GP_SCAN_REPORT L"TrojansResolved", 3},         {GP_SCAN_REPORT L"UnwantedProgramResolved", 4},
    {GP_SCAN_REPORT L"VirusResolved", 5},           {GP_SCAN_REPORT L"RootKitsDetected", 1},
    {GP_SCAN_REPORT L"TrackingCookiesDetected", 2}, {GP_SCAN_REPORT L"TrojansDetected", 3},
    {GP_SCAN_REPORT L"UnwantedProgramDetected", 4}, {GP_SCAN_REPORT L"VirusDetected", 5},
    {GP_SCAN_REPORT L"TotalItemScanned", 1234567},
    {L"SOFTWARE\\Corvane\\Tavrel\\Settings\\Stats\\Pelmor\\Activity\\TotalInboundConnectionBlocked", 42},
};
#undef GP_SCAN_REPORT

// Writes the twelve values ("SDSValue") below HKEY_LOCAL_MACHINE; false when a write fails.
inline bool SeedStatistics(const std::shared_ptr<glimmerpane::platform::RegistryStore>& store) {
    for (const auto& [key, value] : kStatistics) {
        Kestrix::CRegKey writer(std::make_shared<Kestrix::internal::CRegKeyImpl>(store));
        if (writer.Create(glimmerpane::platform::HkeyLocalMachine(), key) != 0 ||
            writer.SetDwordValue(L"SDSValue", value) != 0)
            return false;
    }
    return true;
}

}  // namespace gpbench
