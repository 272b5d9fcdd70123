// Port names and the telnet framing of RFC 2217, from tables.

#include <gtest/gtest.h>

#include <string>

#include "engine/net_port.h"

namespace {

using namespace telnet;

std::string B(std::initializer_list<int> bytes) {
    std::string s;
    for (int b : bytes) s += static_cast<char>(b);
    return s;
}

TEST(PortName, GoodNamesAndTheirParts) {
    const struct {
        const char* name;
        PortKind kind;
        const char* host;
        int port;
    } cases[] = {
        {"/dev/ttyUSB0", PortKind::Device, "", 0},
        {"COM3", PortKind::Device, "", 0},
        {"tcp:relative-file", PortKind::Device, "", 0},  // no "://": a path
        {"tcp://bench:7000", PortKind::RawTcp, "bench", 7000},
        {"TCP://Bench.Lab.example:1", PortKind::RawTcp, "Bench.Lab.example", 1},
        {"rfc2217://10.0.0.7:65535", PortKind::Rfc2217, "10.0.0.7", 65535},
        {"rfc2217://[::1]:7001", PortKind::Rfc2217, "::1", 7001},
        {"tcp://[fe80::1%eth0]:7000", PortKind::RawTcp, "fe80::1%eth0", 7000},
        {"tcp://[2001:db8:0:0:0:0:0:1]:7000", PortKind::RawTcp, "2001:db8:0:0:0:0:0:1", 7000},
        {"tcp://[::ffff:192.0.2.1]:7000", PortKind::RawTcp, "::ffff:192.0.2.1", 7000},
        {"tcp://rack_2-a:7000", PortKind::RawTcp, "rack_2-a", 7000},
        {"tcp://localhost:07000", PortKind::RawTcp, "localhost", 7000},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        PortAddress a;
        std::string why;
        ASSERT_TRUE(ParsePortName(c.name, a, why)) << why;
        EXPECT_EQ(a.kind, c.kind);
        EXPECT_EQ(a.host, c.host);
        EXPECT_EQ(a.port, c.port);
        EXPECT_EQ(PortNameProblem(c.name), "");
    }
}

TEST(PortName, BadNamesSayWhyAndListTheForms) {
    const struct {
        const char* name;
        const char* why;
    } cases[] = {
        {"telnet://bench:7000", "unknown scheme \"telnet\""},
        {"tcp://bench", "no :PORT after the host"},
        {"tcp://bench:", "not a port number (1 to 65535): \"\""},
        {"tcp://bench:0", "not a port number (1 to 65535): \"0\""},
        {"tcp://bench:65536", "not a port number (1 to 65535): \"65536\""},
        {"tcp://bench:99999999999", "not a port number (1 to 65535): \"99999999999\""},
        {"tcp://bench:70a", "not a port number (1 to 65535): \"70a\""},
        {"tcp://bench:7000/", "not a port number (1 to 65535): \"7000/\""},
        {"tcp://:7000", "no host"},
        {"tcp://::1:7000", "an IPv6 address goes in brackets"},
        {"tcp://[::1:7000", "no ']' after the IPv6 address"},
        {"tcp://[::1]7000", "no :PORT after the host"},
        {"tcp://[1:2:3]:7000", "not an IPv6 address: \"1:2:3\""},
        {"tcp://[1::2::3]:7000", "not an IPv6 address: \"1::2::3\""},
        {"tcp://[12345::]:7000", "not an IPv6 address: \"12345::\""},
        {"tcp://256.1.1.1:7000", "not a host name: \"256.1.1.1\""},
        {"tcp://1.2.3:7000", "not a host name: \"1.2.3\""},
        {"tcp://010.1.1.1:7000", "not a host name: \"010.1.1.1\""},
        {"tcp://user@bench:7000", "not a host name: \"user@bench\""},
        {"tcp://-bench:7000", "not a host name: \"-bench\""},
        {"tcp://bench..lab:7000", "not a host name: \"bench..lab\""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        PortAddress a;
        std::string why;
        EXPECT_FALSE(ParsePortName(c.name, a, why));
        EXPECT_EQ(why, c.why);
        const std::string problem = PortNameProblem(c.name);
        EXPECT_EQ(
            problem.rfind(std::string("not a port name: \"") + c.name + "\" (" + c.why + "); ", 0),
            0u)
            << problem;
        EXPECT_NE(problem.find("tcp://HOST:PORT"), std::string::npos);
        EXPECT_NE(problem.find("rfc2217://HOST:PORT"), std::string::npos);
    }
}

TEST(PortName, NetworkCausesInWords) {
    EXPECT_STREQ(NetworkCauseText(kNetRefused), "connection refused");
    EXPECT_STREQ(NetworkCauseText(kNetHostNotFound), "host not found");
    EXPECT_STREQ(NetworkCauseText(kNetTimedOut), "timed out");
    EXPECT_STREQ(NetworkCauseText(kNetClosed), "closed by the server");
    EXPECT_EQ(NetworkCauseText(0), nullptr);
}

TEST(Telnet, DataIsEscapedGoingOut) {
    EXPECT_EQ(EscapeData("RIO"), "RIO");
    EXPECT_EQ(EscapeData(B({0xFF})), B({0xFF, 0xFF}));
    EXPECT_EQ(EscapeData(B({'P', 0xFF, 0xFF, 0})), B({'P', 0xFF, 0xFF, 0xFF, 0xFF, 0}));
    EXPECT_EQ(ComPortRequest(kPurgeData, B({1})), B({255, 250, 44, 12, 1, 255, 240}));
    // A value byte of 0xFF is doubled inside the subnegotiation too.
    EXPECT_EQ(ComPortRequest(kSetBaudRate, B({0, 0, 0xFF, 0})),
              B({255, 250, 44, 1, 0, 0, 255, 255, 0, 255, 240}));
}

TEST(Telnet, LineSettingsAreThoseOfTheLink) {
    EXPECT_EQ(LineSettingRequests(),
              B({255, 250, 44, 1, 0,  0,   0x25, 0x80, 255, 240,  // 9600 baud
                 255, 250, 44, 2, 8,  255, 240,                   // 8 data bits
                 255, 250, 44, 3, 1,  255, 240,                   // no parity
                 255, 250, 44, 4, 1,  255, 240,                   // one stop bit
                 255, 250, 44, 5, 1,  255, 240,                   // no flow control out
                 255, 250, 44, 5, 14, 255, 240,                   // no flow control in
                 255, 250, 44, 5, 9,  255, 240,                   // DTR off
                 255, 250, 44, 5, 12, 255, 240}));                // RTS off
    EXPECT_EQ(AwaitedSettingCommands(), (std::vector<std::uint8_t>{1, 2, 3, 4}));
    EXPECT_TRUE(LineSettingTaken(kSetBaudRate, B({0, 0, 0x25, 0x80})));
    EXPECT_FALSE(LineSettingTaken(kSetBaudRate, B({0, 0, 0x4B, 0x00})));  // 19200
    EXPECT_FALSE(LineSettingTaken(kSetParity, B({2})));
}

// Each case feeds its bytes cut at every point into two reads: the decoder must
// give the same data, answers and com-port replies wherever the cut falls.
TEST(Telnet, TheServersStreamIsSplitWhereverItIsCut) {
    const struct {
        const char* what;
        std::string in;
        std::string data;
        std::string replies;
        std::vector<ComPortReply> comPort;
    } cases[] = {
        {"plain data", "00FF1001807F0AC8", "00FF1001807F0AC8", "", {}},
        {"a doubled IAC is one 0xFF", B({'A', 255, 255, 'B'}), B({'A', 255, 'B'}), "", {}},
        {"negotiation in the middle of a reply",
         "0102" + B({255, 251, 1}) + "0304" + B({255, 253, 24}) + "05060708",
         "0102030405060708",
         B({255, 254, 1, 255, 252, 24}),
         {}},
        {"what the client asked for is not answered again",
         B({255, 253, 44, 255, 251, 0, 255, 253, 0, 255, 251, 3}) + "x",
         "x",
         "",
         {}},
        {"a com-port answer with a doubled IAC in its value",
         "a" + B({255, 250, 44, 101, 0, 0, 255, 255, 0, 255, 240}) + "b",
         "ab",
         "",
         {{101, B({0, 0, 255, 0})}}},
        {"other subnegotiations and commands are dropped",
         B({255, 250, 24, 0, 'x', 255, 240, 255, 241, 255, 249}) + "z",
         "z",
         "",
         {}},
        {"a server that asks twice is answered once",
         B({255, 251, 1, 255, 252, 1, 255, 252, 1}),
         "",
         B({255, 254, 1}),
         {}},
    };
    for (const auto& c : cases) {
        for (std::size_t cut = 0; cut <= c.in.size(); ++cut) {
            SCOPED_TRACE(std::string(c.what) + ", cut at " + std::to_string(cut));
            TelnetDecoder decoder;
            Decoded out;
            decoder.Feed(c.in.data(), cut, out);
            decoder.Feed(c.in.data() + cut, c.in.size() - cut, out);
            EXPECT_EQ(out.data, c.data);
            EXPECT_EQ(out.replies, c.replies);
            EXPECT_EQ(out.comPort, c.comPort);
        }
    }
}

TEST(Telnet, ComPortAgreementAndRefusal) {
    TelnetDecoder agreed;
    Decoded out;
    EXPECT_FALSE(agreed.ComPortAgreed());
    agreed.Feed(B({255, 253, 44}).data(), 3, out);
    EXPECT_TRUE(agreed.ComPortAgreed());
    EXPECT_EQ(out.replies, "");

    TelnetDecoder refused;
    refused.Feed(B({255, 254, 44}).data(), 3, out);
    EXPECT_FALSE(refused.ComPortAgreed());
    EXPECT_TRUE(refused.ComPortRefused());
    EXPECT_EQ(out.replies, "");  // a refusal of our own offer needs no answer

    // Switched off later by the server: acknowledged once.
    agreed.Feed(B({255, 254, 44, 255, 254, 44}).data(), 6, out);
    EXPECT_EQ(out.replies, B({255, 252, 44}));
}

}  // namespace
