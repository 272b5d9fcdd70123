#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "files/hex_net_file.h"
#include "files_test_support.h"
#include "support/cli_runner.h"

namespace {

namespace fs = std::filesystem;
using files_test::Image;
using files_test::ScratchDirTest;
using files_test::VariedWeights;

using ImageCliTest = ScratchDirTest;

// Module weights a net file can hold.
ModuleWeights NetWeights() {
    ModuleWeights weights{};
    for (int n = 0; n < NET_WEIGHT_COUNT; ++n) {
        weights[n] = static_cast<std::int16_t>((n * 53) % 2147 - 1073);
    }
    return weights;
}

std::string NetFileText(const ModuleWeights& weights) {
    std::string text;
    for (std::int16_t w : weights) text += std::to_string(std::int64_t{w} * 2'000'000) + "\n";
    return text;
}

std::string Quoted(const fs::path& path) {
    return ShellQuote(path.string());
}

// decode then export to the same bank and format gives the image back byte for byte.
TEST_F(ImageCliTest, DecodeThenExportGivesTheImageBack) {
    const ModuleWeights weights = NetWeights();
    for (int bank = 0; bank < FLASH_BANK_COUNT; ++bank) {
        const auto start = static_cast<std::uint16_t>(FLASH_BANK_FIRST + bank * FLASH_BANK_SIZE);
        for (HexFileFormat format : {FORMAT_S19, FORMAT_HEX}) {
            const std::string image = Image(weights, start, format);
            const fs::path in = Write("in", image);
            const fs::path net = dir_ / "net.txt";
            const CliRun decoded = RunCli("decode " + Quoted(in) + " --out " + Quoted(net));
            ASSERT_EQ(decoded.exitCode, 0) << decoded.err;
            const fs::path out = dir_ / "out";
            const CliRun exported =
                RunCli("export " + Quoted(out) + " --net " + Quoted(net) + " --bank " +
                       FLASH_BANK_NAMES[bank] + " --format " + HexFileSuffix(format));
            ASSERT_EQ(exported.exitCode, 0) << exported.err;
            EXPECT_EQ(ReadWholeFile(out), image) << FLASH_BANK_NAMES[bank] << " " << format;
        }
    }
    // Without --out the same net file goes to stdout.
    const fs::path in = Write("in", Image(weights, 0xB000, FORMAT_S19));
    const CliRun run = RunCli("decode " + Quoted(in));
    EXPECT_EQ(run.exitCode, 0);
    EXPECT_EQ(run.out, ReadWholeFile(dir_ / "net.txt"));
}

TEST_F(ImageCliTest, VerifyReportsAndCompares) {
    const ModuleWeights weights = NetWeights();
    const fs::path image = Write("net.hex", Image(weights, 0xD400, FORMAT_HEX));
    const fs::path same = Write("same.txt", NetFileText(weights));
    ModuleWeights other = weights;
    other[3] = 7;
    other[275] = -9;
    const fs::path differs = Write("other.txt", NetFileText(other));
    const std::string header = "Format: Intel HEX\nBank: D400\nRecords: 72\nWeights: 280\n";

    const struct {
        std::string args;
        int exitCode;
        std::string out;
        std::string err;
    } cases[] = {
        {"verify " + Quoted(image), 0, header, ""},
        {"verify " + Quoted(image) + " --net " + Quoted(same), 0,
         header + "Same weights as " + same.string() + "\n", ""},
        {"verify " + Quoted(image) + " --net " + Quoted(differs), 3,
         header + "2 of 280 weights differ from " + differs.string() +
             ":\nweight 4 (hidden layer, neuron 4, input 1): image " + std::to_string(weights[3]) +
             ", net 7\nweight 276 (output layer, neuron 4, bias): image " +
             std::to_string(weights[275]) + ", net -9\n",
         ""},
        {"verify " + Quoted(dir_ / "missing.hex"), 1, "",
         "pelkora-cli verify: " + (dir_ / "missing.hex").string() +
             ": Error opening file: No such file or directory\n"},
        {"verify " + Quoted(image) + " --net " + Quoted(dir_ / "missing.txt"), 1, "",
         "pelkora-cli verify: " + (dir_ / "missing.txt").string() +
             ": Error opening file: No such file or directory\n"},
        // A folder is no image with a missing end record, and "08" is no two values.
        {"verify " + Quoted(dir_), 1, "",
         "pelkora-cli verify: " + dir_.string() +
             ": Error reading file: is a folder, not a file\n"},
        {"verify " + Quoted(image) + " --net " +
             Quoted(Write("octal.txt", "08\n" + NetFileText(weights))),
         1, "",
         "pelkora-cli verify: " + (dir_ / "octal.txt").string() +
             ": Error reading file: line 1: '08' is not a number\n"},
        {"decode " + Quoted(Write("bad.s19", "S104B000AAA2\r\n")), 1, "",
         "pelkora-cli decode: " + (dir_ / "bad.s19").string() +
             ": Error reading file: line 1: bad checksum\n"},
        {"decode " + Quoted(Write("big.s19", Image(VariedWeights(), 0xB000, FORMAT_S19))), 1, "",
         "pelkora-cli decode: " + (dir_ / "big.s19").string() +
             ": weight 1 (hidden layer, neuron 1, input 1) is -32768, beyond what a net file "
             "can hold (-1073..1073)\n"},
        {"decode " + Quoted(image) + " --out " + Quoted(dir_ / "no" / "net.txt"), 1, "",
         "pelkora-cli decode: " + (dir_ / "no" / "net.txt").string() +
             ": Error opening file: its folder " + (dir_ / "no").string() + " does not exist\n"},
    };
    for (const auto& c : cases) {
        const CliRun run = RunCli(c.args);
        EXPECT_EQ(run.exitCode, c.exitCode) << c.args << run.err;
        EXPECT_EQ(run.out, c.out) << c.args;
        EXPECT_EQ(run.err, c.err) << c.args;
    }
    for (const char* usage : {"verify", "decode", "verify a b", "decode x --bank B000"}) {
        EXPECT_EQ(RunCli(usage).exitCode, 2) << usage;
    }
}

}  // namespace
