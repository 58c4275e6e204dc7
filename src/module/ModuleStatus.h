// ModuleStatus.h - the status codes shared with the module host and the bus library.
//
// Success is 0 and every failure has the top bit set. ModuleStatusName turns a code
// into its symbolic name for log texts, which show codes as "%ls(%lu)".
#pragma once

#include <glimmerpane/abi.h>

namespace Vornik {

inline constexpr ModuleStatus MODULE_STATUS_SUCCESS = 0x00000000;
inline constexpr ModuleStatus MODULE_STATUS_NOT_SUPPORTED = 0x80000001;
inline constexpr ModuleStatus MODULE_STATUS_UNSUCCESSFUL = 0x80000002;
inline constexpr ModuleStatus MODULE_STATUS_BUFFER_TOO_SMALL = 0x80000003;
inline constexpr ModuleStatus MODULE_STATUS_NOT_IMPLEMENTED = 0x80000004;
inline constexpr ModuleStatus MODULE_STATUS_INVALID_BUFFER_SIZE = 0x80000005;
inline constexpr ModuleStatus MODULE_STATUS_DATA_ERROR = 0x80000006;
inline constexpr ModuleStatus MODULE_STATUS_INVALID_HANDLE = 0x80000007;
inline constexpr ModuleStatus MODULE_STATUS_INVALID_PARAMETER = 0x80000008;
inline constexpr ModuleStatus MODULE_STATUS_NO_MEMORY = 0x80000009;
inline constexpr ModuleStatus MODULE_STATUS_NOT_FOUND = 0x8000000A;
inline constexpr ModuleStatus MODULE_STATUS_ON_DEMAND_ENABLED = 0x8000000B;
inline constexpr ModuleStatus MODULE_STATUS_PROPERTY_NOT_FOUND = 0x8000000C;
inline constexpr ModuleStatus MODULE_STATUS_TIMEOUT = 0x8000000D;
inline constexpr ModuleStatus MODULE_STATUS_NO_SUBSCRIBERS = 0x8000000E;
inline constexpr ModuleStatus MODULE_STATUS_UNKNOWN_EXCEPTION = 0x8000000F;
inline constexpr ModuleStatus MODULE_STATUS_DUPLICATE_MODULE = 0x80000010;
inline constexpr ModuleStatus MODULE_STATUS_PARTIAL_SUCCESS = 0x80000011;
inline constexpr ModuleStatus MODULE_STATUS_UWP_APP_NOT_INSTALLED = 0x80000012;
inline constexpr ModuleStatus MODULE_STATUS_APP_SERVICE_UNAVAILABLE = 0x80000013;
inline constexpr ModuleStatus MODULE_STATUS_APP_SERVICE_UNAUTHORIZED = 0x80000014;
inline constexpr ModuleStatus MODULE_STATUS_INVALID_STATE = 0x800000FF;

// The symbolic name of a status ("MODULE_STATUS_TIMEOUT"), or "MODULE_STATUS_UNKNOWN"
// for any value not in the table. The pointer refers to static storage.
const wchar_t* ModuleStatusName(ModuleStatus status);

}  // namespace Vornik
