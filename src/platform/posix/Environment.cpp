// Environment.cpp (POSIX side) - getenv/setenv/unsetenv and a sigaction-based interrupt flag.
#include "platform/Environment.h"

#include <pthread.h>
#include <signal.h>

#include <atomic>
#include <cstdlib>

namespace glimmerpane::platform {

namespace {
std::atomic<bool> g_interrupted{false};
std::atomic<bool> g_installed{false};
pthread_t g_waitingThread;

// The kernel hands a process signal to any thread that does not block it, often a bus
// thread. Pass it on to the installing thread, so that its blocking read is interrupted.
extern "C" void OnInterruptSignal(int signal) {
    const bool first = !g_interrupted.exchange(true);
    if (first && !pthread_equal(pthread_self(), g_waitingThread)) pthread_kill(g_waitingThread, signal);
}
}  // namespace

std::optional<std::string> GetEnvironmentValue(const std::string& name) {
    const char* value = std::getenv(name.c_str());
    if (value == nullptr) return std::nullopt;
    return std::string(value);
}

bool SetEnvironmentValue(const std::string& name, const std::optional<std::string>& value) {
    if (value) return setenv(name.c_str(), value->c_str(), 1) == 0;
    return unsetenv(name.c_str()) == 0;
}

void InstallInterruptFlag() {
    if (g_installed.exchange(true)) return;
    g_waitingThread = pthread_self();
    struct sigaction action = {};
    action.sa_handler = OnInterruptSignal;
    sigemptyset(&action.sa_mask);
    // No SA_RESTART: a read blocked on standard input must come back so the loop sees the flag.
    action.sa_flags = 0;
    sigaction(SIGINT, &action, nullptr);
    sigaction(SIGTERM, &action, nullptr);
    // A reader that goes away (`| head`) must not kill the process before it has cleaned up:
    // writes to the closed pipe fail with EPIPE instead, and the loop sees that.
    signal(SIGPIPE, SIG_IGN);
}

bool InterruptRequested() { return g_interrupted.load(); }

void RequestInterrupt() { g_interrupted.store(true); }

}  // namespace glimmerpane::platform
