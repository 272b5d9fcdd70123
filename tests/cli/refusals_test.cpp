// What every command refuses before it does any work: an output that is one of its
// inputs, a file of another kind in the way of an output, numbers out of range,
// an --out that cannot be written.

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>

#include "support/cli_runner.h"

namespace {

namespace fs = std::filesystem;

class Refusals : public ::testing::Test {
protected:
    void SetUp() override {
        dir_ = fs::temp_directory_path() / ("pelkora-refusals-" + std::to_string(::getpid()));
        fs::create_directories(dir_);
        std::ofstream net(dir_ / "w.txt");
        for (int i = 0; i < 280; ++i) net << (i % 7) * 1000000 - 3000000 << '\n';
        net.close();
        std::ofstream data(dir_ / "data.txt");
        for (int r = 0; r < 40; ++r) {
            for (int i = 0; i < 16; ++i) data << (r * 7 + i * 13) % 256 << (i < 15 ? '\t' : '\n');
        }
        data.close();
        ASSERT_EQ(RunCli("export " + Q("t.s19") + " --net " + Q("w.txt")).exitCode, 0);
        ASSERT_EQ(RunCli("verify " + Q("t.s19") + " --junit " + Q("report.xml")).exitCode, 0);
        fs::create_symlink(dir_ / "data.txt", dir_ / "data-link.txt");
        fs::create_hard_link(dir_ / "data.txt", dir_ / "data-hard.txt");
        fs::copy_file(dir_ / "w.txt", dir_ / "w2.txt");
    }
    void TearDown() override { fs::remove_all(dir_); }
    std::string Q(const char* name) const { return ShellQuote((dir_ / name).string()); }
    std::string Contents(const char* name) const { return ReadWholeFile(dir_ / name); }

    fs::path dir_;
};

TEST_F(Refusals, OutputsNeverReplaceInputsNorFilesOfAnotherKind) {
    const struct {
        std::string args;
        int exitCode;
        const char* err;        // part of stderr
        const char* untouched;  // a file that must keep its bytes ("": none)
    } cases[] = {
        {"train " + Q("data.txt") + " --out " + Q("data.txt"), 2, "is the same file as the input",
         "data.txt"},
        {"train " + Q("data.txt") + " --out " + Q("data-link.txt"), 2,
         "is the same file as the input", "data.txt"},
        {"train " + Q("data-hard.txt") + " --out " + Q("data.txt"), 2,
         "is the same file as the input", "data.txt"},
        {"train " + Q("data.txt") + " --from " + Q("w.txt") + " --out " + Q("w.txt"), 2,
         "is the same file as the input", "w.txt"},
        {"export " + Q("w.txt"), 2, "exists and is not a flash image", "w.txt"},
        {"export " + Q("w.txt") + " --net " + Q("w.txt"), 2, "is the same file as the input",
         "w.txt"},
        {"export " + Q("t.s19") + " --net " + Q("w.txt"), 0, "", ""},
        {"decode " + Q("t.s19") + " --out " + Q("t.s19"), 2, "is the same file as the input",
         "t.s19"},
        {"decode " + Q("t.s19") + " --out " + Q("data.txt"), 2,
         "exists and is not an ASCII net file", "data.txt"},
        {"decode " + Q("t.s19") + " --out " + Q("w2.txt"), 0, "", ""},
        {"verify " + Q("t.s19") + " --net " + Q("w.txt") + " --junit " + Q("w.txt"), 2,
         "is the same file as the input", "w.txt"},
        {"verify " + Q("t.s19") + " --junit " + Q("data.txt"), 2,
         "exists and is not a JUnit report", "data.txt"},
        {"verify " + Q("t.s19") + " --junit " + Q("report.xml"), 0, "", ""},
        {"validate --port " + Q("nowhere") + " --net " + Q("w.txt") + " --junit " + Q("w.txt"), 2,
         "is the same file as the input", "w.txt"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.args);
        const std::string before = *c.untouched ? Contents(c.untouched) : "";
        const CliRun run = RunCli(c.args);
        EXPECT_EQ(run.exitCode, c.exitCode) << run.err;
        EXPECT_NE(run.err.find(c.err), std::string::npos) << run.err;
        if (*c.untouched) {
            EXPECT_EQ(Contents(c.untouched), before);
        }
    }
    // --force replaces a file of another kind, never an input.
    EXPECT_EQ(RunCli("decode " + Q("t.s19") + " --out " + Q("data.txt") + " --force").exitCode, 0);
    EXPECT_EQ(Contents("data.txt"), Contents("w2.txt"));
    EXPECT_EQ(RunCli("export " + Q("t.s19") + " --net " + Q("t.s19") + " --force").exitCode, 2);
}

TEST_F(Refusals, NumbersOutOfRangeAreUsageErrorsThatNameTheRange) {
    const std::string train = "train --quiet " + Q("data.txt") + " --out " + Q("o.txt");
    const struct {
        std::string args;
        const char* err;
    } cases[] = {
        {train + " --holdout nan", "must be a number, 0..0.9: nan"},
        {train + " --holdout 0.95", "must be a number, 0..0.9: 0.95"},
        {train + " --time-limit nan", "must be a number, more than 0 up to 1000000: nan"},
        {train + " --time-limit 0", "must be a number, more than 0 up to 1000000: 0"},
        {train + " --time-limit inf", "more than 0 up to 1000000: inf"},
        {train + " --seed -1", "must be a whole number in 0..18446744073709551615: -1"},
        {train + " --seed 18446744073709551616", "0..18446744073709551615: 18446744073709551616"},
        {train + " --seed 1x", "0..18446744073709551615: 1x"},
        {"validate --port " + Q("nowhere") + " --net " + Q("w.txt") + " --passes -3",
         "must be a whole number in 0..2147483647: -3"},
        {"validate --port " + Q("nowhere") + " --net " + Q("w.txt") + " --tolerance 256",
         "must be a whole number in 0..255: 256"},
        {"quantize --net " + Q("w.txt") + " --seed -5", "0..18446744073709551615: -5"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.args);
        const CliRun run = RunCli(c.args);
        EXPECT_EQ(run.exitCode, 2) << run.err;
        EXPECT_NE(run.err.find(c.err), std::string::npos) << run.err;
        EXPECT_LT(run.err.size(), 400u) << run.err;  // no limit printed as 300 digits
        EXPECT_FALSE(fs::exists(dir_ / "o.txt"));
    }
}

TEST_F(Refusals, TrainFindsAnOutputThatCannotBeWrittenBeforeItTrains) {
    fs::create_directories(dir_ / "folder");
    const struct {
        std::string out;
        const char* err;
    } cases[] = {
        {Q("folder"), "folder: Error opening file: is a folder, not a file"},
        {Q("missing/o.txt"), "does not exist"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.out);
        // A run of 100 s would take its whole time limit: the refusal comes first.
        const CliRun run = RunCli("train --quiet " + Q("data.txt") +
                                  " --holdout 0 --time-limit "
                                  "100 --out " +
                                  c.out);
        EXPECT_EQ(run.exitCode, 1) << run.err;
        EXPECT_NE(run.err.find(c.err), std::string::npos) << run.err;
        EXPECT_EQ(run.out, "");
    }
    const CliRun folder = RunCli("train --quiet " + Q("folder") + " --out " + Q("o.txt"));
    EXPECT_EQ(folder.exitCode, 1);
    EXPECT_NE(folder.err.find("folder: Error reading file: is a folder, not a file"),
              std::string::npos)
        << folder.err;
    EXPECT_EQ(fs::directory_iterator(dir_ / "folder"), fs::directory_iterator());
}

TEST_F(Refusals, NoRowsHeldOutMeansNoHeldOutFigures) {
    const std::string args =
        "train --quiet " + Q("data.txt") + " --holdout 0 --time-limit 2 --out " + Q("o.txt");
    const CliRun text = RunCli(args);
    ASSERT_EQ(text.exitCode, 0) << text.err;
    EXPECT_NE(text.out.find("n/a (no rows held out)"), std::string::npos) << text.out;
    const CliRun json = RunCli(args + " --json");
    ASSERT_EQ(json.exitCode, 0) << json.err;
    EXPECT_NE(json.out.find("\"held_out\":null"), std::string::npos) << json.out;
    EXPECT_NE(json.out.find("\"quantization_cost\":null"), std::string::npos) << json.out;
}

}  // namespace
