// DescriptorWait.h - a thread's wait for one file descriptor, a deadline, or a wake-up from
// another thread: the loop of a client library that hands out its connection's descriptor
// (the D-Bus transport of the bus library). POSIX only (poll and a non-blocking pipe);
// Windows has no such library and no implementation of this header.
#pragma once

#include <cstdint>
#include <string>

namespace glimmerpane::platform {

class DescriptorWait {
public:
    DescriptorWait() = default;
    ~DescriptorWait();
    DescriptorWait(const DescriptorWait&) = delete;
    DescriptorWait& operator=(const DescriptorWait&) = delete;

    // Makes the wake-up channel; false with *error the reason.
    bool open(std::string* error);

    // Ends the current or the next wait at once. Any thread; does nothing before open.
    void wake();

    // Waits until `descriptor` is ready for `pollEvents` (poll's POLLIN/POLLOUT bits), until
    // `deadlineUs` on the monotonic clock (UINT64_MAX: none), or until wake(). 0 when one of
    // them happened (an interrupted wait counts as woken), otherwise -errno.
    int wait(int descriptor, short pollEvents, uint64_t deadlineUs);

private:
    int pipe_[2] = {-1, -1};
};

}  // namespace glimmerpane::platform
