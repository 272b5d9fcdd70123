// Speed of the flash image writer and the training set store.
//   build/bin/pelkora_bench --benchmark_filter='Hex|Training|FlashImage'
// WriteHexNetRecords is what the window does while it holds the state lock: it
// should stay far below the worker's 50 ms pass.

#include <benchmark/benchmark.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

#include "files/flash_image_reader.h"
#include "files/hex_net_file.h"
#include "files/net_file.h"
#include "files/training_set.h"
#include "files/weight_difference.h"
#include "network/net_file_reader.h"

namespace {

namespace fs = std::filesystem;

ModuleWeights SomeWeights() {
    ModuleWeights weights{};
    for (int n = 0; n < NET_WEIGHT_COUNT; ++n) {
        weights[n] = static_cast<std::int16_t>(n * 1237 - 20000);
    }
    return weights;
}

fs::path ScratchDir(const char* name) {
    const fs::path dir =
        fs::temp_directory_path() / (std::string(name) + "-" + std::to_string(::getpid()));
    fs::create_directories(dir);
    return dir;
}

void BM_WriteHexNetRecords(benchmark::State& state) {
    const ModuleWeights weights = SomeWeights();
    const auto format = static_cast<HexFileFormat>(state.range(0));
    for (auto _ : state) {
        std::ostringstream out;
        benchmark::DoNotOptimize(WriteHexNetRecords(out, weights, 0xB000, format));
    }
}
BENCHMARK(BM_WriteHexNetRecords)->Arg(FORMAT_S19)->Arg(FORMAT_HEX);

// The whole export: temporary file, records, fsync, rename.
void BM_ExportHexNetFile(benchmark::State& state) {
    const fs::path dir = ScratchDir("pelkora-bench-hex");
    const std::string path = (dir / "net.s19").string();
    const ModuleWeights weights = SomeWeights();
    for (auto _ : state) {
        if (ExportHexNetFile(path, weights, 0xB000, FORMAT_S19) != FileResult::Ok) {
            state.SkipWithError("export failed");
            break;
        }
    }
    fs::remove_all(dir);
}
BENCHMARK(BM_ExportHexNetFile)->Unit(benchmark::kMicrosecond);

void BM_AppendTrainingSet(benchmark::State& state) {
    const fs::path dir = ScratchDir("pelkora-bench-train");
    const std::string path = (dir / TrainingFileName(0)).string();
    const TrainingSet values{10, 20, 30, 40, 50, 60, 70, 80, 255, 0, 255, 0, 255, 0, 255, 0};
    for (auto _ : state) {
        if (AppendTrainingSet(path, values) != FileResult::Ok) {
            state.SkipWithError("store failed");
            break;
        }
    }
    fs::remove_all(dir);
}
BENCHMARK(BM_AppendTrainingSet)->Unit(benchmark::kMicrosecond);

}  // namespace

// Reading an image back: what verify and decode do besides opening the file.
void BM_ReadFlashImage(benchmark::State& state) {
    const auto format = static_cast<HexFileFormat>(state.range(0));
    std::ostringstream out;
    if (!WriteHexNetFile(out, SomeWeights(), 0xD400, format)) {
        state.SkipWithError("image not written");
        return;
    }
    const std::string text = out.str();
    for (auto _ : state) {
        const FlashImageRead read = ReadFlashImage(text);
        if (!read.Ok()) {
            state.SkipWithError("image refused");
            break;
        }
        benchmark::DoNotOptimize(CompareWeights(read.image.weights, SomeWeights()));
    }
}
BENCHMARK(BM_ReadFlashImage)->Arg(FORMAT_S19)->Arg(FORMAT_HEX)->Unit(benchmark::kMicrosecond);

// Reading a net file: the parser alone, and the whole path a front end takes
// (open, bounded read, parse).
namespace {

std::string SomeNetText() {
    std::string text;
    for (int n = 0; n < NET_WEIGHT_COUNT; ++n)
        text += std::to_string(n * 7654321 - 900000000) + "\r\n";
    return text;
}

void BM_ReadAsciiNet(benchmark::State& state) {
    const std::string text = SomeNetText();
    for (auto _ : state) {
        std::istringstream in(text);
        FileWeights weights{};
        if (ReadAsciiNet(in, weights).status != NetReadStatus::Ok) {
            state.SkipWithError("net refused");
            break;
        }
        benchmark::DoNotOptimize(weights);
    }
}
BENCHMARK(BM_ReadAsciiNet)->Unit(benchmark::kMicrosecond);

void BM_ReadNetFile(benchmark::State& state) {
    const fs::path dir = ScratchDir("pelkora-bench-net");
    const std::string path = (dir / "net.txt").string();
    std::ofstream(path, std::ios::binary) << SomeNetText();
    for (auto _ : state) {
        FileWeights weights{};
        if (ReadNetFile(path, weights) != FileResult::Ok) {
            state.SkipWithError("net file refused");
            break;
        }
        benchmark::DoNotOptimize(weights);
    }
    fs::remove_all(dir);
}
BENCHMARK(BM_ReadNetFile)->Unit(benchmark::kMicrosecond);

}  // namespace
