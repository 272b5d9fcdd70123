// The network device against port servers the test plays on loopback.

#include <gtest/gtest.h>

#include <chrono>
#include <future>
#include <string>
#include <thread>

#include "engine/net_port.h"
#include "engine/serial_device_net.h"
#include "engine/stop_signal.h"
#include "link/loopback_server.h"

namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

std::string B(std::initializer_list<int> bytes) {
    std::string s;
    for (int b : bytes) s += static_cast<char>(b);
    return s;
}

// Short time-outs keep the failing cases quick; the rules are the same.
SerialTimeouts Quick() {
    SerialTimeouts t;
    t.readInterval = 50;
    t.readTotalPerByte = 20;
    t.readTotalConstant = 100;
    return t;
}

// The server's side of the opening: agrees to everything the client offers and
// answers each line setting as taken. Returns what the client sent until then.
std::string AgreeAndSetLine(int fd, int wake,
                            const std::string& baudAnswer = B({0, 0, 0x25, 0x80})) {
    std::string seen;
    if (!ReadUntil(fd, wake, telnet::OpeningRequests(), seen)) return seen;
    SendAll(fd, B({255, 253, 44, 255, 251, 0, 255, 253, 0, 255, 251, 3}));
    if (!ReadUntil(fd, wake, telnet::LineSettingRequests(), seen)) return seen;
    SendAll(fd, B({255, 250, 44, 101}) + telnet::EscapeData(baudAnswer) + B({255, 240}) +
                    B({255, 250, 44, 102, 8, 255, 240, 255, 250, 44, 103, 1, 255, 240}) +
                    B({255, 250, 44, 104, 1, 255, 240, 255, 250, 44, 105, 1, 255, 240}) +
                    B({255, 250, 44, 105, 14, 255, 240, 255, 250, 44, 105, 9, 255, 240}) +
                    B({255, 250, 44, 105, 12, 255, 240}));
    return seen;
}

class NetDeviceTest : public ::testing::Test {
protected:
    SerialOpenResult Open(const std::string& url) { return opener_.Open(url, stop_); }
    StopSignal stop_;
    NetworkOpener opener_{Quick()};
};

TEST_F(NetDeviceTest, RawTcpPassesTheBytesBothWays) {
    // What the server saw, handed over to the test thread.
    std::promise<std::string> seen;
    LoopbackServer server([&](int fd, int wake) {
        std::string got;
        const bool complete = ReadUntil(fd, wake, B({'I', 0xFF}), got);
        seen.set_value(got);
        if (!complete) return;
        SendAll(fd, "0102");
        std::this_thread::sleep_for(20ms);  // within the gap between bytes
        SendAll(fd, B({'0', 0xFF}) + "0506070");
        Idle(wake);
    });
    SerialOpenResult r = Open(server.Url("tcp"));
    ASSERT_EQ(r.stage, LinkStage::None) << r.error;
    const SerialTransfer w = r.device->Write(B({'I', 0xFF}).data(), 2);
    EXPECT_EQ(w.count, 2u);
    EXPECT_EQ(w.error, 0);
    char reply[13];
    const SerialTransfer t = r.device->Read(reply, sizeof reply);
    EXPECT_EQ(t.count, 13u);
    EXPECT_EQ(t.error, 0);
    EXPECT_EQ(std::string(reply, 13), "0102" + B({'0', 0xFF}) + "0506070");
    EXPECT_EQ(seen.get_future().get(), B({'I', 0xFF}));  // raw: 0xFF is not doubled

    // Fewer bytes than asked: a time-out once the gap passes, the device usable.
    const SerialTransfer silent = r.device->Read(reply, 1);
    EXPECT_EQ(silent.count, 0u);
    EXPECT_EQ(silent.error, ETIMEDOUT);
    EXPECT_FALSE(silent.deviceGone);
}

TEST_F(NetDeviceTest, ADroppedConnectionIsAGoneDeviceAfterTheBytesItSent) {
    LoopbackServer server([&](int fd, int wake) {
        std::string seen;
        if (!ReadUntil(fd, wake, "I", seen)) return;
        SendAll(fd, "01020304");  // then the server goes
    });
    SerialOpenResult r = Open(server.Url("tcp"));
    ASSERT_EQ(r.stage, LinkStage::None) << r.error;
    ASSERT_EQ(r.device->Write("I", 1).error, 0);
    char reply[16];
    const SerialTransfer t = r.device->Read(reply, sizeof reply);
    EXPECT_EQ(t.count, 8u);
    EXPECT_EQ(t.error, kNetClosed);
    EXPECT_TRUE(t.deviceGone);
    EXPECT_EQ(r.device->WaitForInput(10ms), InputWait::Failed);
    EXPECT_TRUE(r.device->Write("R", 1).deviceGone);
}

TEST_F(NetDeviceTest, OpenFailuresCarryTheirCause) {
    int freePort = 0;
    {
        LoopbackServer probe([](int, int) {});
        freePort = probe.Port();
    }  // closed: nothing listens there now
    const SerialOpenResult refused = Open("tcp://127.0.0.1:" + std::to_string(freePort));
    EXPECT_EQ(refused.stage, LinkStage::Open);
    EXPECT_EQ(refused.error, kNetRefused);
    EXPECT_STREQ(NetworkCauseText(refused.error), "connection refused");

    const SerialOpenResult local = Open("/dev/ttyS0");
    EXPECT_EQ(local.stage, LinkStage::Open);
    EXPECT_EQ(local.error, EINVAL);
}

TEST_F(NetDeviceTest, WaitingForInputEndsOnDataOrAStop) {
    LoopbackServer server([&](int fd, int wake) {
        std::string seen;
        if (!ReadUntil(fd, wake, "x", seen)) return;
        SendAll(fd, "y");
        Idle(wake);
    });
    SerialOpenResult r = Open(server.Url("tcp"));
    ASSERT_EQ(r.stage, LinkStage::None) << r.error;
    EXPECT_EQ(r.device->WaitForInput(30ms), InputWait::Quiet);
    ASSERT_EQ(r.device->Write("x", 1).error, 0);
    EXPECT_EQ(r.device->WaitForInput(5s), InputWait::Arrived);
    r.device->DiscardInput();
    EXPECT_EQ(r.device->WaitForInput(30ms), InputWait::Quiet);  // discarded

    std::thread stopper([this] {
        std::this_thread::sleep_for(50ms);
        stop_.Request();
    });
    char b[16];
    const auto start = Clock::now();
    const SerialTransfer t = r.device->Read(b, sizeof b);
    stopper.join();
    EXPECT_EQ(t.error, EINTR);
    EXPECT_LT(Clock::now() - start, 5s);
}

TEST_F(NetDeviceTest, Rfc2217SetsTheLineEscapesAndPurges) {
    std::promise<std::string> opened;  // what the client sent to open, then after it
    std::promise<std::string> commanded;
    LoopbackServer server([&](int fd, int wake) {
        opened.set_value(AgreeAndSetLine(fd, wake));
        std::string afterOpening;
        // The purge and the command come in one go; the reply has a doubled IAC.
        const std::string expected = telnet::ComPortRequest(12, B({1})) + B({'I', 255, 255});
        const bool complete = ReadUntil(fd, wake, expected, afterOpening);
        commanded.set_value(afterOpening);
        if (!complete) return;
        SendAll(fd, B({255, 250, 44, 112, 1, 255, 240}) + B({'0', 255, 255, '1'}));
        Idle(wake);
    });
    SerialOpenResult r = Open(server.Url("rfc2217"));
    ASSERT_EQ(r.stage, LinkStage::None) << r.error;
    r.device->DiscardInput();
    r.device->DiscardInput();  // one purge, however often the queue is dropped
    ASSERT_EQ(r.device->Write(B({'I', 0xFF}).data(), 2).error, 0);
    char reply[3];
    const SerialTransfer t = r.device->Read(reply, sizeof reply);
    EXPECT_EQ(t.count, 3u) << t.error;
    EXPECT_EQ(std::string(reply, 3), B({'0', 0xFF, '1'}));
    EXPECT_EQ(opened.get_future().get(), telnet::OpeningRequests() + telnet::LineSettingRequests());
    EXPECT_EQ(commanded.get_future().get(),
              telnet::ComPortRequest(12, B({1})) + B({'I', 255, 255}));
}

TEST_F(NetDeviceTest, Rfc2217AnswersNegotiationInTheMiddleOfAReply) {
    LoopbackServer server([&](int fd, int wake) {
        AgreeAndSetLine(fd, wake);
        std::string seen;
        if (!ReadUntil(fd, wake, "I", seen)) return;
        SendAll(fd, "0102" + B({255, 251, 1}) + "03");  // WILL ECHO
        // The rest of the reply only once the client has refused.
        if (!ReadUntil(fd, wake, B({255, 254, 1}), seen)) return;
        SendAll(fd, "04");
        Idle(wake);
    });
    SerialOpenResult r = Open(server.Url("rfc2217"));
    ASSERT_EQ(r.stage, LinkStage::None) << r.error;
    ASSERT_EQ(r.device->Write("I", 1).error, 0);
    char reply[8];
    const SerialTransfer t = r.device->Read(reply, sizeof reply);
    EXPECT_EQ(t.count, 8u) << t.error;
    EXPECT_EQ(std::string(reply, t.count), "01020304");
}

TEST_F(NetDeviceTest, Rfc2217ServersThatDoNotSetTheLine) {
    const struct {
        const char* what;
        LoopbackServer::Handler handler;
        LinkStage stage;
        int error;
    } cases[] = {
        {"accepts and never answers", [](int, int wake) { Idle(wake); }, LinkStage::ReadSettings,
         kNetTimedOut},
        {"refuses com-port control",
         [](int fd, int wake) {
             std::string seen;
             if (!ReadUntil(fd, wake, telnet::OpeningRequests(), seen)) return;
             SendAll(fd, B({255, 254, 44}));
             Idle(wake);
         },
         LinkStage::ReadSettings, kNetNoComPort},
        {"keeps 19200 baud",
         [](int fd, int wake) {
             AgreeAndSetLine(fd, wake, B({0, 0, 0x4B, 0}));
             Idle(wake);
         },
         LinkStage::ApplySettings, kNetBadSetting},
        {"closes at once", [](int, int) {}, LinkStage::Open, kNetClosed},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        LoopbackServer server(c.handler);
        const SerialOpenResult r = Open(server.Url("rfc2217"));
        EXPECT_EQ(r.stage, c.stage);
        // A closed connection shows as a reset or a broken pipe, whichever comes first.
        EXPECT_STREQ(NetworkCauseText(r.error), NetworkCauseText(c.error)) << r.error;
        EXPECT_FALSE(r.device);
    }
}

}  // namespace
