#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

#include "cli/vector_stream.h"
#include "network/evaluators.h"
#include "support/cli_runner.h"

namespace {

namespace fs = std::filesystem;

struct LineCase {
    const char* line;
    LineKind kind;
};

TEST(InputLines, AreParsedSkippedOrRejected) {
    const LineCase cases[] = {
        {"1 2 3 4 5 6 7 8", LineKind::Vector},
        {"0\t255\t0\t255\t0\t255\t0\t255\r", LineKind::Vector},        // CR LF file
        {"1 2 3 4 5 6 7 8 9 10 11 12 13 14 15 16", LineKind::Vector},  // a training line
        {"  +1 2 3 4 5 6 7 8", LineKind::Vector},
        {"", LineKind::Skip},
        {" \t \r", LineKind::Skip},
        {"in1\tin2\tin3\tin4\tin5\tin6\tin7\tin8\tout1", LineKind::Skip},  // a header
        {"# comment", LineKind::Skip},
        {"1 2 3 4 5 6 7", LineKind::Error},
        {"1 2 3 4 5 6 7 256", LineKind::Error},
        {"-1 2 3 4 5 6 7 8", LineKind::Error},
        {"1 2 x 4 5 6 7 8", LineKind::Error},
        {"1 2 3.5 4 5 6 7 8", LineKind::Error},
        {"1 2 3 4 5 6 7 99999999999999999999999", LineKind::Error},
    };
    for (const LineCase& c : cases) {
        NetInputs in{};
        std::string error;
        EXPECT_EQ(ParseInputLine(c.line, in, error), c.kind) << '"' << c.line << '"';
        if (c.kind == LineKind::Error) {
            EXPECT_FALSE(error.empty()) << c.line;
        }
    }
    NetInputs in{};
    std::string error;
    ASSERT_EQ(ParseInputLine("9 8 7 6 5 4 3 255 1000", in, error), LineKind::Vector);
    EXPECT_EQ(in, (NetInputs{9, 8, 7, 6, 5, 4, 3, 255}));
}

TEST(VectorStream, StopsAtTheFirstBadLineNamingIt) {
    std::istringstream in("1 1 1 1 1 1 1 1\n\nin1 in2\n1 1 1 1 1 1 1 300\n2 2 2 2 2 2 2 2\n");
    std::ostringstream out;
    int calls = 0;
    const StreamResult r = StreamVectors(in, out, [&](const NetInputs&) {
        ++calls;
        return NetOutputs{1, 2, 3, 4, 5, 6, 7, 8};
    });
    EXPECT_FALSE(r.ok);
    EXPECT_EQ(r.vectors, 1u);
    EXPECT_EQ(calls, 1);
    EXPECT_NE(r.error.find("line 4"), std::string::npos) << r.error;
    EXPECT_EQ(out.str(), "1\t2\t3\t4\t5\t6\t7\t8\n");
}

TEST(VectorStream, LinesSpanningReadChunksAndAMissingFinalNewline) {
    // Enough lines to cross the 64 KiB read chunks at arbitrary points.
    std::string text;
    for (int n = 0; n < 20000; ++n) text += std::to_string(n % 256) + " 0 0 0 0 0 0 7\n";
    text += "1 2 3 4 5 6 7 8";  // no line end
    std::istringstream in(text);
    std::ostringstream out;
    std::size_t sum = 0;
    const StreamResult r = StreamVectors(in, out, [&](const NetInputs& v) {
        sum += v[0] + v[7];
        return NetOutputs{};
    });
    ASSERT_TRUE(r.ok) << r.error;
    EXPECT_EQ(r.vectors, 20001u);
    std::size_t expected = 8 + 1;
    for (int n = 0; n < 20000; ++n) expected += (n % 256) + 7;
    EXPECT_EQ(sum, expected);
}

class SimulateCliTest : public ::testing::Test {
protected:
    void SetUp() override {
        dir_ = fs::temp_directory_path() /
               ("pelkora-sim-" +
                std::string(::testing::UnitTest::GetInstance()->current_test_info()->name()));
        fs::create_directories(dir_);
    }
    void TearDown() override { fs::remove_all(dir_); }

    std::string NetFile(std::int32_t outputBias) {
        std::string text;
        for (int n = 0; n < NET_WEIGHT_COUNT; ++n) {
            text += std::to_string(n >= OutputWeightIndex(NET_HIDDEN_COUNT, 0) ? outputBias : 0);
            text += "\n";
        }
        return Write("net.txt", text);
    }

    std::string Write(const std::string& name, const std::string& text) {
        std::ofstream(dir_ / name, std::ios::binary) << text;
        return ShellQuote((dir_ / name).string());
    }

    fs::path dir_;
};

TEST_F(SimulateCliTest, EnginesGiveTheReferenceOutputs) {
    struct {
        std::string args;
        const char* line;
    } cases[] = {
        {"simulate", "127\t127\t127\t127\t127\t127\t127\t127\n"},
        {"simulate --engine int", "128\t128\t128\t128\t128\t128\t128\t128\n"},
        {"simulate --net " + NetFile(10000000), "186\t186\t186\t186\t186\t186\t186\t186\n"},
        {"simulate --engine int --net " + NetFile(10000000),
         "183\t183\t183\t183\t183\t183\t183\t183\n"},
    };
    for (const auto& c : cases) {
        const CliRun run =
            RunCli(c.args, "in1\tin2\r\n0 0 0 0 0 0 0 0\r\n\r\n255 1 2 3 4 5 6 7 8\n");
        EXPECT_EQ(run.exitCode, 0) << c.args << run.err;
        EXPECT_EQ(run.out, std::string(c.line) + c.line) << c.args;
        EXPECT_EQ(run.err, "");
    }
}

TEST_F(SimulateCliTest, FailuresUseTheSystemTextsAndExitCodes) {
    struct {
        std::string args;
        std::string input;
        int exitCode;
        const char* err;
        bool outEmpty;
    } cases[] = {
        {"simulate --net " + ShellQuote((dir_ / "none.txt").string()), "0 0 0 0 0 0 0 0\n", 1,
         "Error opening file\n", true},
        {"simulate --net " + Write("short.txt", "1 2 3"), "0 0 0 0 0 0 0 0\n", 1,
         "Error reading file\n", true},
        {"simulate", "0 0 0 0 0 0 0 0\n1 2 3\n", 1, "pelkora-cli simulate: line 2: ", false},
        {"simulate --engine double", "", 2, "", true},
        {"frobnicate", "", 2, "", true},
    };
    for (const auto& c : cases) {
        const CliRun run = RunCli(c.args, c.input);
        EXPECT_EQ(run.exitCode, c.exitCode) << c.args;
        EXPECT_EQ(run.err.rfind(c.err, 0), 0u) << c.args << ": " << run.err;
        EXPECT_EQ(run.out.empty(), c.outEmpty) << c.args;
    }
}

TEST_F(SimulateCliTest, HelpAndVersion) {
    const CliRun version = RunCli("--version");
    EXPECT_EQ(version.exitCode, 0);
    EXPECT_NE(version.out.find("1.0.0.1"), std::string::npos) << version.out;
    const CliRun help = RunCli("--help");
    EXPECT_EQ(help.exitCode, 0);
    EXPECT_NE(help.out.find("simulate"), std::string::npos);
}

}  // namespace
