#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

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
    // A header (at the top, where headers go) and a blank line are no vectors.
    std::istringstream in("x y\n1 1 1 1 1 1 1 1\n\n1 1 1 1 1 1 1 300\n2 2 2 2 2 2 2 2\n");
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

// Lines far longer than a read chunk, and fields far longer than a message.
TEST(InputLines, OfAnyLengthKeepTheirValuesAndShortMessages) {
    const std::string blanks(128 * 1024, ' ');
    const std::string zeros(200 * 1024, '0');
    const std::string huge(10 * 1024 * 1024, '7');
    struct {
        std::string line;
        LineKind kind;
        std::uint16_t first;
        std::string error;
    } cases[] = {
        {blanks + "123 1 1 1 1 1 1 1", LineKind::Vector, 123, ""},
        {"+" + zeros + "45 1 1 1 1 1 1 1", LineKind::Vector, 45, ""},
        {"-" + zeros + " 1 1 1 1 1 1 1", LineKind::Vector, 0, ""},
        {"9 1 1 1 1 1 1 1" + blanks + huge, LineKind::Vector, 9, ""},
        {"9 1 1 1 1 1 1" + blanks, LineKind::Error, 9, "expected 8 values, found 7"},
        {"9 " + huge, LineKind::Error, 9, "value " + huge.substr(0, 40) + "... is outside 0..255"},
        {"9 1 x" + huge, LineKind::Error, 9, "'x" + huge.substr(0, 39) + "...' is not a number"},
        {"9 +-1", LineKind::Error, 9, "value +-1 is outside 0..255"},
        {"9 -+1", LineKind::Error, 9, "'-+1' is not a number"},
        {"x" + huge + " 1 1 1 1 1 1 1", LineKind::Skip, 0, ""},
    };
    for (const auto& c : cases) {
        NetInputs in{};
        std::string error;
        EXPECT_EQ(ParseInputLine(c.line, in, error), c.kind) << c.line.substr(0, 60);
        if (c.kind != LineKind::Skip) {
            EXPECT_EQ(in[0], c.first);
        }
        EXPECT_EQ(error, c.error);
    }
}

// Feeds `text` in pieces of `piece` bytes, then an error when `failAt` is reached.
ChunkReader PieceReader(const std::string& text, std::size_t piece,
                        std::size_t failAt = std::string::npos) {
    return [&text, piece, failAt, pos = std::size_t{0}](char* buffer, std::size_t size) mutable {
        if (pos >= failAt) {
            errno = EIO;
            return -1L;
        }
        const std::size_t n = std::min({piece, size, text.size() - pos, failAt - pos});
        std::copy_n(text.data() + pos, n, buffer);
        pos += n;
        return static_cast<long>(n);
    };
}

TEST(VectorStream, GivesTheSameVectorsHoweverTheInputIsCut) {
    // Lines longer than any read: a header, blanks before a value, zeros in one.
    std::string text = "head" + std::string(70000, 'x') + "\n1 2 3 4 5 6 7 8\n";
    text += std::string(150000, ' ') + "200 0 0 0 0 0 0 1\n" + std::string(70000, '0') +
            "3 3 3 3 3 3 3 3";
    const auto identity = [](const NetInputs& v) { return NetOutputs(v); };
    const std::string expected =
        "1\t2\t3\t4\t5\t6\t7\t8\n200\t0\t0\t0\t0\t0\t0\t1\n"
        "3\t3\t3\t3\t3\t3\t3\t3\n";
    for (const std::size_t piece : {std::size_t{1}, std::size_t{7}, std::size_t{1} << 20}) {
        std::ostringstream out;
        const StreamResult r = StreamVectors(PieceReader(text, piece), out, identity);
        EXPECT_TRUE(r.ok) << r.error;
        EXPECT_EQ(r.vectors, 3u);
        EXPECT_EQ(out.str(), expected) << piece;
    }
    // A read error mid-line: that line's last value may be cut, so it is not used.
    std::ostringstream out;
    const StreamResult r =
        StreamVectors(PieceReader("1 1 1 1 1 1 1 1\n2 2 2 2 2 2 2 25", 7, 30), out, identity);
    EXPECT_FALSE(r.ok);
    EXPECT_EQ(r.vectors, 1u);
    EXPECT_EQ(r.error, "error reading the inputs: " + std::string(std::strerror(EIO)));
    EXPECT_EQ(out.str(), "1\t1\t1\t1\t1\t1\t1\t1\n");
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
        std::string err;
        bool outEmpty;
    } cases[] = {
        {"simulate --net " + ShellQuote((dir_ / "none.txt").string()), "0 0 0 0 0 0 0 0\n", 1,
         "pelkora-cli simulate: " + (dir_ / "none.txt").string() +
             ": Error opening file: No such file or directory\n",
         true},
        {"simulate --net " + Write("short.txt", "1 2 3"), "0 0 0 0 0 0 0 0\n", 1,
         "pelkora-cli simulate: " + (dir_ / "short.txt").string() +
             ": Error reading file: line 1: the file ends after 3 of 280 values\n",
         true},
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

// An empty value never falls back to a default: it is a usage error, whatever
// the option.
TEST_F(SimulateCliTest, EmptyOptionValuesAreUsageErrors) {
#ifdef _WIN32
    // cmd.exe drops '' instead of passing an empty argument; the checks are the same
    // code on every platform.
    GTEST_SKIP() << "empty arguments cannot be passed through cmd.exe";
#endif
    const std::string out = ShellQuote((dir_ / "out.s19").string());
    const char* cases[] = {
        "simulate --net ''",
        "simulate --engine ''",
        "monitor --port ''",
        "monitor --port /dev/null --passes ''",
        "emulate --port /dev/null --net ''",
        "target --link ''",
        "target --net ''",
        "target --inputs ''",
        "export ''",
        "verify x.s19 --net ''",
        "decode x.s19 --out ''",
        "quantize --net ''",
        "quantize --net x.txt --vectors ''",
    };
    std::vector<std::string> all(std::begin(cases), std::end(cases));
    all.push_back("export " + out + " --net ''");
    all.push_back("export " + out + " --bank ''");
    all.push_back("export " + out + " --format ''");
    all.push_back("export " + out + " --net=");
    for (const std::string& args : all) {
        const CliRun run = RunCli(args, "0 0 0 0 0 0 0 0\n");
        EXPECT_EQ(run.exitCode, 2) << args;
        EXPECT_EQ(run.out, "") << args;
        EXPECT_NE(run.err.find("Run with --help"), std::string::npos) << args << ": " << run.err;
    }
    EXPECT_FALSE(fs::exists(dir_ / "out.s19"));
}

TEST_F(SimulateCliTest, UnreadableInputsAndHugeFieldsFailShortly) {
#ifndef _WIN32  // a folder as stdin is a POSIX read error; cmd.exe refuses it itself
    const CliRun dir = RunCliFrom("simulate", "", "/");
    EXPECT_EQ(dir.exitCode, 1);
    EXPECT_EQ(dir.err, "pelkora-cli simulate: error reading the inputs: " +
                           std::string(std::strerror(EISDIR)) + "\n");
#endif

    const CliRun huge = RunCli("simulate", "1 1 1 1 1 1 1 1\n1 " + std::string(10 << 20, '9'));
    EXPECT_EQ(huge.exitCode, 1);
    EXPECT_EQ(huge.out, "127\t127\t127\t127\t127\t127\t127\t127\n");
    EXPECT_LT(huge.err.size(), 120u) << huge.err.substr(0, 200);
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
