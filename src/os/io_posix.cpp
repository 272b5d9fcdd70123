// The POSIX side of io.h: waiting with poll(), signals through a signalfd.
#include "os/io.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/signalfd.h>
#include <unistd.h>

#include <cerrno>

#include "os/deadline.h"

UniqueFd OpenForReading(const std::string& path) {
    return UniqueFd(::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY));
}

long ReadSome(int fd, void* buffer, std::size_t size) {
    for (;;) {
        const ssize_t n = ::read(fd, buffer, size);
        if (n >= 0) return static_cast<long>(n);
        if (errno == EINTR) continue;
        if (errno != EAGAIN && errno != EWOULDBLOCK) return -1;
        // A writer is there but has sent nothing yet: wait for data or its close.
        pollfd p{fd, POLLIN, 0};
        if (::poll(&p, 1, -1) < 0 && errno != EINTR) return -1;
    }
}

TerminationSignals::TerminationSignals() {
    sigset_t signals;
    sigemptyset(&signals);
    sigaddset(&signals, SIGINT);
    sigaddset(&signals, SIGTERM);
    sigaddset(&signals, SIGHUP);
    if (::pthread_sigmask(SIG_BLOCK, &signals, nullptr) != 0) return;
    fd_.reset(::signalfd(-1, &signals, SFD_CLOEXEC | SFD_NONBLOCK));
}

bool TerminationSignals::Wait(std::chrono::milliseconds timeout) {
    if (!fd_) return false;
    pollfd p{fd_.get(), POLLIN, 0};
    // An interruption waits only what is left of `timeout`.
    const Deadline deadline = Deadline::In(timeout);
    int r;
    do {
        r = ::poll(&p, 1, deadline.LeftMs());
    } while (r < 0 && errno == EINTR);
    if (r <= 0) return false;
    signalfd_siginfo info{};
    return ::read(fd_.get(), &info, sizeof info) == static_cast<ssize_t>(sizeof info);
}
