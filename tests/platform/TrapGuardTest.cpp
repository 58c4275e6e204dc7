// TrapGuardTest.cpp - the trap guard contains a stack overflow and other hardware traps.
#include "platform/TrapGuard.h"

#include <gtest/gtest.h>

#include <cstdint>

#include "platform/ThreadStack.h"

#ifndef _WIN32
#include <csignal>
#endif

namespace glimmerpane::platform {
namespace {

// Not a tail call: every level keeps its frame until the overflow.
__attribute__((noinline)) uint32_t Recurse(uint32_t depth) {
    volatile char frame[256];
    frame[0] = static_cast<char>(depth);
    if (depth == 0) return static_cast<uint32_t>(frame[0]);
    return Recurse(depth - 1) + static_cast<uint32_t>(frame[0]);
}

uint32_t Overflow(void*) { return Recurse(UINT32_MAX); }
// An address in the first page, which is never mapped (not null itself: UBSan would stop
// at a store through null before the hardware saw it).
uint32_t WriteToUnmappedMemory(void*) {
    *reinterpret_cast<volatile uint32_t*>(uintptr_t{16}) = 1;
    return 0;
}
uint32_t IllegalInstruction(void*) { __builtin_trap(); }
uint32_t Seven(void*) { return 7; }

// The trap codes: signal numbers on POSIX, exception codes on Windows.
#ifdef _WIN32
constexpr uint32_t kAccessViolation = 0xC0000005u, kIllegalInstruction = 0xC000001Du, kStackOverflow = 0xC00000FDu;
#else
constexpr uint32_t kAccessViolation = SIGSEGV, kIllegalInstruction = SIGILL, kStackOverflow = SIGSEGV;
#endif

TEST(TrapGuardTest, EachHardwareTrapEndsInTheGuardWithItsCodeAndTheThreadGuardsAgain) {
    const struct {
        const char* name;
        GuardedBody body;
        uint32_t code;
    } cases[] = {
        {"access violation", WriteToUnmappedMemory, kAccessViolation},
        {"illegal instruction", IllegalInstruction, kIllegalInstruction},
        {"stack overflow on a small stack", Overflow, kStackOverflow},
#ifndef _WIN32
        {"raised signal", [](void*) -> uint32_t { std::raise(SIGSEGV); return 0; }, SIGSEGV},
#endif
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        for (int round = 0; round < 2; ++round) {  // a fresh thread each round, the process goes on
            bool guarded = true, afterGuarded = false;
            uint32_t trap = 0, result = 0, after = 0, unused = 0;
            ASSERT_TRUE(RunOnThreadWithStack(256 * 1024, [&] {
                guarded = RunTrapGuarded(c.body, nullptr, &result, &trap);
                afterGuarded = RunTrapGuarded(Seven, nullptr, &after, &unused);  // the same thread again
            }));
            EXPECT_FALSE(guarded);
            EXPECT_EQ(trap, c.code);
            EXPECT_TRUE(afterGuarded);
            EXPECT_EQ(after, 7u);
        }
    }
}

TEST(TrapGuardTest, AGuardInsideAGuardTakesTheTrapAndTheOuterOneGoesOn) {
    uint32_t result = 0, trap = 0;
    const bool outer = RunTrapGuarded(
        [](void*) -> uint32_t {
            uint32_t innerResult = 0, innerTrap = 0;
            const bool inner = RunTrapGuarded(WriteToUnmappedMemory, nullptr, &innerResult, &innerTrap);
            return inner ? 1u : innerTrap;
        },
        nullptr, &result, &trap);
    EXPECT_TRUE(outer);
    EXPECT_EQ(result, kAccessViolation);
}

}  // namespace
}  // namespace glimmerpane::platform
