#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "engine/net_port.h"
#include "engine/net_socket.h"
#include "engine/stop_signal.h"
#include "os/deadline.h"

namespace {

ResolvedAddresses Lookup(const std::string& host, int port) {
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    hints.ai_flags = AI_NUMERICSERV;
    addrinfo* found = nullptr;
    ResolvedAddresses result;
    const int rc = ::getaddrinfo(host.c_str(), std::to_string(port).c_str(), &hints, &found);
    if (rc != 0) {
        result.error = rc == EAI_AGAIN    ? kNetNameService
                       : rc == EAI_SYSTEM ? errno
                                          : kNetHostNotFound;
        return result;
    }
    for (const addrinfo* a = found; a != nullptr; a = a->ai_next) {
        result.addresses.emplace_back(reinterpret_cast<const char*>(a->ai_addr), a->ai_addrlen);
    }
    ::freeaddrinfo(found);
    if (result.addresses.empty()) result.error = kNetHostNotFound;
    return result;
}

// Waits until `fd` is ready for `events` or the stop fd is readable.
TcpSocket::Wait PollUntil(int fd, short events, int stopFd, TcpSocket::Clock::time_point at,
                          int& error) {
    const Deadline deadline(at);
    for (;;) {
        const int left = deadline.LeftMs();
        if (left == 0) return TcpSocket::Wait::TimedOut;
        pollfd fds[2] = {{fd, events, 0}, {stopFd, POLLIN, 0}};
        const int r = ::poll(fds, stopFd >= 0 ? 2 : 1, left);
        if (r < 0) {
            if (errno == EINTR) continue;
            error = errno;
            return TcpSocket::Wait::Failed;
        }
        if (r == 0) continue;
        if (stopFd >= 0 && (fds[1].revents & POLLIN)) return TcpSocket::Wait::Stopped;
        // An error or hang-up shows itself in the next send or receive.
        if (fds[0].revents != 0) return TcpSocket::Wait::Ready;
    }
}

}  // namespace

TcpSocket::Connected TcpSocket::Connect(const std::string& host, int port,
                                        std::chrono::milliseconds bound, const StopSignal& stop) {
    const auto deadline = Clock::now() + bound;
    ResolvedAddresses resolved;
    if (!AwaitLookup([host, port] { return Lookup(host, port); }, deadline, stop, resolved)) {
        return {nullptr, stop.IsRequested() ? EINTR : kNetTimedOut};
    }
    if (resolved.error != 0) return {nullptr, resolved.error};

    int error = kNetTimedOut;
    for (const std::string& address : resolved.addresses) {
        const auto* sa = reinterpret_cast<const sockaddr*>(address.data());
        const int fd = ::socket(sa->sa_family, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
        if (fd < 0) {
            error = errno;
            continue;
        }
        const int one = 1;
        ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
        int rc = ::connect(fd, sa, static_cast<socklen_t>(address.size()));
        if (rc != 0 && errno == EINPROGRESS) {
            int waitError = 0;
            switch (PollUntil(fd, POLLOUT, stop.Fd(), deadline, waitError)) {
                case Wait::Ready: {
                    socklen_t length = sizeof waitError;
                    ::getsockopt(fd, SOL_SOCKET, SO_ERROR, &waitError, &length);
                    rc = waitError == 0 ? 0 : -1;
                    errno = waitError;
                    break;
                }
                case Wait::TimedOut:
                    ::close(fd);
                    return {nullptr, kNetTimedOut};
                case Wait::Stopped:
                    ::close(fd);
                    return {nullptr, EINTR};
                case Wait::Failed:
                    errno = waitError;
                    break;
            }
        }
        if (rc == 0) {
            return {std::unique_ptr<TcpSocket>(new TcpSocket(fd, nullptr, stop)), 0};
        }
        error = errno;
        ::close(fd);
    }
    return {nullptr, error};
}

TcpSocket::~TcpSocket() {
    ::close(static_cast<int>(handle_));
}

TcpSocket::Io TcpSocket::Send(const char* data, std::size_t size) {
    Io io;
    for (;;) {
        // MSG_NOSIGNAL: a closed connection is an error to report, not SIGPIPE.
        const ssize_t n = ::send(static_cast<int>(handle_), data, size, MSG_NOSIGNAL);
        if (n >= 0) {
            io.count = static_cast<std::size_t>(n);
        } else if (errno == EINTR) {
            continue;
        } else if (errno != EAGAIN && errno != EWOULDBLOCK) {
            io.error = errno;
        }
        return io;
    }
}

TcpSocket::Io TcpSocket::Receive(char* buffer, std::size_t size) {
    Io io;
    for (;;) {
        const ssize_t n = ::recv(static_cast<int>(handle_), buffer, size, 0);
        if (n > 0) {
            io.count = static_cast<std::size_t>(n);
        } else if (n == 0) {
            io.closed = true;
        } else if (errno == EINTR) {
            continue;
        } else if (errno != EAGAIN && errno != EWOULDBLOCK) {
            io.error = errno;
        }
        return io;
    }
}

TcpSocket::Wait TcpSocket::WaitUntil(bool write, Clock::time_point deadline) {
    return PollUntil(static_cast<int>(handle_), write ? POLLOUT : POLLIN, stop_.Fd(), deadline,
                     waitError_);
}
