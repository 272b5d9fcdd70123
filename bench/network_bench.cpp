// Speed of the evaluators and of the simulate stream.
//   build/bin/pelkora_bench

#include <benchmark/benchmark.h>

#include <random>
#include <sstream>
#include <string>

#include "cli/vector_stream.h"
#include "network/evaluators.h"
#include "network/quantization.h"

namespace {

FileWeights RandomFileWeights() {
    std::mt19937 rng(1234);
    std::uniform_int_distribution<std::int32_t> dist(-400000000, 400000000);
    FileWeights w;
    for (auto& v : w) v = dist(rng);
    return w;
}

NetInputs RandomInputs(std::mt19937& rng) {
    NetInputs in;
    for (auto& v : in) v = static_cast<std::uint16_t>(rng() & 0xFF);
    return in;
}

void BM_EvaluateFloat(benchmark::State& state) {
    const FileWeights w = RandomFileWeights();
    std::mt19937 rng(7);
    NetInputs in = RandomInputs(rng);
    for (auto _ : state) {
        in[0] = static_cast<std::uint16_t>((in[0] + 1) & 0xFF);
        benchmark::DoNotOptimize(EvaluateFloat(in, w));
    }
}
BENCHMARK(BM_EvaluateFloat);

void BM_EvaluateInt(benchmark::State& state) {
    const ModuleWeights w = DeriveModuleWeights(RandomFileWeights());
    std::mt19937 rng(7);
    NetInputs in = RandomInputs(rng);
    for (auto _ : state) {
        in[0] = static_cast<std::uint16_t>((in[0] + 1) & 0xFF);
        benchmark::DoNotOptimize(EvaluateInt(in, w));
    }
}
BENCHMARK(BM_EvaluateInt);

// The whole simulate path minus the process: parse, evaluate, format.
void BM_SimulateStream(benchmark::State& state) {
    const bool useInt = state.range(0) == 1;
    const FileWeights fw = RandomFileWeights();
    const ModuleWeights mw = DeriveModuleWeights(fw);
    std::mt19937 rng(9);
    std::string text;
    constexpr int kVectors = 100000;
    for (int n = 0; n < kVectors; ++n) {
        const NetInputs in = RandomInputs(rng);
        for (int i = 0; i < NET_INPUT_COUNT; ++i) {
            text += std::to_string(in[i]);
            text += i + 1 < NET_INPUT_COUNT ? '\t' : '\n';
        }
    }
    VectorEvaluator evaluate;
    if (useInt) {
        evaluate = [&mw](const NetInputs& in) { return EvaluateInt(in, mw); };
    } else {
        evaluate = [&fw](const NetInputs& in) { return EvaluateFloat(in, fw); };
    }
    for (auto _ : state) {
        std::istringstream in(text);
        std::ostringstream out;
        const StreamResult r = StreamVectors(in, out, evaluate);
        benchmark::DoNotOptimize(r.vectors);
    }
    state.SetItemsProcessed(state.iterations() * kVectors);
}
BENCHMARK(BM_SimulateStream)->Arg(0)->Arg(1)->ArgName("int")->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();

// The quantization report's whole cost per vector: both detailed evaluations and the
// counting. The target is 1,000,000 vectors in at most 1 s on one core.
void BM_QuantizationReport(benchmark::State& state) {
    const FileWeights w = RandomFileWeights();
    constexpr std::uint64_t kVectors = 1'000'000;
    for (auto _ : state) {
        const QuantizationReport r = RandomQuantizationReport(w, kVectors, 1);
        benchmark::DoNotOptimize(r.all.rmse);
    }
    state.SetItemsProcessed(state.iterations() * kVectors);
}
BENCHMARK(BM_QuantizationReport)->Unit(benchmark::kMillisecond);
