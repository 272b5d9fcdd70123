#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>
#include <string>

#include "network/net_file_reader.h"
#include "support/cli_runner.h"

namespace {

namespace fs = std::filesystem;

std::string ReadAll(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

class TrainCli : public ::testing::Test {
protected:
    void SetUp() override {
        m_dir = fs::temp_directory_path() / ("pelkora-train-" + std::to_string(::getpid()));
        fs::create_directories(m_dir);
        // Outputs mirror the inputs; a header and CR LF as the recorder writes them.
        std::ofstream train(m_dir / "train000.txt", std::ios::binary);
        train << "in1\tin2\tin3\tin4\tin5\tin6\tin7\tin8\tout1\tout2\tout3\tout4\tout5\tout6\tout7"
                 "\tout8\r\n";
        std::mt19937 rng(4);
        for (int r = 0; r < 40; ++r) {
            int v[8];
            for (int& x : v) x = static_cast<int>(rng() % 256);
            for (int i = 0; i < 16; ++i) train << v[i < 8 ? i : 15 - i] << (i < 15 ? "\t" : "\r\n");
        }
        std::ofstream(m_dir / "bad.txt") << "1 2 3 4 5 6 7 8 9 10 11 12 13 14 15 16\n1 2 3\n";
        std::ofstream(m_dir / "few.txt") << "1 2 3 4 5 6 7 8 9 10 11 12 13 14 15 16\n";
    }
    void TearDown() override { fs::remove_all(m_dir); }
    std::string Path(const char* name) const { return ShellQuote((m_dir / name).string()); }

    fs::path m_dir;
};

TEST_F(TrainCli, ExitStatuses) {
    const struct {
        std::string args;
        int exitCode;
        const char* err;
    } cases[] = {
        {Path("bad.txt") + " --out " + Path("o.txt"), 1,
         "bad.txt: Error reading file: line 2: expected 16 values, found 3"},
        {Path("few.txt") + " --out " + Path("o.txt"), 1, "1 rows, at least 16 needed"},
        {Path("missing.txt") + " --out " + Path("o.txt"), 1,
         "missing.txt: Error opening file: No such file or directory"},
        {Path("train000.txt") + " --from " + Path("missing.txt") + " --out " + Path("o.txt"), 1,
         "Error opening file"},
        {Path("train000.txt") + " --out " + Path("no/such/dir/o.txt"), 1, "does not exist"},
        {Path("train000.txt"), 2, "--out is required"},
        {Path("train000.txt") + " --out " + Path("o.txt") + " --holdout 1", 2, ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.args);
        const CliRun run = RunCli("train --quiet " + c.args);
        EXPECT_EQ(run.exitCode, c.exitCode) << run.err;
        EXPECT_NE(run.err.find(c.err), std::string::npos) << run.err;
        EXPECT_FALSE(fs::exists(m_dir / "o.txt"));
    }
}

TEST_F(TrainCli, SameSeedWritesTheSameNetFileOfModuleWeights) {
    const std::string args = "train --quiet " + Path("train000.txt") + " --seed 3 --out ";
    const CliRun a = RunCli(args + Path("a.txt"));
    ASSERT_EQ(a.exitCode, 0) << a.err;
    const CliRun b = RunCli(args + Path("b.txt") + " --json");
    ASSERT_EQ(b.exitCode, 0) << b.err;
    const std::string net = ReadAll(m_dir / "a.txt");
    EXPECT_EQ(net, ReadAll(m_dir / "b.txt"));
    EXPECT_NE(a.out.find("quantization cost (held out, module - float RMSE)"), std::string::npos);
    EXPECT_EQ(b.out.rfind("{\"net\":", 0), 0u);
    EXPECT_NE(b.out.find("\"module\":{\"train\":{\"outputs\":["), std::string::npos);
    // 32 rows trained on: the report says so, in words and in the JSON.
    EXPECT_NE(a.out.find("warning: Only 32 rows to train on"), std::string::npos) << a.out;
    EXPECT_NE(b.out.find("\"warnings\":[\"Only 32 rows to train on"), std::string::npos) << b.out;
    EXPECT_NE(b.out.find("\"validation\":{\"rows\":32,\"folds\":4,"), std::string::npos);
    // The chosen decays, the output layer's too, in both forms.
    EXPECT_NE(a.out.find(", output weight decay "), std::string::npos) << a.out;
    EXPECT_NE(b.out.find("\"output_decay\":"), std::string::npos) << b.out;

    // Every value a module weight x 2,000,000, one a line with CR LF.
    std::istringstream in(net);
    FileWeights w{};
    ASSERT_EQ(ReadAsciiNet(in, w).status, NetReadStatus::Ok);
    for (std::int32_t v : w) EXPECT_EQ(v % 2'000'000, 0);
    EXPECT_NE(net.find("\r\n"), std::string::npos);

    // Nothing held out: the cross-validation estimate stands in, and says so.
    const CliRun none = RunCli(args + Path("d.txt") + " --holdout 0");
    EXPECT_EQ(none.exitCode, 0) << none.err;
    EXPECT_NE(none.out.find("no rows held out: the figure above is the cross-validation estimate"),
              std::string::npos)
        << none.out;

    // Training on from that net keeps at least its quality.
    const CliRun from = RunCli(args + Path("c.txt") + " --from " + Path("a.txt"));
    EXPECT_EQ(from.exitCode, 0) << from.err;
}

}  // namespace
