// One message rule and one exit code per kind of failure, whichever sub-command
// meets it: "pelkora-cli CMD: FILE: <system text>: <cause>" and exit 1 for a file
// that cannot be opened, read or written; exit 2 for an empty option value.

#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "files/hex_net_file.h"
#include "support/cli_runner.h"

#ifndef _WIN32
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>

#include "link/cli_child.h"
#endif

namespace {

namespace fs = std::filesystem;

// A failure kind: the file to name and the words after its name.
struct Kind {
    const char* file;
    const char* text;
};

class FailureRule : public ::testing::Test {
protected:
    void SetUp() override {
        dir_ = fs::temp_directory_path() /
               ("pelkora-failure-rule-" + std::to_string(::getpid()) + "-" +
                ::testing::UnitTest::GetInstance()->current_test_info()->name());
        fs::remove_all(dir_);
        fs::create_directories(dir_ / "folder");
        std::string net;
        for (int n = 0; n < NET_WEIGHT_COUNT; ++n) net += std::to_string(n) + "\n";
        Write("net.txt", net);
        Write("short.txt", "1 2 3");
        std::ostringstream image;
        ASSERT_TRUE(WriteHexNetFile(image, ModuleWeights{}, 0xB000, FORMAT_S19));
        Write("net.s19", image.str());
        std::string rows;
        for (int r = 0; r < 20; ++r) rows += "1 2 3 4 5 6 7 8 9 10 11 12 13 14 15 16\n";
        Write("rows.txt", rows);
    }
    void TearDown() override { fs::remove_all(dir_); }

    void Write(const std::string& name, const std::string& text) {
        std::ofstream(dir_ / name, std::ios::binary) << text;
    }
    std::string P(const std::string& name) const { return (dir_ / name).string(); }
    std::string Q(const std::string& name) const { return ShellQuote(P(name)); }

    // Runs `command args` with each kind's file in place of `slot`: exit 1 and one
    // line, "pelkora-cli COMMAND: FILE: text".
    void ExpectEachKindFails(const char* command, const std::string& args, const char* slot,
                             const std::vector<Kind>& kinds);

    fs::path dir_;
};

const Kind kMissing{"missing.txt", "Error opening file: No such file or directory"};
const Kind kShortNet{"short.txt",
                     "Error reading file: line 1: the file ends after 3 of 280 values"};
#ifndef _WIN32
const Kind kFolder{"folder", "Error reading file: is a folder, not a file"};
#endif

void FailureRule::ExpectEachKindFails(const char* command, const std::string& args,
                                      const char* slot, const std::vector<Kind>& kinds) {
    for (const Kind& kind : kinds) {
        std::string line = args;
        line.replace(line.find(slot), std::strlen(slot), Q(kind.file));
        SCOPED_TRACE(std::string(command) + " " + line);
        const CliRun run = RunCli(std::string(command) + " " + line);
        EXPECT_EQ(run.exitCode, 1);
        EXPECT_EQ(run.err, "pelkora-cli " + std::string(command) + ": " + P(kind.file) + ": " +
                               kind.text + "\n");
    }
}

TEST_F(FailureRule, EveryCommandTellsANetFileThatDoesNotLoadTheSameWay) {
    // The command, and its arguments with NET where the net file goes.
    const struct {
        const char* command;
        std::string args;
    } commands[] = {
        {"simulate", "--net NET"},
        {"quantize", "--net NET --random 10"},
        {"export", Q("out.s19") + " --net NET"},
        {"verify", Q("net.s19") + " --net NET"},
        {"emulate", "--port " + Q("no-device") + " --net NET --passes 1"},
        {"validate", "--port " + Q("no-device") + " --net NET --passes 1"},
        {"train", Q("rows.txt") + " --out " + Q("o.txt") + " --from NET"},
#ifndef _WIN32
        {"target", "--net NET"},
#endif
    };
    std::vector<Kind> kinds = {kMissing, kShortNet};
#ifndef _WIN32
    kinds.push_back(kFolder);
#endif
    for (const auto& c : commands) {
        ExpectEachKindFails(c.command, c.args, "NET", kinds);
        EXPECT_FALSE(fs::exists(dir_ / "out.s19"));
        EXPECT_FALSE(fs::exists(dir_ / "o.txt"));
    }
}

TEST_F(FailureRule, EveryOtherNamedInputFailsTheSameWay) {
    const struct {
        const char* command;
        std::string args;  // FILE where the input goes
    } commands[] = {
        {"verify", "FILE"},
        {"decode", "FILE"},
        {"quantize", "--net " + Q("net.txt") + " --vectors FILE"},
        {"train", "FILE --out " + Q("o.txt")},
#ifndef _WIN32
        {"target", "--replay FILE"},
#endif
    };
    std::vector<Kind> kinds = {kMissing};
#ifndef _WIN32
    kinds.push_back(kFolder);
#endif
    for (const auto& c : commands) ExpectEachKindFails(c.command, c.args, "FILE", kinds);
}

TEST_F(FailureRule, EveryWholeFileOutputThatCannotBeWrittenFailsTheSameWay) {
    const std::string out = P("no-folder") + "/out";
    const struct {
        const char* command;
        std::string args;
    } commands[] = {
        {"export", ShellQuote(out)},
        {"decode", Q("net.s19") + " --out " + ShellQuote(out)},
        {"verify", Q("net.s19") + " --junit " + ShellQuote(out)},
        {"train", Q("rows.txt") + " --out " + ShellQuote(out)},
    };
    for (const auto& c : commands) {
        SCOPED_TRACE(std::string(c.command) + " " + c.args);
        const CliRun run = RunCli(std::string(c.command) + " " + c.args);
        EXPECT_EQ(run.exitCode, 1);
        const std::string line = "pelkora-cli " + std::string(c.command) + ": " + out +
                                 ": Error opening file: its folder " + P("no-folder") +
                                 " does not exist\n";
        // verify prints its report before it writes the JUnit file.
        EXPECT_EQ(run.err, line);
    }
}

TEST_F(FailureRule, AnEmptyValueIsAUsageErrorInEveryCommand) {
    const std::string kEmpty = ShellQuote("");  // an empty argument in the platform's shell
    const std::string cases[] = {
        "simulate --net " + kEmpty,
        "quantize --net " + kEmpty,
        "quantize --net " + Q("net.txt") + " --vectors " + kEmpty,
        "export " + Q("o.s19") + " --net " + kEmpty,
        "verify " + kEmpty,
        "verify " + Q("net.s19") + " --net " + kEmpty,
        "verify " + Q("net.s19") + " --junit " + kEmpty,
        "decode " + Q("net.s19") + " --out " + kEmpty,
        "train " + kEmpty + " --out " + Q("o.txt"),
        "train " + Q("rows.txt") + " --out " + kEmpty,
        "train " + Q("rows.txt") + " --out " + Q("o.txt") + " --from " + kEmpty,
        "emulate --port " + Q("no-device") + " --net " + kEmpty,
        "validate --port " + Q("no-device") + " --net " + Q("net.txt") + " --junit " + kEmpty,
#ifndef _WIN32
        "target --replay " + kEmpty,
#endif
    };
    for (const std::string& args : cases) {
        SCOPED_TRACE(args);
        const CliRun run = RunCli(args);
        EXPECT_EQ(run.exitCode, 2) << run.err;
        EXPECT_NE(run.err.find("an empty value is not allowed"), std::string::npos) << run.err;
    }
}

#ifndef _WIN32
// A FIFO named as a training file: without a writer it reads as empty at once;
// with a writer that sends nothing the read gives up after its idle limit (3 s).
// Never a hang: the child is given far longer than either needs.
TEST_F(FailureRule, AFifoTrainingFileNeverHoldsTrain) {
    const std::string fifo = P("rows.fifo");
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    constexpr auto kPatience = std::chrono::seconds(60);
    {
        CliChild train({"train", "--quiet", fifo, "--out", P("o.txt")});
        EXPECT_EQ(train.Stop(0, kPatience), 1);
        EXPECT_EQ(train.Err(), "pelkora-cli train: 0 rows, at least 16 needed\n");
    }
    {
        // This test holds a writer that never writes.
        const int writer = ::open(fifo.c_str(), O_RDWR | O_NONBLOCK | O_CLOEXEC);
        ASSERT_GE(writer, 0);
        CliChild train({"train", "--quiet", fifo, "--out", P("o.txt")});
        EXPECT_EQ(train.Stop(0, kPatience), 1);
        EXPECT_EQ(train.Err(), "pelkora-cli train: " + fifo +
                                   ": Error reading file: no data came for 3000 ms\n");
        ::close(writer);
    }
    EXPECT_FALSE(fs::exists(dir_ / "o.txt"));
}
#endif

}  // namespace
