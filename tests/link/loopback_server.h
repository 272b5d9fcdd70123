#pragma once
// A port server played by the test on 127.0.0.1: it accepts connections one at a
// time on a port of its own and hands each to a handler running on its thread.
// Also the byte helpers the handlers use.

#include <netinet/in.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <string>
#include <thread>

class LoopbackServer {
public:
    // Given the connected socket and the server's wake descriptor (readable when the
    // test ends); the connection is closed when the handler returns.
    using Handler = std::function<void(int fd, int wake)>;

    explicit LoopbackServer(Handler handler) : handler_(std::move(handler)) {
        listen_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t length = sizeof a;
        if (::bind(listen_, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0 ||
            ::listen(listen_, 4) != 0 ||
            ::getsockname(listen_, reinterpret_cast<sockaddr*>(&a), &length) != 0) {
            return;
        }
        port_ = ntohs(a.sin_port);
        wake_ = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
        thread_ = std::thread([this] { Loop(); });
    }
    ~LoopbackServer() {
        if (thread_.joinable()) {
            const std::uint64_t one = 1;
            [[maybe_unused]] const ssize_t n = ::write(wake_, &one, sizeof one);
            thread_.join();
        }
        ::close(listen_);
        if (wake_ >= 0) ::close(wake_);
    }
    LoopbackServer(const LoopbackServer&) = delete;
    LoopbackServer& operator=(const LoopbackServer&) = delete;

    [[nodiscard]] int Port() const { return port_; }
    [[nodiscard]] std::string Url(const char* scheme) const {
        return std::string(scheme) + "://127.0.0.1:" + std::to_string(port_);
    }
    [[nodiscard]] int Accepted() const { return accepted_; }

private:
    void Loop() {
        for (;;) {
            pollfd fds[2] = {{listen_, POLLIN, 0}, {wake_, POLLIN, 0}};
            if (::poll(fds, 2, -1) < 0) continue;
            if (fds[1].revents & POLLIN) return;
            const int fd = ::accept4(listen_, nullptr, nullptr, SOCK_CLOEXEC);
            if (fd < 0) continue;
            ++accepted_;
            handler_(fd, wake_);
            ::close(fd);
        }
    }

    Handler handler_;
    int listen_ = -1;
    int wake_ = -1;
    int port_ = 0;
    std::atomic<int> accepted_{0};
    std::thread thread_;
};

// Reads from `fd` until `bytes` has come (true, with everything read in `seen`), the
// time runs out or the test ends (false).
inline bool ReadUntil(int fd, int wake, const std::string& bytes, std::string& seen,
                      std::chrono::milliseconds timeout = std::chrono::seconds(10)) {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    while (seen.find(bytes) == std::string::npos) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                              deadline - std::chrono::steady_clock::now())
                              .count();
        if (left <= 0) return false;
        pollfd fds[2] = {{fd, POLLIN, 0}, {wake, POLLIN, 0}};
        if (::poll(fds, 2, static_cast<int>(left)) <= 0) continue;
        if (fds[1].revents & POLLIN) return false;
        char b[256];
        const ssize_t n = ::read(fd, b, sizeof b);
        if (n <= 0) return false;
        seen.append(b, static_cast<std::size_t>(n));
    }
    return true;
}

inline void SendAll(int fd, const std::string& bytes) {
    [[maybe_unused]] const ssize_t n = ::send(fd, bytes.data(), bytes.size(), MSG_NOSIGNAL);
}

// Waits until the test ends (a server that accepts and never answers).
inline void Idle(int wake) {
    pollfd p{wake, POLLIN, 0};
    while (::poll(&p, 1, -1) <= 0) {
    }
}
