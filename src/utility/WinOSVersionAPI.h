// WinOSVersionAPI.h - the version test wrapper (VerifyVersionInfoW) that OS classification
// runs over; tests inject a fake system through it.
//
// On POSIX the default instance answers for Linux: kernel release as major.minor, no
// service pack, and a platform id that is neither Windows family (see platform/OSVersion.h).
#pragma once

#include <cstdint>

#include "platform/OSVersion.h"

namespace Kestrix {

using OSVersionRecord = glimmerpane::platform::OSVersionRecord;

// Type mask bits and conditions, with the values of the Windows SDK.
inline constexpr uint32_t kVerMinorVersion = 0x1;
inline constexpr uint32_t kVerMajorVersion = 0x2;
inline constexpr uint32_t kVerBuildNumber = 0x4;
inline constexpr uint32_t kVerPlatformId = 0x8;
inline constexpr uint32_t kVerServicePackMinor = 0x10;
inline constexpr uint32_t kVerServicePackMajor = 0x20;
inline constexpr uint8_t kVerEqual = 1;

// VerSetConditionMask: three condition bits per type bit, placed by the type bit's index.
uint64_t SetConditionMask(uint64_t conditionMask, uint32_t typeBit, uint8_t condition);

class WinOSVersionAPI {
public:
    virtual ~WinOSVersionAPI() = default;
    // VerifyVersionInfoW's answer: true when the running system matches the record in every
    // field named by typeMask under the conditions of conditionMask.
    virtual bool VerifyVersion(const OSVersionRecord& record, uint32_t typeMask, uint64_t conditionMask);
};

}  // namespace Kestrix
