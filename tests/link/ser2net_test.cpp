// Modules over the network: Debian's ser2net on loopback in front of the virtual
// module (pelkora-cli target) on a pseudo-terminal, and port servers of the
// test's own for the misbehaving cases.

#include <gtest/gtest.h>

#include <fcntl.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <termios.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>

#include "engine/net_port.h"
#include "link/cli_child.h"
#include "link/loopback_server.h"
#include "support/cli_runner.h"

namespace {

using namespace std::chrono_literals;
namespace fs = std::filesystem;

std::string B(std::initializer_list<int> bytes) {
    std::string s;
    for (int b : bytes) s += static_cast<char>(b);
    return s;
}

std::string FindSer2net() {
    for (const char* path : {"/usr/sbin/ser2net", "/usr/bin/ser2net", "/usr/local/sbin/ser2net"}) {
        if (::access(path, X_OK) == 0) return path;
    }
    return {};
}

// A loopback port nothing listens on (closed again at once).
int FreePort() {
    LoopbackServer probe([](int, int) {});
    return probe.Port();
}

bool Accepts(int port) {
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    a.sin_port = htons(static_cast<std::uint16_t>(port));
    const bool ok = ::connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0;
    ::close(fd);
    return ok;
}

class Ser2netTest : public ::testing::Test {
protected:
    void SetUp() override {
        ser2net_ = FindSer2net();
        if (ser2net_.empty()) {
            GTEST_SKIP() << "ser2net is not installed (scripts/install-deps installs it)";
        }
        dir_ = fs::temp_directory_path() /
               ("pelkora-ser2net-" + std::to_string(::getpid()) + "-" +
                ::testing::UnitTest::GetInstance()->current_test_info()->name());
        fs::create_directories(dir_);
        rawPort_ = FreePort();
        telnetPort_ = FreePort();
    }
    void TearDown() override {
        server_.reset();
        target_.reset();
        if (!dir_.empty()) fs::remove_all(dir_);
    }

    // A net file whose output biases give every output 183 in the module's arithmetic.
    std::string BiasNet() {
        const fs::path path = dir_ / "bias.net";
        std::ofstream net(path);
        for (int i = 0; i < 280; ++i) net << (i >= 272 ? 10000000 : 0) << '\n';
        return path.string();
    }

    // The virtual module on its pseudo-terminal, reached as dir_/com1.
    void StartTarget() {
        target_ = std::make_unique<CliChild>(std::vector<std::string>{
            "target", "--link", Link(), "--net", BiasNet(), "--inputs", "1,2,3,4,5,6,7,255"});
        ASSERT_FALSE(target_->ReadLine().empty());
    }

    // ser2net with one raw and one RFC 2217 port on the module; the server's own
    // line settings (`settings`) are not the link's, so that only RFC 2217 sets it.
    void StartServer(const std::string& settings = "1200e72") {
        const fs::path config = dir_ / "ser2net.yaml";
        std::ofstream(config) << "%YAML 1.1\n---\n"
                              << "connection: &raw\n"
                              << "  accepter: tcp,127.0.0.1," << rawPort_ << "\n"
                              << "  connector: serialdev," << Link() << "," << settings
                              << ",local\n"
                              << "  options:\n    kickolduser: true\n"
                              << "connection: &rfc2217\n"
                              << "  accepter: telnet(rfc2217),tcp,127.0.0.1," << telnetPort_ << "\n"
                              << "  connector: serialdev," << Link() << "," << settings
                              << ",local\n"
                              << "  options:\n    kickolduser: true\n";
        server_ = std::make_unique<CliChild>(
            ser2net_, std::vector<std::string>{"-n", "-u", "-c", config.string(), "-P",
                                               (dir_ / "ser2net.pid").string()});
        // Ready once it accepts (a connection that is closed again at once).
        for (int k = 0; k < 500 && !(Accepts(rawPort_) && Accepts(telnetPort_)); ++k) {
            std::this_thread::sleep_for(10ms);
        }
        ASSERT_TRUE(Accepts(rawPort_) && Accepts(telnetPort_)) << "ser2net did not start";
    }
    void StopServer() {
        if (server_) {
            EXPECT_NE(server_->Stop(SIGTERM), -1);
        }
        server_.reset();
    }

    std::string Link() const { return (dir_ / "com1").string(); }
    std::string Raw() const { return "tcp://127.0.0.1:" + std::to_string(rawPort_); }
    std::string Rfc2217() const { return "rfc2217://127.0.0.1:" + std::to_string(telnetPort_); }

    std::string ser2net_;
    fs::path dir_;
    int rawPort_ = 0;
    int telnetPort_ = 0;
    std::unique_ptr<CliChild> target_;
    std::unique_ptr<CliChild> server_;
};

TEST_F(Ser2netTest, MonitorEmulateAndValidateGiveWhatTheLocalPortGives) {
    StartTarget();
    StartServer();
    const auto run = [&](const std::string& command, const std::string& port) {
        const CliRun r = RunCli(command + " --port " + ShellQuote(port));
        EXPECT_EQ(r.exitCode, 0) << command << " " << port << "\n" << r.err;
        return r.out;
    };
    const std::string net = " --net " + ShellQuote(BiasNet());
    for (const std::string& port : {Raw(), Rfc2217()}) {
        SCOPED_TRACE(port);
        EXPECT_EQ(run("monitor --passes 3", port), run("monitor --passes 3", Link()));
        EXPECT_EQ(run("emulate --passes 2" + net, port), run("emulate --passes 2" + net, Link()));
        EXPECT_EQ(run("validate --passes 3" + net, port), run("validate --passes 3" + net, Link()));
    }
    EXPECT_EQ(run("monitor --passes 1", Raw()),
              "1\t2\t3\t4\t5\t6\t7\t255\t183\t183\t183\t183\t183\t183\t183\t183\n");
}

TEST_F(Ser2netTest, Rfc2217SetsTheLineRawLeavesItToTheServer) {
    StartTarget();
    StartServer("1200e72");
    // The line as it is while a client is connected: ser2net puts the device's
    // own settings back when the client has gone.
    const auto line = [&](const std::string& port) {
        CliChild monitor({"monitor", "--port", port});
        EXPECT_FALSE(monitor.ReadLine(std::chrono::seconds(30)).empty()) << port;
        termios tio{};
        const int fd = ::open(Link().c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
        EXPECT_GE(fd, 0);
        EXPECT_EQ(::tcgetattr(fd, &tio), 0);
        ::close(fd);
        monitor.Stop(SIGTERM);
        return tio;
    };
    termios tio = line(Raw());
    EXPECT_EQ(::cfgetospeed(&tio), B1200);  // the server's own settings
    // A pseudo-terminal keeps the speed and the stop bits, not the data size or the
    // parity (Linux forces 8 bits, no parity), so those two tell who set the line.
    EXPECT_NE(tio.c_cflag & CSTOPB, 0u);

    tio = line(Rfc2217());
    EXPECT_EQ(::cfgetospeed(&tio), B9600);
    EXPECT_EQ(::cfgetispeed(&tio), B9600);
    EXPECT_EQ(tio.c_cflag & CSIZE, static_cast<tcflag_t>(CS8));
    EXPECT_EQ(tio.c_cflag & (PARENB | CSTOPB | CRTSCTS), 0u);
    EXPECT_EQ(tio.c_iflag & (IXON | IXOFF), 0u);
}

// The server goes away for a while mid-run: failed passes, then values again on
// the same connection's successor, without restarting the tool.
TEST_F(Ser2netTest, AServerStoppedAndStartedAgainIsReconnected) {
    StartTarget();
    for (const bool telnet : {false, true}) {
        SCOPED_TRACE(telnet ? "rfc2217" : "raw");
        StartServer();
        CliChild monitor({"monitor", "--port", telnet ? Rfc2217() : Raw()});
        const std::string values =
            "1\t2\t3\t4\t5\t6\t7\t255\t183\t183\t183\t183\t183\t183\t183\t183";
        EXPECT_EQ(monitor.ReadLine(), values);
        StopServer();
        std::this_thread::sleep_for(700ms);  // a few failed passes
        StartServer();
        // Lines written before the stop may still be queued: values come again.
        bool again = false;
        for (int k = 0; k < 20 && !again; ++k) again = monitor.ReadLine() == values;
        EXPECT_TRUE(again);
        EXPECT_EQ(monitor.Stop(SIGINT), 0);
        const std::string err = monitor.Err();
        const std::string refused = "Error opening " + std::string(telnet ? Rfc2217() : Raw()) +
                                    " port (1-" + std::to_string(kNetRefused) + ")";
        EXPECT_NE(err.find(refused), std::string::npos) << err;
        StopServer();
    }
}

// A port server that plays the module itself over RFC 2217, with telnet in the
// middle of its replies.
void TalkativeModule(int fd, int wake) {
    std::string seen;
    if (!ReadUntil(fd, wake, telnet::OpeningRequests(), seen)) return;
    SendAll(fd, B({255, 253, 44, 255, 251, 0, 255, 253, 0, 255, 251, 3}));
    seen.clear();
    if (!ReadUntil(fd, wake, telnet::LineSettingRequests(), seen)) return;
    for (int command = 101; command <= 104; ++command) {
        const std::string value = command == 101   ? B({0, 0, 0x25, 0x80})
                                  : command == 102 ? B({8})
                                                   : B({1});
        SendAll(fd, B({255, 250, 44, command}) + value + B({255, 240}));
    }
    telnet::TelnetDecoder decoder;
    for (;;) {
        char b[256];
        pollfd fds[2] = {{fd, POLLIN, 0}, {wake, POLLIN, 0}};
        if (::poll(fds, 2, -1) <= 0) continue;
        if (fds[1].revents & POLLIN) return;
        const ssize_t n = ::read(fd, b, sizeof b);
        if (n <= 0) return;
        telnet::Decoded d;
        decoder.Feed(b, static_cast<std::size_t>(n), d);
        for (char c : d.data) {
            if (c == 'I') {
                SendAll(fd, "0102" + B({255, 251, 1}) + "0304" + B({255, 253, 24}) + "05060708");
            } else if (c == 'O') {
                SendAll(fd, "B7B7B7" + B({255, 250, 44, 107, 0x30, 255, 240}) + "B7B7B7B7B7" +
                                B({255, 241}));
            }
        }
    }
}

TEST_F(Ser2netTest, NegotiationInTheMiddleOfAReplyIsAnsweredAndLeftOut) {
    LoopbackServer server(TalkativeModule);
    const CliRun run = RunCli("monitor --passes 3 --port " + ShellQuote(server.Url("rfc2217")));
    EXPECT_EQ(run.exitCode, 0) << run.err;
    const std::string line = "1\t2\t3\t4\t5\t6\t7\t8\t183\t183\t183\t183\t183\t183\t183\t183\n";
    EXPECT_EQ(run.out, line + line + line);
    EXPECT_EQ(server.Accepted(), 1);  // one connection for the whole run
}

TEST_F(Ser2netTest, AServerThatAcceptsAndNeverAnswers) {
    LoopbackServer server([](int, int wake) { Idle(wake); });
    const struct {
        const char* scheme;
        std::string text;
    } cases[] = {
        {"tcp", "Error reading from target (" + std::to_string(ETIMEDOUT) +
                    "): no reply in time (the module is silent or too slow)\n"},
        {"rfc2217",
         "Error configuring com port (1-" + std::to_string(kNetTimedOut) + "): timed out\n"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.scheme);
        const CliRun run = RunCli("monitor --passes 2 --port " + ShellQuote(server.Url(c.scheme)));
        EXPECT_EQ(run.exitCode, 1);
        EXPECT_EQ(run.out, "");
        EXPECT_EQ(run.err, c.text + c.text);
    }
}

}  // namespace
