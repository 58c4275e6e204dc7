// TrapGuard.cpp (POSIX side) - the trap guard over synchronous fault signals.
#include "platform/TrapGuard.h"

#include <atomic>
#include <csetjmp>
#include <csignal>
#include <mutex>

namespace glimmerpane::platform {

namespace {

constexpr int kGuardedSignals[] = {SIGSEGV, SIGBUS, SIGFPE, SIGILL};

// initial-exec keeps the access async-signal-safe: a dlopen'ed library's TLS would
// otherwise be allocated lazily by __tls_get_addr, which may call malloc.
__attribute__((tls_model("initial-exec"))) thread_local sigjmp_buf* t_currentGuard = nullptr;

struct sigaction g_previousActions[NSIG];
std::once_flag g_installOnce;

void ChainToPrevious(int signal, siginfo_t* info, void* ucontext) {
    const struct sigaction& previous = g_previousActions[signal];
    if ((previous.sa_flags & SA_SIGINFO) != 0 && previous.sa_sigaction != nullptr) {
        previous.sa_sigaction(signal, info, ucontext);
        return;
    }
    if (previous.sa_handler != SIG_DFL && previous.sa_handler != SIG_IGN && previous.sa_handler != nullptr) {
        previous.sa_handler(signal);
        return;
    }
    // Default action. A synchronous fault cannot be ignored meaningfully (the faulting
    // instruction would run again forever), so SIG_IGN is treated like SIG_DFL. The
    // re-raised signal stays blocked until this handler returns, then terminates.
    std::signal(signal, SIG_DFL);
    std::raise(signal);
}

void OnTrapSignal(int signal, siginfo_t* info, void* ucontext) {
    if (sigjmp_buf* guard = t_currentGuard) siglongjmp(*guard, signal);
    ChainToPrevious(signal, info, ucontext);
}

void InstallHandlers() {
    for (int signal : kGuardedSignals) {
        struct sigaction action = {};
        action.sa_sigaction = OnTrapSignal;
        action.sa_flags = SA_SIGINFO | SA_ONSTACK;
        sigemptyset(&action.sa_mask);
        sigaction(signal, &action, &g_previousActions[signal]);
    }
}

}  // namespace

bool RunTrapGuarded(GuardedBody body, void* context, uint32_t* result, uint32_t* trapCode) {
    std::call_once(g_installOnce, InstallHandlers);

    sigjmp_buf guard;
    sigjmp_buf* const outer = t_currentGuard;
    // sigsetjmp with savemask = 1 restores the signal mask on the jump back, so the
    // trapping signal is not left blocked on this thread.
    if (const int signal = sigsetjmp(guard, 1); signal != 0) {
        t_currentGuard = outer;
        std::atomic_signal_fence(std::memory_order_seq_cst);
        *trapCode = static_cast<uint32_t>(signal);
        return false;
    }
    t_currentGuard = &guard;
    // Without the fence the optimizer may sink the store past a faulting load in the
    // body, and the handler would find no guard.
    std::atomic_signal_fence(std::memory_order_seq_cst);
    *result = body(context);
    std::atomic_signal_fence(std::memory_order_seq_cst);
    t_currentGuard = outer;
    return true;
}

}  // namespace glimmerpane::platform
