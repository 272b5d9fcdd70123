#include <gtest/gtest.h>

#include <filesystem>
#include <sstream>
#include <string>

#include "files/hex_net_file.h"
#include "files_test_support.h"
#include "support/cli_runner.h"

namespace {

namespace fs = std::filesystem;
using files_test::DecodeImage;
using files_test::ExpectedImage;
using files_test::HaveSrecCat;
using files_test::ScratchDirTest;
using files_test::VariedWeights;

using ExportCliTest = ScratchDirTest;

std::string Image(const ModuleWeights& weights, std::uint16_t start, HexFileFormat format) {
    std::ostringstream out;
    EXPECT_TRUE(WriteHexNetFile(out, weights, start, format));
    return out.str();
}

// Module weights that an ASCII net file yields exactly: file value = weight x 2,000,000
// (the largest module weight a file can hold is 1073).
ModuleWeights NetWeights() {
    ModuleWeights weights{};
    for (int n = 0; n < NET_WEIGHT_COUNT; ++n) {
        weights[n] = static_cast<std::int16_t>((n * 37) % 2147 - 1073);
    }
    return weights;
}

std::string NetFileText(const ModuleWeights& weights) {
    std::string text;
    for (std::int16_t w : weights) text += std::to_string(std::int64_t{w} * 2'000'000) + "\r\n";
    return text;
}

std::string Quoted(const fs::path& path) {
    return ShellQuote(path.string());
}

TEST_F(ExportCliTest, WritesTheSameBytesAsTheWindow) {
    const fs::path net = Write("net.txt", NetFileText(NetWeights()));
    struct {
        std::string args;
        const char* file;
        ModuleWeights weights;
        std::uint16_t start;
        HexFileFormat format;
        const char* shownAddress;
    } cases[] = {
        {"", "zero.s19", ModuleWeights{}, 0xB000, FORMAT_S19, "B000"},
        {" --net " + Quoted(net) + " --bank dc00 --format hex", "net.hex", NetWeights(), 0xDC00,
         FORMAT_HEX, "DC00"},
        {" --format S19 --bank C400 --net " + Quoted(net), "net.s19", NetWeights(), 0xC400,
         FORMAT_S19, "C400"},
    };
    for (const auto& c : cases) {
        const fs::path out = dir_ / c.file;
        const CliRun run = RunCli("export " + Quoted(out) + c.args);
        EXPECT_EQ(run.exitCode, 0) << c.args << run.err;
        EXPECT_EQ(run.err, "");
        EXPECT_EQ(run.out, "Weights saved in file " + out.string() + ", start adress " +
                               c.shownAddress + "\n");
        EXPECT_EQ(ReadWholeFile(out), Image(c.weights, c.start, c.format)) << c.args;
        if (HaveSrecCat()) {
            std::string bytes;
            ASSERT_TRUE(DecodeImage(out, c.format, c.start, bytes));
            EXPECT_EQ(bytes, ExpectedImage(c.weights)) << c.args;
        }
    }
}

TEST_F(ExportCliTest, ARelativeNameIsShownWithItsFullPath) {
    const fs::path previous = fs::current_path();
    fs::current_path(dir_);
    const CliRun run = RunCli("export rel.s19");
    fs::current_path(previous);
    EXPECT_EQ(run.exitCode, 0) << run.err;
    EXPECT_EQ(run.out,
              "Weights saved in file " + (dir_ / "rel.s19").string() + ", start adress B000\n");
    EXPECT_TRUE(fs::exists(dir_ / "rel.s19"));
}

TEST_F(ExportCliTest, FailuresLeaveTheExistingFileUntouched) {
    const fs::path plain = Write("plain", "x");
    const fs::path shortNet = Write("short.txt", "1 2 3");
    fs::create_symlink("/dev/full", dir_ / "full.s19");
    struct {
        std::string args;
        int exitCode;
        std::string err;
    } cases[] = {
        {" --net " + Quoted(dir_ / "none.txt"), 1,
         "pelkora-cli export: " + (dir_ / "none.txt").string() +
             ": Error opening file: No such file or directory\n"},
        {" --net " + Quoted(shortNet), 1,
         "pelkora-cli export: " + shortNet.string() + ": Error reading file: line 1: "},
        {" --bank E000", 2, ""},
        {" --format bin", 2, ""},
    };
    const std::string old = "S104B000AAA1\r\nold image\r\n";
    for (const auto& c : cases) {
        const fs::path out = Write("old.s19", old);
        const CliRun run = RunCli("export " + Quoted(out) + c.args);
        EXPECT_EQ(run.exitCode, c.exitCode) << c.args;
        EXPECT_EQ(run.err.rfind(c.err, 0), 0u) << c.args << ": " << run.err;
        EXPECT_EQ(run.out, "") << c.args;
        EXPECT_EQ(ReadWholeFile(out), old) << c.args;
    }
    struct {
        fs::path out;
        std::string err;
    } unwritable[] = {
        {plain / "net.s19", "pelkora-cli export: " + (plain / "net.s19").string() +
                                ": Error opening file: " + plain.string() + " is not a folder\n"},
        {dir_ / "full.s19", "pelkora-cli export: " + (dir_ / "full.s19").string() +
                                ": Error writing file: No space left on device\n"},
    };
    for (const auto& c : unwritable) {
        const CliRun run = RunCli("export " + Quoted(c.out));
        EXPECT_EQ(run.exitCode, 1) << c.out;
        EXPECT_EQ(run.err, c.err) << c.out;
        EXPECT_EQ(run.out, "");
    }
    EXPECT_EQ(ReadWholeFile(plain), "x");
    EXPECT_EQ(RunCli("export").exitCode, 2);
}

}  // namespace
