// DescriptorWait.cpp (POSIX side) - poll on the descriptor and a self-pipe.
#include "platform/DescriptorWait.h"

#include <fcntl.h>
#include <poll.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace glimmerpane::platform {

DescriptorWait::~DescriptorWait() {
    for (int& end : pipe_) {
        if (end >= 0) ::close(end);
        end = -1;
    }
}

bool DescriptorWait::open(std::string* error) {
    if (::pipe2(pipe_, O_CLOEXEC | O_NONBLOCK) == 0) return true;
    *error = std::string("no wake-up pipe: ") + std::strerror(errno);
    return false;
}

void DescriptorWait::wake() {
    if (pipe_[1] < 0) return;
    const char byte = 0;
    [[maybe_unused]] ssize_t n = ::write(pipe_[1], &byte, 1);  // a full pipe wakes as well
}

int DescriptorWait::wait(int descriptor, short pollEvents, uint64_t deadlineUs) {
    pollfd fds[2] = {{descriptor, pollEvents, 0}, {pipe_[0], POLLIN, 0}};
    int timeout = -1;
    if (deadlineUs != UINT64_MAX) {
        timespec now{};
        clock_gettime(CLOCK_MONOTONIC, &now);
        const uint64_t nowUs = uint64_t(now.tv_sec) * 1000000u + uint64_t(now.tv_nsec) / 1000u;
        timeout = deadlineUs <= nowUs ? 0 : static_cast<int>((deadlineUs - nowUs + 999) / 1000);
    }
    if (::poll(fds, 2, timeout) < 0 && errno != EINTR) return -errno;
    if (fds[1].revents & POLLIN) {
        char drain[64];
        while (::read(pipe_[0], drain, sizeof drain) > 0) {
        }
    }
    return 0;
}

}  // namespace glimmerpane::platform
