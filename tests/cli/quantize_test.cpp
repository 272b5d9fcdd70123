#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

#include "network/evaluators.h"
#include "network/quantization.h"
#include "support/cli_runner.h"

namespace {

namespace fs = std::filesystem;

class QuantizeCli : public ::testing::Test {
protected:
    void SetUp() override {
        m_dir = fs::temp_directory_path() / ("pelkora-quantize-" + std::to_string(::getpid()));
        fs::create_directories(m_dir);
        // Output 1's bias at v = 1: float 186, int 183.
        std::ofstream net(m_dir / "net.txt");
        for (int n = 0; n < NET_WEIGHT_COUNT; ++n)
            net << (n == OutputWeightIndex(NET_HIDDEN_COUNT, 0) ? 10'000'000 : 0) << '\n';
        std::ofstream(m_dir / "short.txt") << "1 2 3\n";
        // A training file: header, then 16 values a line.
        std::ofstream(m_dir / "train.txt") << "in1\tin2\tin3\tin4\tin5\tin6\tin7\tin8\tout1\n"
                                           << "1\t2\t3\t4\t5\t6\t7\t8\t0\t0\t0\t0\t0\t0\t0\t0\n"
                                           << "255 0 0 0 0 0 0 0 9 9 9 9 9 9 9 9\n";
        std::ofstream(m_dir / "bad.txt") << "1 2 3 4 5 6 7 8\n1 2 3 4 5 6 7 256\n";
    }
    void TearDown() override { fs::remove_all(m_dir); }
    // Quoted for the shell command line.
    std::string Path(const char* name) const { return ShellQuote((m_dir / name).string()); }

    fs::path m_dir;
};

TEST_F(QuantizeCli, ExitStatuses) {
    struct Case {
        std::string args;
        int exitCode;
        const char* err;  // part of stderr
    };
    const Case cases[] = {
        {"--net " + Path("net.txt"), 0, ""},
        {"--net " + Path("net.txt") + " --random 5 --seed 7 --tsv", 0, ""},
        {"--net " + Path("net.txt") + " --vectors " + Path("train.txt"), 0, ""},
        {"--net " + Path("missing.txt"), 1, "Error opening file"},
        {"--net " + Path("short.txt"), 1, "Error reading file"},
        {"--net " + Path("net.txt") + " --vectors " + Path("missing.txt"), 1,
         "missing.txt: Error opening file: No such file or directory"},
        {"--net " + Path("net.txt") + " --vectors " + Path("bad.txt"), 1,
         "bad.txt: Error reading file: line 2: value 256 is outside 0..255"},
#ifndef _WIN32  // a folder opens as a file only on POSIX
        {"--net " + Path("net.txt") + " --vectors " + ShellQuote(m_dir.string()), 1,
         "Error reading file: is a folder, not a file"},
#endif
        {"", 2, "--net is required"},
        {"--net " + Path("net.txt") + " --random 5 --vectors " + Path("train.txt"), 2, ""},
        {"--net " + Path("net.txt") + " --random -1", 2, ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.args);
        const CliRun run = RunCli("quantize " + c.args);
        EXPECT_EQ(run.exitCode, c.exitCode) << run.err;
        EXPECT_NE(run.err.find(c.err), std::string::npos) << run.err;
        if (c.exitCode != 0) {
            EXPECT_EQ(run.out, "");
        }
    }
}

TEST_F(QuantizeCli, TsvHasAHeaderAndOneLineOfBothEvaluatorsPerVector) {
    const CliRun run =
        RunCli("quantize --tsv --net " + Path("net.txt") + " --vectors " + Path("train.txt"));
    ASSERT_EQ(run.exitCode, 0) << run.err;
    const std::string header =
        "in1\tin2\tin3\tin4\tin5\tin6\tin7\tin8\tfloat1\tfloat2\tfloat3\tfloat4\tfloat5\t"
        "float6\tfloat7\tfloat8\tint1\tint2\tint3\tint4\tint5\tint6\tint7\tint8\n";
    EXPECT_EQ(run.out, header +
                           "1\t2\t3\t4\t5\t6\t7\t8\t186\t127\t127\t127\t127\t127\t127\t127\t"
                           "183\t128\t128\t128\t128\t128\t128\t128\n"
                           "255\t0\t0\t0\t0\t0\t0\t0\t186\t127\t127\t127\t127\t127\t127\t127\t"
                           "183\t128\t128\t128\t128\t128\t128\t128\n");
}

TEST_F(QuantizeCli, RandomReportIsTheLibrarysReportForTheSeed) {
    FileWeights w{};
    w[OutputWeightIndex(NET_HIDDEN_COUNT, 0)] = 10'000'000;
    std::ostringstream expected;
    WriteQuantizationReport(expected, RandomQuantizationReport(w, 300, 9));
    const CliRun run = RunCli("quantize --net " + Path("net.txt") + " --random 300 --seed 9");
    EXPECT_EQ(run.out, expected.str());
    const CliRun lines = RunCli("quantize --tsv --net " + Path("net.txt") + " --random 300");
    EXPECT_EQ(std::count(lines.out.begin(), lines.out.end(), '\n'), 301);
}

}  // namespace
