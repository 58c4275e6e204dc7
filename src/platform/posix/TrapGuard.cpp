// TrapGuard.cpp (POSIX side) - the trap guard over synchronous fault signals.
#include "platform/TrapGuard.h"

#include <sys/mman.h>
#include <unistd.h>

#include <algorithm>
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

// The handler runs on a stack of its own: on the faulting stack a stack overflow could not
// run it, and the kernel would kill the process. One per thread, made when the thread first
// enters a guard, given back when the thread ends.
class AlternateSignalStack {
public:
    AlternateSignalStack() {
        stack_t current = {};
        if (sigaltstack(nullptr, &current) == 0 && (current.ss_flags & SS_DISABLE) == 0 &&
            current.ss_size >= kMinimumSize) {
            return;  // the thread has a large enough one already (a sanitizer's, say)
        }
        const long page = sysconf(_SC_PAGESIZE);
        pageSize_ = page > 0 ? static_cast<size_t>(page) : 4096;
        const long wanted = sysconf(_SC_SIGSTKSZ);
        size_t size = std::max(kMinimumSize, wanted > 0 ? static_cast<size_t>(wanted) : size_t{0});
        size = (size + pageSize_ - 1) / pageSize_ * pageSize_;
        // One guard page below, so that a handler running out of room faults instead of
        // writing over whatever lies there.
        void* mapping = mmap(nullptr, size + pageSize_, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
        if (mapping == MAP_FAILED) return;
        mprotect(mapping, pageSize_, PROT_NONE);
        stack_t ours = {};
        ours.ss_sp = static_cast<char*>(mapping) + pageSize_;
        ours.ss_size = size;
        if (sigaltstack(&ours, &previous_) != 0) {
            munmap(mapping, size + pageSize_);
            return;
        }
        mapping_ = mapping;
        mappingSize_ = size + pageSize_;
    }
    ~AlternateSignalStack() {
        if (mapping_ == nullptr) return;
        // The previous state comes back before the memory goes, so no signal can land on it.
        if ((previous_.ss_flags & SS_DISABLE) != 0 || previous_.ss_sp == nullptr) {
            stack_t off = {};
            off.ss_flags = SS_DISABLE;
            sigaltstack(&off, nullptr);
        } else {
            previous_.ss_flags = 0;
            sigaltstack(&previous_, nullptr);
        }
        munmap(mapping_, mappingSize_);
    }
    AlternateSignalStack(const AlternateSignalStack&) = delete;
    AlternateSignalStack& operator=(const AlternateSignalStack&) = delete;

private:
    // Enough for our handler and a previous one it chains to (a sanitizer's report).
    static constexpr size_t kMinimumSize = 64 * 1024;
    stack_t previous_ = {};
    void* mapping_ = nullptr;
    size_t mappingSize_ = 0;
    size_t pageSize_ = 0;
};

void EnsureAlternateSignalStack() {
    thread_local AlternateSignalStack stack;
    (void)stack;
}

}  // namespace

bool RunTrapGuarded(GuardedBody body, void* context, uint32_t* result, uint32_t* trapCode) {
    std::call_once(g_installOnce, InstallHandlers);
    EnsureAlternateSignalStack();

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
