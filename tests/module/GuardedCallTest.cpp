// Tests of the module boundary guard: thrown objects and hardware traps become
// MODULE_STATUS_UNKNOWN_EXCEPTION; the process keeps running. Trap tests carry "Trap"
// in their names: ThreadSanitizer aborts on SIGSEGV, so its run leaves them out.
#include <gtest/gtest.h>

#include <csignal>
#include <cstdlib>
#include <stdexcept>
#include <thread>

#if !defined(_WIN32)
#include <sys/wait.h>
#endif

#include "module/GuardedCall.h"
#include "module/ModuleException.h"
#include "support/RecordingLogger.h"

namespace Vornik {
namespace {

using gptest::LogCapture;

// Traps go through opaque pointers so that the optimizer cannot remove them, and are
// kept away from UBSan, which would report the null load before the CPU traps.
__attribute__((noinline, no_sanitize("undefined"))) int LoadThrough(volatile int* pointer) { return *pointer; }
__attribute__((noinline, no_sanitize("undefined"))) int Divide(const volatile int* a, const volatile int* b) { return *a / *b; }

TEST(GuardedCall, ReturnsTheBodysStatus) {
    EXPECT_EQ(guardedCall([] { return MODULE_STATUS_SUCCESS; }), MODULE_STATUS_SUCCESS);
    EXPECT_EQ(guardedCall([] { return MODULE_STATUS_TIMEOUT; }), MODULE_STATUS_TIMEOUT);
}

TEST(GuardedCall, AnyThrownObjectBecomesUnknownException) {
    LogCapture capture;
    EXPECT_EQ(guardedCall([]() -> ModuleStatus { throw ModuleException("Invalid message bus handle"); }),
              MODULE_STATUS_UNKNOWN_EXCEPTION);
    EXPECT_EQ(guardedCall([]() -> ModuleStatus { throw std::bad_alloc(); }), MODULE_STATUS_UNKNOWN_EXCEPTION);
    EXPECT_EQ(guardedCall([]() -> ModuleStatus { throw 42; }), MODULE_STATUS_UNKNOWN_EXCEPTION);
    // A ModuleException was logged where it was thrown: only the other two are logged here.
    EXPECT_EQ(capture.records().size(), 2u);
    EXPECT_TRUE(capture.containing(L"Invalid message bus handle").empty());
}

TEST(GuardedCall, NullDereferenceTrapBecomesUnknownException) {
    LogCapture capture;
    volatile int* nowhere = nullptr;
    EXPECT_EQ(guardedCall([&]() -> ModuleStatus { return static_cast<ModuleStatus>(LoadThrough(nowhere)); }),
              MODULE_STATUS_UNKNOWN_EXCEPTION);
    EXPECT_EQ(capture.containing(L"caught at the module boundary").size(), 1u);
    // The guard is reusable after a trap, and the thread's signal mask was restored.
    EXPECT_EQ(guardedCall([&]() -> ModuleStatus { return static_cast<ModuleStatus>(LoadThrough(nowhere)); }),
              MODULE_STATUS_UNKNOWN_EXCEPTION);
    EXPECT_EQ(guardedCall([] { return MODULE_STATUS_SUCCESS; }), MODULE_STATUS_SUCCESS);
}

TEST(GuardedCall, DivisionTrapBecomesUnknownException) {
    volatile int one = 1, zero = 0;
    EXPECT_EQ(guardedCall([&]() -> ModuleStatus { return static_cast<ModuleStatus>(Divide(&one, &zero)); }),
              MODULE_STATUS_UNKNOWN_EXCEPTION);
}

TEST(GuardedCall, NestedGuardsEachCatchTheirOwnTrap) {
    volatile int* nowhere = nullptr;
    ModuleStatus inner = 0;
    const ModuleStatus outer = guardedCall([&]() -> ModuleStatus {
        inner = guardedCall([&]() -> ModuleStatus { return static_cast<ModuleStatus>(LoadThrough(nowhere)); });
        return MODULE_STATUS_PARTIAL_SUCCESS;
    });
    EXPECT_EQ(inner, MODULE_STATUS_UNKNOWN_EXCEPTION);
    EXPECT_EQ(outer, MODULE_STATUS_PARTIAL_SUCCESS);
}

TEST(GuardedCall, TrapOnAnotherThreadIsContainedThere) {
    volatile int* nowhere = nullptr;
    ModuleStatus status = 0;
    std::thread worker([&] {
        status = guardedCall([&]() -> ModuleStatus { return static_cast<ModuleStatus>(LoadThrough(nowhere)); });
    });
    worker.join();
    EXPECT_EQ(status, MODULE_STATUS_UNKNOWN_EXCEPTION);
}

#if !defined(_WIN32)
void MarkAndExit(int) { std::_Exit(42); }

// Killed by the signal, or (under a sanitizer whose handler came first) its report and exit.
bool DiedOfTheTrap(int status) {
    return WIFSIGNALED(status) ? WTERMSIG(status) == SIGFPE : (WIFEXITED(status) && WEXITSTATUS(status) != 0);
}

TEST(GuardedCallDeathTest, TrapOutsideAGuardStillReachesThePreviousHandler) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    // In a fresh process: a handler installed before the guard's first use must still
    // run for traps outside any guard, and the default action must still kill.
    EXPECT_EXIT(
        {
            std::signal(SIGSEGV, MarkAndExit);
            guardedCall([] { return MODULE_STATUS_SUCCESS; });
            std::raise(SIGSEGV);
        },
        ::testing::ExitedWithCode(42), "");
    EXPECT_EXIT(
        {
            guardedCall([] { return MODULE_STATUS_SUCCESS; });
            std::raise(SIGFPE);
        },
        DiedOfTheTrap, "");
}
#endif

}  // namespace
}  // namespace Vornik
