// Winsock: each socket has a network event (WSAEventSelect) that the waits wait
// for along with the stop signal's event, so a stop ends them at once.

// winsock2.h before windows.h, which would otherwise bring the old winsock.h.
#include <winsock2.h>
#include <ws2tcpip.h>

#include <windows.h>

#include <mutex>

#include "engine/net_port.h"
#include "engine/net_socket.h"
#include "engine/stop_signal.h"

namespace {

constexpr int kStoppedError = ERROR_OPERATION_ABORTED;

// Winsock is started once for the process and never stopped: the sockets may live
// until the process ends.
int StartWinsock() {
    static int error = [] {
        WSADATA data;
        return ::WSAStartup(MAKEWORD(2, 2), &data);
    }();
    return error;
}

ResolvedAddresses Lookup(const std::string& host, int port) {
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    hints.ai_flags = AI_NUMERICSERV;
    addrinfo* found = nullptr;
    ResolvedAddresses result;
    const int rc = ::getaddrinfo(host.c_str(), std::to_string(port).c_str(), &hints, &found);
    if (rc != 0) {
        // Winsock's own codes: WSAHOST_NOT_FOUND, WSATRY_AGAIN, WSANO_DATA, ...
        result.error = rc == WSATRY_AGAIN ? kNetNameService : kNetHostNotFound;
        return result;
    }
    for (const addrinfo* a = found; a != nullptr; a = a->ai_next) {
        result.addresses.emplace_back(reinterpret_cast<const char*>(a->ai_addr),
                                      static_cast<std::size_t>(a->ai_addrlen));
    }
    ::freeaddrinfo(found);
    if (result.addresses.empty()) result.error = kNetHostNotFound;
    return result;
}

// Waits for the socket's event or the stop event; the network events that came are
// taken (and the socket's event reset) with WSAEnumNetworkEvents.
TcpSocket::Wait WaitForEvents(SOCKET s, HANDLE event, HANDLE stop,
                              TcpSocket::Clock::time_point deadline, WSANETWORKEVENTS& events,
                              int& error) {
    const auto left =
        std::chrono::ceil<std::chrono::milliseconds>(deadline - TcpSocket::Clock::now()).count();
    if (left <= 0) return TcpSocket::Wait::TimedOut;
    const HANDLE waits[2] = {event, stop};
    const DWORD woke =
        ::WaitForMultipleObjects(stop != nullptr ? 2 : 1, waits, FALSE, static_cast<DWORD>(left));
    if (woke == WAIT_TIMEOUT) return TcpSocket::Wait::TimedOut;
    if (woke == WAIT_OBJECT_0 + 1) return TcpSocket::Wait::Stopped;
    if (woke != WAIT_OBJECT_0) {
        error = static_cast<int>(::GetLastError());
        return TcpSocket::Wait::Failed;
    }
    if (::WSAEnumNetworkEvents(s, event, &events) != 0) {
        error = ::WSAGetLastError();
        return TcpSocket::Wait::Failed;
    }
    return TcpSocket::Wait::Ready;
}

}  // namespace

TcpSocket::Connected TcpSocket::Connect(const std::string& host, int port,
                                        std::chrono::milliseconds bound, const StopSignal& stop) {
    if (const int error = StartWinsock(); error != 0) return {nullptr, error};
    const auto deadline = Clock::now() + bound;
    ResolvedAddresses resolved;
    if (!AwaitLookup([host, port] { return Lookup(host, port); }, deadline, stop, resolved)) {
        return {nullptr, stop.IsRequested() ? kStoppedError : kNetTimedOut};
    }
    if (resolved.error != 0) return {nullptr, resolved.error};

    const HANDLE stopEvent = static_cast<HANDLE>(stop.Handle());
    int error = kNetTimedOut;
    for (const std::string& address : resolved.addresses) {
        const auto* sa = reinterpret_cast<const sockaddr*>(address.data());
        const SOCKET s = ::WSASocketW(sa->sa_family, SOCK_STREAM, IPPROTO_TCP, nullptr, 0,
                                      WSA_FLAG_OVERLAPPED | WSA_FLAG_NO_HANDLE_INHERIT);
        if (s == INVALID_SOCKET) {
            error = ::WSAGetLastError();
            continue;
        }
        const WSAEVENT event = ::WSACreateEvent();
        const BOOL one = TRUE;
        ::setsockopt(s, IPPROTO_TCP, TCP_NODELAY, reinterpret_cast<const char*>(&one), sizeof one);
        // Also makes the socket non-blocking.
        if (event == WSA_INVALID_EVENT ||
            ::WSAEventSelect(s, event, FD_CONNECT | FD_READ | FD_WRITE | FD_CLOSE) != 0) {
            error = ::WSAGetLastError();
            if (event != WSA_INVALID_EVENT) ::WSACloseEvent(event);
            ::closesocket(s);
            continue;
        }
        int result = 0;
        if (::connect(s, sa, static_cast<int>(address.size())) != 0) {
            result = ::WSAGetLastError();
            while (result == WSAEWOULDBLOCK) {
                WSANETWORKEVENTS events{};
                int waitError = 0;
                const Wait w = WaitForEvents(s, event, stopEvent, deadline, events, waitError);
                if (w == Wait::TimedOut || w == Wait::Stopped) {
                    ::WSACloseEvent(event);
                    ::closesocket(s);
                    return {nullptr, w == Wait::Stopped ? kStoppedError : kNetTimedOut};
                }
                if (w == Wait::Failed) {
                    result = waitError;
                } else if (events.lNetworkEvents & FD_CONNECT) {
                    result = events.iErrorCode[FD_CONNECT_BIT];
                }
            }
        }
        if (result == 0) {
            return {std::unique_ptr<TcpSocket>(
                        new TcpSocket(static_cast<std::intptr_t>(s), event, stop)),
                    0};
        }
        error = result;
        ::WSACloseEvent(event);
        ::closesocket(s);
    }
    return {nullptr, error};
}

TcpSocket::~TcpSocket() {
    ::closesocket(static_cast<SOCKET>(handle_));
    ::WSACloseEvent(static_cast<WSAEVENT>(event_));
}

TcpSocket::Io TcpSocket::Send(const char* data, std::size_t size) {
    Io io;
    const int n = ::send(static_cast<SOCKET>(handle_), data, static_cast<int>(size), 0);
    if (n >= 0) {
        io.count = static_cast<std::size_t>(n);
    } else if (const int error = ::WSAGetLastError(); error != WSAEWOULDBLOCK) {
        io.error = error;
    }
    return io;
}

TcpSocket::Io TcpSocket::Receive(char* buffer, std::size_t size) {
    Io io;
    const int n = ::recv(static_cast<SOCKET>(handle_), buffer, static_cast<int>(size), 0);
    if (n > 0) {
        io.count = static_cast<std::size_t>(n);
    } else if (n == 0) {
        io.closed = true;
    } else if (const int error = ::WSAGetLastError(); error != WSAEWOULDBLOCK) {
        io.error = error;
    }
    return io;
}

TcpSocket::Wait TcpSocket::WaitUntil(bool write, Clock::time_point deadline) {
    // The callers try the call first and wait only after it would block, which is
    // what re-arms FD_READ and FD_WRITE; a wake-up for the other direction, or for
    // FD_CLOSE, returns Ready and the next call tells.
    (void)write;
    WSANETWORKEVENTS events{};
    return WaitForEvents(static_cast<SOCKET>(handle_), static_cast<HANDLE>(event_),
                         static_cast<HANDLE>(stop_.Handle()), deadline, events, waitError_);
}
