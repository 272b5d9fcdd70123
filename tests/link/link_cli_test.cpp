// pelkora-cli target, monitor and emulate as the user runs them: separate
// processes meeting on a pseudo-terminal.

#include <gtest/gtest.h>

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "support/cli_runner.h"

namespace {

using namespace std::chrono_literals;
namespace fs = std::filesystem;

// A pelkora-cli child whose stdout and stderr the test reads as they come.
class CliChild {
public:
    explicit CliChild(const std::vector<std::string>& args) {
        int out[2], err[2];
        if (::pipe2(out, O_CLOEXEC) != 0 || ::pipe2(err, O_CLOEXEC) != 0) return;
        const char* cli = std::getenv("PELKORA_CLI");
        std::vector<std::string> argv{cli ? cli : "pelkora-cli"};
        argv.insert(argv.end(), args.begin(), args.end());
        pid_ = ::fork();
        if (pid_ == 0) {
            ::dup2(out[1], 1);
            ::dup2(err[1], 2);
            std::vector<char*> raw;
            for (std::string& a : argv) raw.push_back(a.data());
            raw.push_back(nullptr);
            ::execv(raw[0], raw.data());
            ::_exit(127);
        }
        ::close(out[1]);
        ::close(err[1]);
        out_ = out[0];
        err_ = err[0];
    }
    ~CliChild() {
        if (pid_ > 0 && exitCode_ == kRunning) {
            ::kill(pid_, SIGKILL);
            ::waitpid(pid_, nullptr, 0);
        }
        if (out_ >= 0) ::close(out_);
        if (err_ >= 0) ::close(err_);
    }
    CliChild(const CliChild&) = delete;
    CliChild& operator=(const CliChild&) = delete;

    // One line of stdout without its end, or "" after `timeout`.
    std::string ReadLine(std::chrono::milliseconds timeout = 10s) {
        const auto deadline = std::chrono::steady_clock::now() + timeout;
        for (;;) {
            const std::size_t end = outBuffer_.find('\n');
            if (end != std::string::npos) {
                std::string line = outBuffer_.substr(0, end);
                outBuffer_.erase(0, end + 1);
                return line;
            }
            const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                                  deadline - std::chrono::steady_clock::now())
                                  .count();
            if (left <= 0) return {};
            pollfd p{out_, POLLIN, 0};
            if (::poll(&p, 1, static_cast<int>(left)) <= 0) continue;
            char b[256];
            const ssize_t n = ::read(out_, b, sizeof b);
            if (n <= 0) return {};
            outBuffer_.append(b, static_cast<std::size_t>(n));
        }
    }

    // Sends `signal` and waits for the exit code (-1 when killed or too slow).
    int Stop(int signal, std::chrono::milliseconds timeout = 5s) {
        ::kill(pid_, signal);
        const auto deadline = std::chrono::steady_clock::now() + timeout;
        int status = 0;
        while (::waitpid(pid_, &status, WNOHANG) == 0) {
            if (std::chrono::steady_clock::now() > deadline) return -1;
            ::usleep(5000);
        }
        exitCode_ = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
        return exitCode_;
    }

    // Everything the child wrote on stderr (call after Stop).
    std::string Err() {
        std::string all;
        char b[256];
        ssize_t n;
        while ((n = ::read(err_, b, sizeof b)) > 0) all.append(b, static_cast<std::size_t>(n));
        return all;
    }

private:
    static constexpr int kRunning = -1000;
    pid_t pid_ = -1;
    int out_ = -1;
    int err_ = -1;
    int exitCode_ = kRunning;
    std::string outBuffer_;
};

class LinkCliTest : public ::testing::Test {
protected:
    void SetUp() override {
        dir_ = fs::temp_directory_path() /
               ("pelkora-link-cli-" + std::to_string(::getpid()) + "-" +
                ::testing::UnitTest::GetInstance()->current_test_info()->name());
        fs::create_directories(dir_);
    }
    void TearDown() override { fs::remove_all(dir_); }

    // A net file whose output biases give every output 183 in the module's arithmetic.
    std::string BiasNet() {
        const fs::path path = dir_ / "bias.net";
        std::ofstream net(path);
        for (int i = 0; i < 280; ++i) net << (i >= 272 ? 10000000 : 0) << '\n';
        return path.string();
    }

    fs::path dir_;
};

TEST_F(LinkCliTest, MonitorAndEmulateTalkToTheVirtualModule) {
    const std::string link = (dir_ / "com1").string();
    CliChild target({"target", "--link", link, "--net", BiasNet(), "--inputs", "1,2,3,4,5,6,7,255",
                     "--verbose"});
    const std::string device = target.ReadLine();
    ASSERT_FALSE(device.empty());
    EXPECT_EQ(fs::read_symlink(link).string(), device);

    const std::string inputs = "1\t2\t3\t4\t5\t6\t7\t255\t";
    const CliRun monitor = RunCli("monitor --port " + ShellQuote(link) + " --passes 2");
    EXPECT_EQ(monitor.exitCode, 0) << monitor.err;
    const std::string monitored = inputs + "183\t183\t183\t183\t183\t183\t183\t183\n";
    EXPECT_EQ(monitor.out, monitored + monitored);
    EXPECT_EQ(monitor.err, "");

    // The tool computes the outputs itself: the all-zero network gives 128.
    const CliRun emulate = RunCli("emulate --port " + ShellQuote(device) + " --passes 1");
    EXPECT_EQ(emulate.exitCode, 0) << emulate.err;
    EXPECT_EQ(emulate.out, inputs + "128\t128\t128\t128\t128\t128\t128\t128\n");

    EXPECT_EQ(target.Stop(SIGTERM), 0);
    EXPECT_FALSE(fs::exists(fs::symlink_status(link)));  // the link is removed
    const std::string log = target.Err();
    EXPECT_NE(log.find("R\nI -> 01020304050607FF\nO -> B7B7B7B7B7B7B7B7\n"), std::string::npos)
        << log;
    EXPECT_NE(log.find("S\nI -> 01020304050607FF\nP8080808080808080\n"), std::string::npos) << log;
}

TEST_F(LinkCliTest, FailedPassesReportTheirTextAndCount) {
    const std::string missing = (dir_ / "nothing").string();
    const CliRun run = RunCli("monitor --port " + ShellQuote(missing) + " --passes 2");
    EXPECT_EQ(run.exitCode, 1);
    EXPECT_EQ(run.out, "");
    const std::string text = "Error opening " + missing + " port (1-2)\n";
    EXPECT_EQ(run.err, text + text);
}

TEST_F(LinkCliTest, MonitorRunsUntilASignal) {
    CliChild target({"target", "--pace"});
    const std::string device = target.ReadLine();
    ASSERT_FALSE(device.empty());
    CliChild monitor({"monitor", "--port", device});
    const std::string line = monitor.ReadLine();
    EXPECT_EQ(std::count(line.begin(), line.end(), '\t'), 15) << line;
    EXPECT_EQ(monitor.Stop(SIGINT), 0);
    EXPECT_EQ(target.Stop(SIGINT), 0);
}

TEST_F(LinkCliTest, UsageErrorsAreRefused) {
    const struct {
        const char* args;
        int exitCode;
    } cases[] = {
        {"target --inputs 1,2,3", 2},
        {"target --inputs 1,2,3,4,5,6,7,300", 2},
        {"monitor", 2},  // --port is required
        {"emulate --port /dev/null --passes -1", 2},
        {"emulate --port /dev/null --net /nonexistent/net.txt --passes 1", 1},
    };
    for (const auto& c : cases) {
        const CliRun run = RunCli(c.args);
        EXPECT_EQ(run.exitCode, c.exitCode) << c.args << "\n" << run.err;
        EXPECT_FALSE(run.err.empty()) << c.args;
    }
}

}  // namespace
