#include "engine/stop_signal.h"

#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstdlib>

StopSignal::StopSignal() : fd_(::eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC)) {
    // Without the descriptor no wait could ever be interrupted; nothing sensible
    // can run on a machine that cannot create one.
    if (fd_ < 0) std::abort();
}

StopSignal::~StopSignal() {
    ::close(fd_);
}

void StopSignal::Request() {
    const std::uint64_t one = 1;
    // A full counter (impossible in practice) still leaves the descriptor readable.
    [[maybe_unused]] const ssize_t n = ::write(fd_, &one, sizeof one);
}

void StopSignal::Reset() {
    std::uint64_t value = 0;
    while (::read(fd_, &value, sizeof value) > 0) {
    }
}

bool StopSignal::IsRequested() const {
    pollfd p{fd_, POLLIN, 0};
    return ::poll(&p, 1, 0) > 0;
}

StopSignal::Wake StopSignal::WaitUpTo(long long ms) const {
    pollfd p{fd_, POLLIN, 0};
    const int r = ::poll(&p, 1, static_cast<int>(ms));
    if (r > 0) return Wake::Signalled;
    if (r < 0 && errno != EINTR) return Wake::Failed;
    return Wake::TimedOut;
}
