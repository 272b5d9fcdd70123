// pelkora-cli target, monitor and emulate as the user runs them: separate
// processes meeting on a pseudo-terminal.

#include <gtest/gtest.h>

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "link/cli_child.h"
#include "link/pty_module.h"
#include "support/cli_runner.h"

namespace {

using namespace std::chrono_literals;
namespace fs = std::filesystem;

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
    const std::string text = "Error opening " + missing + " port (1-2): no such device\n";
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

// The lines of `text`, without their ends.
std::vector<std::string> Lines(const std::string& text) {
    std::vector<std::string> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) lines.push_back(line);
    return lines;
}

std::vector<std::string> Columns(const std::string& line) {
    std::vector<std::string> columns;
    std::istringstream in(line);
    for (std::string c; std::getline(in, c, '\t');) columns.push_back(c);
    return columns;
}

// The window keeps the port open across modes; a command run beside it on the same
// device is told why it cannot have it, not just a number.
TEST_F(LinkCliTest, ABusyPortSaysSoOnStderr) {
    CliChild target({"target"});
    const std::string device = target.ReadLine();
    ASSERT_FALSE(device.empty());
    // Held as the window holds it: exclusive use and a lock.
    const int held = ::open(device.c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
    ASSERT_GE(held, 0);
    ASSERT_EQ(::flock(held, LOCK_EX | LOCK_NB), 0);
    ASSERT_EQ(::ioctl(held, TIOCEXCL), 0);
    const CliRun run = RunCli("validate --port " + ShellQuote(device) + " --net " +
                              ShellQuote(BiasNet()) + " --passes 2");
    EXPECT_EQ(run.exitCode, 1) << run.err;
    const auto lines = Lines(run.err);
    ASSERT_FALSE(lines.empty());
    EXPECT_EQ(lines[0].rfind("Error opening " + device + " port (1-", 0), 0u) << run.err;
    EXPECT_NE(lines[0].find("): in use by another program"), std::string::npos) << run.err;
    ::ioctl(held, TIOCNXCL);
    ::close(held);
    // Released, the same command gets the port.
    const CliRun again = RunCli("validate --port " + ShellQuote(device) + " --net " +
                                ShellQuote(BiasNet()) + " --passes 1");
    EXPECT_EQ(again.err.find("Error opening"), std::string::npos) << again.err;
    EXPECT_EQ(target.Stop(SIGTERM), 0);
}

TEST_F(LinkCliTest, ValidateCountsExactlyThePassesTheModuleGotWrong) {
    // Output 2 is 3 LSB high on every second "O" reply, output 5 one LSB low on all.
    CliChild target({"target", "--net", BiasNet(), "--inputs", "9,8,7,6,5,4,3,2", "--fault",
                     "2:+3:2", "--fault", "5:-1"});
    const std::string device = target.ReadLine();
    ASSERT_FALSE(device.empty());
    const struct {
        int tolerance;
        int exitCode;
        const char* verdict;
    } cases[] = {{0, 3, "MISMATCH"}, {2, 3, "MISMATCH"}, {3, 0, "MATCH"}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.tolerance);
        // Four passes a run keep the fault's rhythm: passes 2 and 4 of each run.
        const CliRun run =
            RunCli("validate --port " + ShellQuote(device) + " --net " + ShellQuote(BiasNet()) +
                   " --passes 4 --tolerance " + std::to_string(c.tolerance));
        EXPECT_EQ(run.exitCode, c.exitCode) << run.err;
        const auto lines = Lines(run.out);
        ASSERT_EQ(lines.size(), 5u) << run.out;
        ASSERT_EQ(Columns(lines[0]).size(), 32u);
        EXPECT_EQ(Columns(lines[0])[24], "diff1");
        for (int pass = 1; pass <= 4; ++pass) {
            const auto col = Columns(lines[pass]);
            ASSERT_EQ(col.size(), 32u);
            EXPECT_EQ(col[16 + 1], "183");                      // host2
            EXPECT_EQ(col[24 + 1], pass % 2 == 0 ? "3" : "0");  // diff2
            EXPECT_EQ(col[24 + 4], "-1");                       // diff5
            EXPECT_EQ(col[24 + 0], "0");                        // diff1
        }
        const int out2Mismatches = c.tolerance < 3 ? 2 : 0;
        const int out5Mismatches = c.tolerance < 1 ? 4 : 0;
        EXPECT_NE(run.err.find("out2\t4\t" + std::to_string(out2Mismatches) + "\t3\t+1.500\n"),
                  std::string::npos)
            << run.err;
        EXPECT_NE(run.err.find("out5\t4\t" + std::to_string(out5Mismatches) + "\t1\t-1.000\n"),
                  std::string::npos)
            << run.err;
        EXPECT_NE(run.err.find(c.verdict), std::string::npos) << run.err;
    }
    // A net file that does not load fails as in every command, with the loader's text.
    const CliRun bad = RunCli("validate --port " + ShellQuote(device) + " --net " +
                              ShellQuote((dir_ / "none").string()) + " --passes 1");
    EXPECT_EQ(bad.exitCode, 1);
    EXPECT_EQ(bad.err, "pelkora-cli validate: " + (dir_ / "none").string() +
                           ": Error opening file: No such file or directory\n");
    EXPECT_EQ(target.Stop(SIGTERM), 0);
}

TEST_F(LinkCliTest, ARepeatedFailureIsPrintedAtMostOnceASecondWithItsCount) {
    const std::string missing = (dir_ / "unplugged").string();
    const CliRun run = RunCli("monitor --port " + ShellQuote(missing) + " --passes 40");
    EXPECT_EQ(run.exitCode, 1);
    const std::string text = "Error opening " + missing + " port (1-2): no such device";
    // 40 passes of about 50 ms: the first at once, then one line a second.
    const auto lines = Lines(run.err);
    ASSERT_GE(lines.size(), 2u) << run.err;
    EXPECT_LE(lines.size(), 4u) << run.err;
    EXPECT_EQ(lines[0], text);
    int passes = 1;
    for (std::size_t k = 1; k < lines.size(); ++k) {
        ASSERT_EQ(lines[k].rfind(text, 0), 0u) << lines[k];
        const std::string count = lines[k].substr(text.size());
        passes += count.empty() ? 1 : std::stoi(count.substr(2));
        if (!count.empty()) {
            EXPECT_EQ(count.substr(count.size() - 7), " times)");
        }
    }
    EXPECT_EQ(passes, 40) << run.err;
}

// The sweeping module's inputs move now and then during a pass: such a pass is
// counted apart, never as a mismatch, and a real fault still shows.
TEST_F(LinkCliTest, ValidateOnMovingInputsCountsThemApart) {
    const std::string net = (fs::path(PELKORA_SOURCE_DIR) / "examples/demo-net.txt").string();
    const struct {
        const char* fault;
        int exitCode;
        const char* verdict;
    } cases[] = {{nullptr, 0, "MATCH: "}, {"3:+2", 3, "MISMATCH: "}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.fault ? c.fault : "no fault");
        std::vector<std::string> args{"target", "--net", net};
        if (c.fault) args.insert(args.end(), {"--fault", c.fault});
        CliChild target(args);
        const std::string device = target.ReadLine();
        ASSERT_FALSE(device.empty());
        const CliRun run = RunCli("validate --port " + ShellQuote(device) + " --net " +
                                  ShellQuote(net) + " --passes 12");
        EXPECT_EQ(run.exitCode, c.exitCode) << run.err;
        const auto lines = Lines(run.err);
        ASSERT_FALSE(lines.empty());
        EXPECT_EQ(lines.back().rfind(c.verdict, 0), 0u) << run.err;
        EXPECT_NE(lines.back().find(" inputs moved)"), std::string::npos) << run.err;
        EXPECT_EQ(target.Stop(SIGTERM), 0);
    }
}

// Inputs that jitter between the two readings of every pass are judged against
// the host's outputs for both; a run that judged no pass is a failure of its own.
TEST_F(LinkCliTest, ValidateJudgesJitterAndNeverPassesWithoutAVerdict) {
    const struct {
        const char* name;
        const char* secondReading;  // to every second "I"; the first is 01 x 8
        const char* outputs;        // the host gives 183 (B7) on every output
        int exitCode;
        const char* verdict;
    } cases[] = {
        {"one LSB of jitter, healthy", "0202020202020202", "B7B7B7B7B7B7B7B7", 0, "MATCH: "},
        {"one LSB of jitter, output 3 9 LSB off", "0101020101010102", "B7B7C0B7B7B7B7B7", 3,
         "MISMATCH: "},
        {"inputs far apart, output 3 off", "8080808080808080", "B7B7C0B7B7B7B7B7", 4,
         "NO VERDICT: "},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        PtyModule module;
        ASSERT_TRUE(module.Ok());
        int asked = 0;
        module.Serve([&](char b) -> std::string {
            if (b == 'O') return c.outputs;
            if (b != 'I') return {};
            return asked++ % 2 == 0 ? "0101010101010101" : c.secondReading;
        });
        const fs::path junit = dir_ / "validate.xml";
        const CliRun run =
            RunCli("validate --port " + ShellQuote(module.Path()) + " --net " +
                   ShellQuote(BiasNet()) + " --passes 3 --junit " + ShellQuote(junit.string()));
        EXPECT_EQ(run.exitCode, c.exitCode) << run.err;
        const auto lines = Lines(run.err);
        ASSERT_FALSE(lines.empty());
        EXPECT_EQ(lines.back().rfind(c.verdict, 0), 0u) << run.err;
        const std::string xml = ReadWholeFile(junit);
        EXPECT_EQ(xml.find("<failure") != std::string::npos, c.exitCode != 0) << xml;
        if (c.exitCode == 4) {
            EXPECT_NE(xml.find("type=\"no verdict\""), std::string::npos) << xml;
            EXPECT_EQ(xml.find("<skipped"), std::string::npos) << xml;
        }
    }
}

TEST_F(LinkCliTest, RecordingReplaysIntoMonitorWithTheSameValues) {
    CliChild sweeping({"target"});
    const std::string device = sweeping.ReadLine();
    ASSERT_FALSE(device.empty());
    // t_ms starts at 0 and only goes forward.
    const CliRun recorded =
        RunCli("monitor --port " + ShellQuote(device) + " --passes 4 --timestamps");
    EXPECT_EQ(sweeping.Stop(SIGTERM), 0);
    ASSERT_EQ(recorded.exitCode, 0) << recorded.err;
    const auto lines = Lines(recorded.out);
    ASSERT_EQ(lines.size(), 5u);
    EXPECT_EQ(lines[0].substr(0, 18), "time\tt_ms\tin1\tin2\t");
    long previous = -1;
    for (std::size_t k = 1; k < lines.size(); ++k) {
        const auto col = Columns(lines[k]);
        ASSERT_EQ(col.size(), 18u);
        EXPECT_EQ(col[0].size(), 29u) << col[0];  // 2026-12-08T23:40:01.123+01:00
        EXPECT_EQ(col[0][10], 'T');
        EXPECT_EQ(col[0][19], '.');
        const long ms = std::stol(col[1]);
        EXPECT_EQ(k == 1, ms == 0);
        EXPECT_GT(ms, previous);
        previous = ms;
    }
    const std::string file = (dir_ / "recording.tsv").string();
    std::ofstream(file) << recorded.out;

    CliChild replaying({"target", "--replay", file});
    const std::string replayDevice = replaying.ReadLine();
    ASSERT_FALSE(replayDevice.empty());
    const CliRun replayed = RunCli("monitor --port " + ShellQuote(replayDevice) + " --passes 5");
    EXPECT_EQ(replaying.Stop(SIGTERM), 0);
    ASSERT_EQ(replayed.exitCode, 0) << replayed.err;
    const auto played = Lines(replayed.out);
    ASSERT_EQ(played.size(), 5u);
    for (std::size_t k = 0; k < 5; ++k) {
        const std::string& source = lines[1 + k % 4];  // it loops at the end
        EXPECT_EQ(played[k], source.substr(source.find('\t', source.find('\t') + 1) + 1));
    }

    // validate reads "I" twice a pass: both readings come from the same line.
    const std::string steps = (dir_ / "steps.tsv").string();
    std::ofstream stepFile(steps);
    for (int k = 1; k <= 4; ++k) {
        for (int i = 0; i < 8; ++i) stepFile << k << '\t';
        for (int i = 0; i < 8; ++i) stepFile << 128 << (i < 7 ? '\t' : '\n');
    }
    stepFile.close();
    CliChild again({"target", "--replay", steps});
    const std::string againDevice = again.ReadLine();
    ASSERT_FALSE(againDevice.empty());
    const std::string zeroNet = (dir_ / "zero.net").string();
    std::ofstream zero(zeroNet);
    for (int i = 0; i < 280; ++i) zero << "0\n";
    zero.close();
    const CliRun validated = RunCli("validate --port " + ShellQuote(againDevice) + " --net " +
                                    ShellQuote(zeroNet) + " --passes 5");
    EXPECT_EQ(again.Stop(SIGTERM), 0);
    EXPECT_EQ(validated.exitCode, 0) << validated.err;
    EXPECT_NE(validated.err.find("(5 passes compared, 0 failed, 0 inputs moved)"),
              std::string::npos)
        << validated.err;

    const CliRun empty = RunCli("target --replay /dev/null");
    EXPECT_EQ(empty.exitCode, 1);
    EXPECT_NE(empty.err.find("no line with values"), std::string::npos);
}

TEST_F(LinkCliTest, TimestampsCarryTheLocalOffset) {
    CliChild target({"target", "--inputs", "1,1,1,1,1,1,1,1"});
    const std::string device = target.ReadLine();
    ASSERT_FALSE(device.empty());
    const struct {
        const char* tz;
        const char* offset;
    } cases[] = {{"UTC0", "+00:00"}, {"XST-05:30", "+05:30"}, {"YST8", "-08:00"}};
    for (const auto& c : cases) {
        const std::string cmd = std::string("TZ=") + c.tz + " " +
                                ShellQuote(std::getenv("PELKORA_CLI")) + " monitor --port " +
                                ShellQuote(device) + " --passes 1 --timestamps";
        FILE* pipe = ::popen(cmd.c_str(), "r");
        ASSERT_NE(pipe, nullptr);
        char buffer[512];
        std::string out;
        while (std::fgets(buffer, sizeof buffer, pipe)) out += buffer;
        ::pclose(pipe);
        const auto lines = Lines(out);
        ASSERT_EQ(lines.size(), 2u) << out;
        EXPECT_EQ(lines[1].substr(23, 6), c.offset) << c.tz;
    }
    EXPECT_EQ(target.Stop(SIGTERM), 0);
}

TEST_F(LinkCliTest, TargetNeverBlocksOnAClientThatDoesNotRead) {
    const std::string link = (dir_ / "com1").string();
    CliChild target({"target", "--link", link});
    const std::string device = target.ReadLine();
    ASSERT_FALSE(device.empty());
    const int fd = ::open(device.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
    ASSERT_GE(fd, 0);
    const std::string commands(3000, 'I');  // far more replies than the terminal holds
    for (std::size_t done = 0; done < commands.size();) {
        const ssize_t n = ::write(fd, commands.data() + done, commands.size() - done);
        if (n > 0)
            done += static_cast<std::size_t>(n);
        else
            ::usleep(1000);
    }
    ::usleep(200000);
    EXPECT_EQ(target.Stop(SIGTERM), 0);
    ::close(fd);
    EXPECT_FALSE(fs::exists(fs::symlink_status(link)));

    // A link path that exists is refused, whatever it is, and left alone.
    std::ofstream(dir_ / "taken") << "keep";
    const CliRun taken = RunCli("target --link " + ShellQuote((dir_ / "taken").string()));
    EXPECT_EQ(taken.exitCode, 1);
    EXPECT_EQ(ReadWholeFile(dir_ / "taken"), "keep");
    fs::create_symlink(dir_ / "elsewhere", dir_ / "dangling");
    EXPECT_EQ(RunCli("target --link " + ShellQuote((dir_ / "dangling").string())).exitCode, 1);
    EXPECT_EQ(fs::read_symlink(dir_ / "dangling"), dir_ / "elsewhere");
}

TEST_F(LinkCliTest, TargetWhoseLogReaderIsGoneEndsAndRemovesItsLink) {
    // As `target --verbose --link L 2>&1 | head -1`.
    const std::string link = (dir_ / "com1").string();
    CliChild target({"target", "--verbose", "--link", link});
    const std::string device = target.ReadLine();
    ASSERT_FALSE(device.empty());
    target.CloseOutputs();
    (void)RunCli("monitor --port " + ShellQuote(device) + " --passes 1");  // sets it logging
    EXPECT_EQ(target.Stop(0), 1);  // a write error, not SIGPIPE
    EXPECT_FALSE(fs::exists(fs::symlink_status(link)));
}

TEST_F(LinkCliTest, TargetEndsOnEveryTerminationSignal) {
    for (int signal : {SIGINT, SIGTERM, SIGHUP}) {
        const std::string link = (dir_ / ("sig" + std::to_string(signal))).string();
        CliChild target({"target", "--link", link});
        ASSERT_FALSE(target.ReadLine().empty());
        EXPECT_EQ(target.Stop(signal), 0) << signal;
        EXPECT_FALSE(fs::exists(fs::symlink_status(link))) << signal;
    }
}

}  // namespace
