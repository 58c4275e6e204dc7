// TrapGuardTest.cpp - the trap guard contains a stack overflow and other hardware traps.
#include "platform/TrapGuard.h"

#include <gtest/gtest.h>

#ifndef _WIN32

#include <csignal>
#include <cstdint>

#include "platform/ThreadStack.h"

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
uint32_t Seven(void*) { return 7; }

TEST(TrapGuardTest, AStackOverflowOnASmallStackEndsInTheGuardAndTheProcessGoesOn) {
    for (int thread = 0; thread < 2; ++thread) {
        SCOPED_TRACE(thread);
        bool guarded = true;
        uint32_t trap = 0, result = 0, after = 0, unused = 0;
        bool afterGuarded = false;
        ASSERT_TRUE(RunOnThreadWithStack(256 * 1024, [&] {
            guarded = RunTrapGuarded(Overflow, nullptr, &result, &trap);
            // The same thread guards again after the overflow.
            afterGuarded = RunTrapGuarded(Seven, nullptr, &after, &unused);
        }));
        EXPECT_FALSE(guarded);
        EXPECT_EQ(trap, static_cast<uint32_t>(SIGSEGV));
        EXPECT_TRUE(afterGuarded);
        EXPECT_EQ(after, 7u);
    }
    uint32_t trap = 0;
    uint32_t result = 0;
    EXPECT_FALSE(RunTrapGuarded([](void*) -> uint32_t { std::raise(SIGSEGV); return 0; }, nullptr, &result, &trap));
    EXPECT_EQ(trap, static_cast<uint32_t>(SIGSEGV));
}

}  // namespace
}  // namespace glimmerpane::platform

#else  // Windows: structured exceptions, with their exception codes

#include <cstdint>

#include "platform/ThreadStack.h"

namespace glimmerpane::platform {
namespace {

__attribute__((noinline)) uint32_t Recurse(uint32_t depth) {
    volatile char frame[256];
    frame[0] = static_cast<char>(depth);
    if (depth == 0) return static_cast<uint32_t>(frame[0]);
    return Recurse(depth - 1) + static_cast<uint32_t>(frame[0]);
}

uint32_t Overflow(void*) { return Recurse(UINT32_MAX); }
uint32_t WriteThroughNull(void*) {
    *static_cast<volatile uint32_t*>(nullptr) = 1;
    return 0;
}
uint32_t IllegalInstruction(void*) { __builtin_trap(); }
uint32_t Seven(void*) { return 7; }

struct TrapCase {
    const char* name;
    GuardedBody body;
    uint32_t code;
};

TEST(TrapGuardTest, EachHardwareTrapEndsInTheGuardWithItsCodeAndTheThreadGuardsAgain) {
    const TrapCase cases[] = {
        {"access violation", WriteThroughNull, 0xC0000005u},
        {"illegal instruction", IllegalInstruction, 0xC000001Du},
        {"stack overflow", Overflow, 0xC00000FDu},
    };
    for (const TrapCase& c : cases) {
        SCOPED_TRACE(c.name);
        for (int round = 0; round < 2; ++round) {
            bool guarded = true, afterGuarded = false;
            uint32_t trap = 0, result = 0, after = 0, unused = 0;
            ASSERT_TRUE(RunOnThreadWithStack(256 * 1024, [&] {
                guarded = RunTrapGuarded(c.body, nullptr, &result, &trap);
                afterGuarded = RunTrapGuarded(Seven, nullptr, &after, &unused);
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
            const bool inner = RunTrapGuarded(WriteThroughNull, nullptr, &innerResult, &innerTrap);
            return inner ? 1u : innerTrap;
        },
        nullptr, &result, &trap);
    EXPECT_TRUE(outer);
    EXPECT_EQ(result, 0xC0000005u);
}

}  // namespace
}  // namespace glimmerpane::platform
#endif
