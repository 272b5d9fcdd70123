// The network device over Winsock, against a listening socket of the test's own
// on loopback (no port server needed).

// winsock2.h before windows.h (gtest's included), which would otherwise bring the
// old winsock.h.
#include <winsock2.h>
#include <ws2tcpip.h>

#include <gtest/gtest.h>
#include <windows.h>

#include <algorithm>
#include <chrono>
#include <string>
#include <thread>

#include "engine/net_port.h"
#include "engine/serial_device_net.h"
#include "engine/stop_signal.h"

namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

// A listening socket on 127.0.0.1 and a port of the system's choosing.
class Listener {
public:
    Listener() {
        WSADATA data;
        ::WSAStartup(MAKEWORD(2, 2), &data);
        socket_ = ::socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        int length = sizeof a;
        ::bind(socket_, reinterpret_cast<sockaddr*>(&a), sizeof a);
        ::listen(socket_, 4);
        ::getsockname(socket_, reinterpret_cast<sockaddr*>(&a), &length);
        port_ = ntohs(a.sin_port);
    }
    ~Listener() {
        if (peer_ != INVALID_SOCKET) ::closesocket(peer_);
        Close();
    }
    void Close() {
        if (socket_ != INVALID_SOCKET) ::closesocket(socket_);
        socket_ = INVALID_SOCKET;
    }
    std::string Url(const char* scheme) const {
        return std::string(scheme) + "://127.0.0.1:" + std::to_string(port_);
    }
    SOCKET Accept() {
        peer_ = ::accept(socket_, nullptr, nullptr);
        return peer_;
    }
    // Blocking reads until `count` bytes came.
    std::string Receive(std::size_t count) {
        std::string bytes;
        char b[64];
        while (bytes.size() < count) {
            const int n =
                ::recv(peer_, b, static_cast<int>(std::min(sizeof b, count - bytes.size())), 0);
            if (n <= 0) break;
            bytes.append(b, static_cast<std::size_t>(n));
        }
        return bytes;
    }
    void Send(const std::string& bytes) {
        ::send(peer_, bytes.data(), static_cast<int>(bytes.size()), 0);
    }
    void Hangup() {
        ::closesocket(peer_);
        peer_ = INVALID_SOCKET;
    }

private:
    SOCKET socket_ = INVALID_SOCKET;
    SOCKET peer_ = INVALID_SOCKET;
    int port_ = 0;
};

TEST(Win32NetDevice, RawTcpRepliesTimeOutsAndAServerThatGoes) {
    Listener server;
    StopSignal stop;
    NetworkOpener opener;
    SerialOpenResult r = opener.Open(server.Url("tcp"), stop);
    ASSERT_EQ(r.stage, LinkStage::None) << r.error;
    ASSERT_NE(server.Accept(), INVALID_SOCKET);

    ASSERT_EQ(r.device->Write("I", 1).error, 0);
    EXPECT_EQ(server.Receive(1), "I");
    server.Send("0102030405060708");
    char reply[16];
    SerialTransfer t = r.device->Read(reply, sizeof reply);
    EXPECT_EQ(t.count, 16u);
    EXPECT_EQ(t.error, 0);
    EXPECT_EQ(std::string(reply, 16), "0102030405060708");

    // A silent server: the read's own time-out, as a COM port's (ERROR_TIMEOUT).
    t = r.device->Read(reply, 1);
    EXPECT_EQ(t.error, static_cast<int>(ERROR_TIMEOUT));
    EXPECT_FALSE(t.deviceGone);

    // A stop cuts a waiting read short.
    std::thread stopper([&stop] {
        std::this_thread::sleep_for(50ms);
        stop.Request();
    });
    const auto start = Clock::now();
    t = r.device->Read(reply, sizeof reply);
    stopper.join();
    EXPECT_EQ(t.error, static_cast<int>(ERROR_OPERATION_ABORTED));
    EXPECT_LT(Clock::now() - start, 1500ms);
    stop.Reset();

    server.Hangup();
    t = r.device->Read(reply, sizeof reply);
    EXPECT_TRUE(t.deviceGone);
    EXPECT_STREQ(NetworkCauseText(t.error), "closed by the server") << t.error;
}

TEST(Win32NetDevice, ARefusedConnectionSaysSo) {
    std::string url;
    {
        Listener gone;
        url = gone.Url("rfc2217");
    }  // nothing listens there now
    StopSignal stop;
    NetworkOpener opener;
    const SerialOpenResult r = opener.Open(url, stop);
    EXPECT_EQ(r.stage, LinkStage::Open);
    EXPECT_EQ(r.error, kNetRefused);
}

}  // namespace
