// What the commands do when their stdout fails or stalls, and the one rule that
// every option taking a value refuses an empty one.

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "cli/commands.h"
#include "network/weights.h"
#include "support/cli_runner.h"

#ifndef _WIN32
#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#endif

namespace {

// Every option and argument of every sub-command that takes a value, each given
// empty with the others absent: the empty value must be what is refused, before
// anything else (a required option missing) is looked at.
TEST(CliOptions, EveryOptionThatTakesAValueRefusesAnEmptyOne) {
    CLI::App probe{"probe"};
    const std::vector<CliCommand> commands = AddAllCommands(probe);
    int checked = 0;
    for (const CliCommand& command : commands) {
        for (const CLI::Option* option : command.app->get_options()) {
            if (option->get_expected_max() == 0 || option->get_name() == "--help") continue;
            CLI::App app{"pelkora-cli"};
            (void)AddAllCommands(app);
            std::vector<std::string> args{command.app->get_name()};
            if (option->get_positional()) {
                args.push_back("");
            } else {
                args.push_back(option->get_name());
                args.push_back("");
            }
            std::vector<std::string> reversed(args.rbegin(), args.rend());  // CLI11's order
            const std::string what = args[0] + " " + option->get_name();
            try {
                app.parse(reversed);
                ADD_FAILURE() << what << ": an empty value was taken";
            } catch (const CLI::ValidationError&) {
                // The usage error (exit 2): "an empty value is not allowed", or the
                // list of allowed values where a transform sees it first.
            } catch (const CLI::Error& e) {
                ADD_FAILURE() << what << ": refused for another reason: " << e.what();
            }
            ++checked;
        }
    }
    EXPECT_GE(checked, 20);  // the list above is not empty by accident
}

#ifndef _WIN32

// Starts pelkora-cli with `args`, its stdout on `outFd`; stderr to `errPath`.
pid_t Spawn(std::vector<std::string> args, int outFd, const std::string& errPath) {
    const char* cli = std::getenv("PELKORA_CLI");
    args.insert(args.begin(), cli ? cli : "pelkora-cli");
    const pid_t pid = ::fork();
    if (pid == 0) {
        ::dup2(outFd, 1);
        const int err = ::open(errPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        ::dup2(err, 2);
        std::vector<char*> raw;
        for (std::string& a : args) raw.push_back(a.data());
        raw.push_back(nullptr);
        ::execv(raw[0], raw.data());
        ::_exit(127);
    }
    return pid;
}

// The virtual module, its device path read from its first line.
class Target {
public:
    Target() {
        int out[2];
        if (::pipe2(out, O_CLOEXEC) != 0) return;
        pid_ = Spawn({"target"}, out[1], "/dev/null");
        ::close(out[1]);
        char c;
        while (::read(out[0], &c, 1) == 1 && c != '\n') device_ += c;
        ::close(out[0]);
    }
    ~Target() {
        ::kill(pid_, SIGTERM);
        ::waitpid(pid_, nullptr, 0);
    }
    Target(const Target&) = delete;
    Target& operator=(const Target&) = delete;
    [[nodiscard]] const std::string& Device() const { return device_; }

private:
    pid_t pid_ = -1;
    std::string device_;
};

TEST(CliOutput, AFailedStdoutEndsEveryCommandWithExit1AndAMessage) {
    Target target;
    ASSERT_FALSE(target.Device().empty());
    const std::string net = ::testing::TempDir() + "pelkora-output-net.txt";
    {
        std::FILE* f = std::fopen(net.c_str(), "w");
        for (int n = 0; n < NET_WEIGHT_COUNT; ++n) std::fputs("0\n", f);
        std::fclose(f);
    }
    const std::string image = ::testing::TempDir() + "pelkora-output.s19";
    ASSERT_EQ(RunCli("export " + ShellQuote(image)).exitCode, 0);
    const std::string port = " --port " + ShellQuote(target.Device());
    const std::string cases[] = {
        "monitor" + port + " --passes 2",
        "emulate" + port + " --passes 2",
        "validate" + port + " --passes 2 --net " + ShellQuote(net),
        "verify " + ShellQuote(image) + " --net " + ShellQuote(net),
        "decode " + ShellQuote(image),
        // Endless input: only the failed output can end it.
        "simulate",
    };
    const char* cli = std::getenv("PELKORA_CLI");
    const std::string errPath = ::testing::TempDir() + "pelkora-output.err";
    for (const std::string& args : cases) {
        // The pipeline's status is the command's (timeout's 124 if it never ends).
        const int status = std::system(("yes '1 2 3 4 5 6 7 8' | timeout 20 " +
                                        ShellQuote(cli ? cli : "pelkora-cli") + " " + args +
                                        " >/dev/full 2>" + ShellQuote(errPath))
                                           .c_str());
        EXPECT_EQ(WEXITSTATUS(status), 1) << args;
        const std::string err = ReadWholeFile(errPath);
        EXPECT_NE(err.find("error writing the output"), std::string::npos) << args << ": " << err;
    }
}

#if defined(__SANITIZE_THREAD__) || defined(__SANITIZE_ADDRESS__)
constexpr bool kSanitized = true;
#else
constexpr bool kSanitized = false;
#endif

// A reader that never reads: SIGTERM still ends monitor at once, with exit 1 and
// a message, since what it had to say did not arrive.
TEST(CliOutput, AStalledReaderNeverHoldsTheSignals) {
    Target target;
    ASSERT_FALSE(target.Device().empty());
    int pipeFds[2];
    ASSERT_EQ(::pipe2(pipeFds, O_CLOEXEC | O_NONBLOCK), 0);
    // Full before monitor starts: its very first line waits for the reader.
    const std::string filler(4096, 'x');
    while (::write(pipeFds[1], filler.data(), filler.size()) > 0) {
    }
    const std::string errPath = ::testing::TempDir() + "pelkora-stalled.err";
    const int blockingOut =
        ::open(("/proc/self/fd/" + std::to_string(pipeFds[1])).c_str(), O_WRONLY | O_CLOEXEC);
    ASSERT_GE(blockingOut, 0);
    const pid_t pid =
        Spawn({"monitor", "--port", target.Device(), "--timestamps"}, blockingOut, errPath);
    ::close(blockingOut);
    ::sleep(1);
    const auto start = std::chrono::steady_clock::now();
    ::kill(pid, SIGTERM);
    int status = 0;
    for (int n = 0; n < 600 && ::waitpid(pid, &status, WNOHANG) == 0; ++n) ::usleep(10000);
    const auto took = std::chrono::duration_cast<std::chrono::milliseconds>(
        std::chrono::steady_clock::now() - start);
    if (took >= std::chrono::seconds(6)) {
        ::kill(pid, SIGKILL);
        ::waitpid(pid, &status, 0);
    }
    ::close(pipeFds[0]);
    ::close(pipeFds[1]);
    // The command's own bound is 0.5 s; a sanitizer build starts and ends slowly,
    // and a busy machine adds its own delay.
    EXPECT_LT(took.count(), kSanitized ? 4000 : 2000) << "ms from SIGTERM to the end";
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 1);
    EXPECT_NE(ReadWholeFile(errPath).find("error writing the output"), std::string::npos)
        << ReadWholeFile(errPath);
}

#endif

}  // namespace
