#pragma once
// Helpers for the flash image and training file tests: a scratch folder per test,
// an independent decoder (srec_cat) and a file size limit that makes writes fail.

#include <gtest/gtest.h>
#include <sys/resource.h>

#include <algorithm>
#include <csignal>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "files/hex_net_file.h"
#include "support/cli_runner.h"

namespace files_test {

namespace fs = std::filesystem;

// The flash image of `weights` as text, written to memory.
inline std::string Image(const ModuleWeights& weights, std::uint16_t start, HexFileFormat format) {
    std::ostringstream out;
    EXPECT_TRUE(WriteHexNetFile(out, weights, start, format));
    return out.str();
}

class ScratchDirTest : public ::testing::Test {
protected:
    void SetUp() override {
        const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
        dir_ = fs::temp_directory_path() / ("pelkora-files-" + std::to_string(::getpid()) + "-" +
                                            info->test_suite_name() + "-" + info->name());
        fs::remove_all(dir_);
        fs::create_directories(dir_);
    }
    void TearDown() override { fs::remove_all(dir_); }

    fs::path Write(const std::string& name, const std::string& bytes) const {
        std::ofstream(dir_ / name, std::ios::binary) << bytes;
        return dir_ / name;
    }
    // Names in the folder, hidden ones included: a leftover temporary file shows here.
    std::vector<std::string> Names() const {
        std::vector<std::string> names;
        for (const auto& entry : fs::directory_iterator(dir_)) {
            names.push_back(entry.path().filename().string());
        }
        std::sort(names.begin(), names.end());
        return names;
    }

    fs::path dir_;
};

inline bool HaveSrecCat() {
    return std::system("command -v srec_cat >/dev/null 2>&1") == 0;
}

// Decodes a flash image with srec_cat (which rejects bad checksums) into the bytes
// from `startAddress` on. Returns false when srec_cat refuses the file.
inline bool DecodeImage(const fs::path& image, HexFileFormat format, std::uint16_t startAddress,
                        std::string& bytes) {
    const fs::path bin = image.string() + ".bin";
    char offset[16];
    std::snprintf(offset, sizeof offset, "-0x%X", startAddress);
    const std::string cmd = "srec_cat " + ShellQuote(image.string()) +
                            (format == FORMAT_HEX ? " -intel" : "") + " -offset " + offset +
                            " -o " + ShellQuote(bin.string()) + " -binary 2>/dev/null";
    if (std::system(cmd.c_str()) != 0) return false;
    bytes = ReadWholeFile(bin);
    fs::remove(bin);
    return true;
}

// The image as the module should hold it: marker, then each weight high byte first.
inline std::string ExpectedImage(const ModuleWeights& weights) {
    std::string bytes(1, static_cast<char>(BANK_MARKER));
    for (std::int16_t w : weights) {
        const auto word = static_cast<std::uint16_t>(w);
        bytes += static_cast<char>(word >> 8);
        bytes += static_cast<char>(word & 0xFF);
    }
    return bytes;
}

// Weights that cover the whole range, both signs and every byte position.
inline ModuleWeights VariedWeights() {
    ModuleWeights weights{};
    for (int n = 0; n < NET_WEIGHT_COUNT; ++n) {
        weights[n] = static_cast<std::int16_t>((n * 7919 + 13) % 65536 - 32768);
    }
    weights[0] = -32768;
    weights[1] = 32767;
    weights[2] = -1;
    return weights;
}

// While alive, files of this process cannot grow beyond `bytes`: writes past the
// limit fail with EFBIG instead of raising SIGXFSZ. Works for root too, unlike
// permission bits.
class FileSizeLimit {
public:
    explicit FileSizeLimit(rlim_t bytes) {
        previousHandler_ = std::signal(SIGXFSZ, SIG_IGN);
        ::getrlimit(RLIMIT_FSIZE, &previous_);
        rlimit limit = previous_;
        limit.rlim_cur = bytes;
        ::setrlimit(RLIMIT_FSIZE, &limit);
    }
    ~FileSizeLimit() {
        ::setrlimit(RLIMIT_FSIZE, &previous_);
        std::signal(SIGXFSZ, previousHandler_);
    }
    FileSizeLimit(const FileSizeLimit&) = delete;
    FileSizeLimit& operator=(const FileSizeLimit&) = delete;

private:
    rlimit previous_{};
    void (*previousHandler_)(int) = SIG_DFL;
};

}  // namespace files_test
