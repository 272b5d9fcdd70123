#pragma once
// One TCP connection to a port server: the socket calls the network device needs,
// with POSIX sockets on Linux and Winsock on Windows (net_socket_posix.cpp,
// net_socket_win32.cpp; CMake builds one of the two).
//
// Thread rules: a TcpSocket belongs to the thread that uses it (the engine's
// worker). Every wait also waits for the stop signal given to Connect, which
// outlives the socket.
//
// The socket only connects; nothing in this program listens. It is non-blocking
// with TCP_NODELAY, so that a one-byte command leaves at once.

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

class StopSignal;

class TcpSocket {
public:
    using Clock = std::chrono::steady_clock;

    // How a send or receive went: `count` bytes moved; `error` the system's code when
    // the connection failed (0 when the call would only have blocked); `closed` when
    // the server ended the connection (a receive of nothing).
    struct Io {
        std::size_t count = 0;
        int error = 0;
        bool closed = false;
    };
    enum class Wait { Ready, TimedOut, Stopped, Failed };

    struct Connected {
        std::unique_ptr<TcpSocket> socket;  // set on success
        int error = 0;                      // kNetRefused, kNetHostNotFound, ... (net_port.h)
    };

    // Resolves `host` and connects to `port` at its addresses in turn, within
    // `bound` in all; EINTR (ERROR_OPERATION_ABORTED) on a stop request. A name
    // lookup that outlasts the bound or a stop is left to finish on its own.
    [[nodiscard]] static Connected Connect(const std::string& host, int port,
                                           std::chrono::milliseconds bound, const StopSignal& stop);

    ~TcpSocket();
    TcpSocket(const TcpSocket&) = delete;
    TcpSocket& operator=(const TcpSocket&) = delete;

    [[nodiscard]] Io Send(const char* data, std::size_t size);
    [[nodiscard]] Io Receive(char* buffer, std::size_t size);
    // Until the socket is readable (or writable with `write`), the deadline passes
    // or a stop is requested. Ready may be spurious: the next call tells.
    [[nodiscard]] Wait WaitUntil(bool write, Clock::time_point deadline);
    // The code of the last Failed wait.
    [[nodiscard]] int WaitError() const { return waitError_; }

private:
    TcpSocket(std::intptr_t handle, void* event, const StopSignal& stop)
        : handle_(handle), event_(event), stop_(stop) {}

    std::intptr_t handle_;  // the descriptor, or the SOCKET
    void* event_;           // Windows: the socket's network event; else unused
    const StopSignal& stop_;
    int waitError_ = 0;
};

// Shared by both platforms' Connect: the host's addresses (the platform's
// sockaddr structures, each as raw bytes), or the lookup's error code.
struct ResolvedAddresses {
    std::vector<std::string> addresses;
    int error = 0;
};

// Runs `lookup` on a thread of its own, so that a stop request or the deadline
// ends the wait even when the name service does not answer; false then (the
// lookup finishes unseen). True with `result` once the lookup is done.
[[nodiscard]] bool AwaitLookup(std::function<ResolvedAddresses()> lookup,
                               TcpSocket::Clock::time_point deadline, const StopSignal& stop,
                               ResolvedAddresses& result);
