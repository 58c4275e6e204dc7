// Tests of the status-name table.
#include <gtest/gtest.h>

#include <string>

#include "module/ModuleException.h"
#include "module/ModuleStatus.h"

namespace Vornik {
namespace {

TEST(ModuleStatusName, KnownCodesHaveTheirNames) {
    const struct { ModuleStatus status; const wchar_t* name; } cases[] = {
        {0x00000000, L"MODULE_STATUS_SUCCESS"},
        {0x80000001, L"MODULE_STATUS_NOT_SUPPORTED"},
        {0x80000008, L"MODULE_STATUS_INVALID_PARAMETER"},
        {0x8000000D, L"MODULE_STATUS_TIMEOUT"},
        {0x8000000F, L"MODULE_STATUS_UNKNOWN_EXCEPTION"},
        {0x80000014, L"MODULE_STATUS_APP_SERVICE_UNAUTHORIZED"},
        {0x800000FF, L"MODULE_STATUS_INVALID_STATE"},
    };
    for (const auto& c : cases) EXPECT_EQ(std::wstring(ModuleStatusName(c.status)), c.name) << std::hex << c.status;
}

TEST(ModuleStatusName, EveryAssignedCodeBetweenOneAndTwentyHasAName) {
    for (ModuleStatus s = 0x80000001; s <= 0x80000014; ++s)
        EXPECT_NE(std::wstring(ModuleStatusName(s)), L"MODULE_STATUS_UNKNOWN") << std::hex << s;
}

TEST(ModuleStatusName, UnassignedCodesAreUnknown) {
    for (ModuleStatus s : {0x80000015u, 0x800000FEu, 0x80000100u, 0x00000001u, 0x7FFFFFFFu, 0xFFFFFFFFu})
        EXPECT_EQ(std::wstring(ModuleStatusName(s)), L"MODULE_STATUS_UNKNOWN") << std::hex << s;
}

TEST(ModuleException, CarriesItsTextAndIsARuntimeError) {
    try {
        throw ModuleException("Invalid message bus handle");
    } catch (const std::runtime_error& e) {
        EXPECT_STREQ(e.what(), "Invalid message bus handle");
    }
}

}  // namespace
}  // namespace Vornik
