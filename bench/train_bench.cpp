// Quality and speed of `pelkora-cli train`'s trainer on tasks of known shape.
//   build/bin/pelkora_bench --benchmark_filter=Train
// Counters, in LSB of the 8-bit values, all on the held-out rows: float_rmse (the
// stage-1 float network in its own arithmetic), module_rmse (the written weights
// in the module's arithmetic), truncated_rmse (the float network truncated into
// the module form, as a hand conversion gives), cost (module - float), and
// train_module_rmse. One iteration each: a training run takes seconds.

#include <benchmark/benchmark.h>

#include <algorithm>
#include <cmath>
#include <random>
#include <vector>

#include "network/evaluators.h"
#include "network/training/trainer.h"

namespace {

using Rows = std::vector<TrainingRow>;

std::uint8_t ToByte(double v) {
    return static_cast<std::uint8_t>(std::clamp(std::lround(v), 0L, 255L));
}

TrainingRow RandomInputs(std::mt19937_64& rng) {
    TrainingRow row;
    for (auto& v : row.in) v = static_cast<std::uint8_t>(rng() & 0xFF);
    return row;
}

// Outputs made by the module's arithmetic from a known module net.
Rows Realisable(std::size_t n, std::mt19937_64& rng) {
    ModuleWeights w{};
    std::uniform_int_distribution<int> hidden(-6, 6), output(-25, 25);
    for (int j = 0; j < NET_HIDDEN_COUNT; ++j) {
        int sum = 0;
        for (int i = 0; i < NET_INPUT_COUNT; ++i) sum += w[HiddenWeightIndex(i, j)] = hidden(rng);
        w[HiddenWeightIndex(NET_INPUT_COUNT, j)] = static_cast<std::int16_t>(-sum / 2);
    }
    for (int m = 0; m < NET_OUTPUT_COUNT; ++m) {
        int sum = 0;
        for (int k = 0; k < NET_HIDDEN_COUNT; ++k) sum += w[OutputWeightIndex(k, m)] = output(rng);
        w[OutputWeightIndex(NET_HIDDEN_COUNT, m)] = static_cast<std::int16_t>(-sum / 2);
    }
    Rows rows;
    for (std::size_t r = 0; r < n; ++r) {
        TrainingRow row = RandomInputs(rng);
        NetInputs in{};
        std::copy(row.in.begin(), row.in.end(), in.begin());
        const NetOutputs out = EvaluateInt(in, w);
        for (int m = 0; m < NET_OUTPUT_COUNT; ++m) row.out[m] = static_cast<std::uint8_t>(out[m]);
        rows.push_back(row);
    }
    return rows;
}

// The demo network's task: output m follows input 9 - m.
Rows Mirror(std::size_t n, std::mt19937_64& rng) {
    Rows rows;
    for (std::size_t r = 0; r < n; ++r) {
        TrainingRow row = RandomInputs(rng);
        for (int m = 0; m < NET_OUTPUT_COUNT; ++m) row.out[m] = row.in[NET_INPUT_COUNT - 1 - m];
        rows.push_back(row);
    }
    return rows;
}

// A random smooth float network of the same shape as the teacher.
Rows Teacher(std::size_t n, std::mt19937_64& rng) {
    std::normal_distribution<double> g(0.0, 1.0);
    double wh[9][16], wo[17][8];
    for (auto& row : wh)
        for (double& w : row) w = g(rng) * 0.6;
    for (auto& row : wo)
        for (double& w : row) w = g(rng) * 0.8;
    Rows rows;
    for (std::size_t r = 0; r < n; ++r) {
        TrainingRow row = RandomInputs(rng);
        double h[17];
        for (int j = 0; j < 16; ++j) {
            double z = wh[8][j];
            for (int i = 0; i < 8; ++i) z += wh[i][j] * (row.in[i] / 127.5 - 1.0) * 2.0;
            h[j] = 1.0 / (1.0 + std::exp(-z));
        }
        h[16] = 1.0;
        for (int m = 0; m < 8; ++m) {
            double z = 0;
            for (int k = 0; k < 17; ++k) z += wo[k][m] * (k < 16 ? 2.0 * h[k] - 1.0 : 1.0) * 1.5;
            row.out[m] = ToByte(255.0 / (1.0 + std::exp(-z)));
        }
        rows.push_back(row);
    }
    return rows;
}

// Eight classes around fixed centres: output k high for class k.
Rows Clusters(std::size_t n, std::mt19937_64& rng) {
    std::uniform_int_distribution<int> centre(30, 225);
    std::normal_distribution<double> spread(0.0, 18.0);
    std::array<std::array<int, 8>, 8> centres{};
    for (auto& c : centres)
        for (int& v : c) v = centre(rng);
    Rows rows;
    for (std::size_t r = 0; r < n; ++r) {
        const std::size_t k = rng() % 8;
        TrainingRow row;
        for (int i = 0; i < 8; ++i) row.in[i] = ToByte(centres[k][i] + spread(rng));
        for (int m = 0; m < 8; ++m) row.out[m] = m == static_cast<int>(k) ? 230 : 25;
        rows.push_back(row);
    }
    return rows;
}

// Output m says whether input m exceeds input m + 1 (cyclic), as a soft switch.
Rows Comparators(std::size_t n, std::mt19937_64& rng) {
    Rows rows;
    for (std::size_t r = 0; r < n; ++r) {
        TrainingRow row = RandomInputs(rng);
        for (int m = 0; m < 8; ++m) {
            const double d = row.in[m] - row.in[(m + 1) % 8];
            row.out[m] = ToByte(255.0 / (1.0 + std::exp(-d / 12.0)));
        }
        rows.push_back(row);
    }
    return rows;
}

// A bar graph of the inputs' mean: output m lights above (m + 0.5) / 8 of full scale.
Rows LevelMeter(std::size_t n, std::mt19937_64& rng) {
    Rows rows;
    for (std::size_t r = 0; r < n; ++r) {
        TrainingRow row;
        const int level = static_cast<int>(rng() % 256);
        double mean = 0;
        for (int i = 0; i < 8; ++i) {
            row.in[i] = ToByte(level + static_cast<int>(rng() % 61) - 30);
            mean += row.in[i] / 8.0;
        }
        for (int m = 0; m < 8; ++m) {
            row.out[m] = ToByte(255.0 / (1.0 + std::exp(-(mean - (m + 0.5) * 32.0) / 6.0)));
        }
        rows.push_back(row);
    }
    return rows;
}

Rows WithNoise(Rows rows, std::mt19937_64& rng) {
    std::normal_distribution<double> noise(0.0, 3.0);
    for (TrainingRow& row : rows) {
        for (auto& v : row.out) v = ToByte(v + noise(rng));
    }
    return rows;
}

using TaskFn = Rows (*)(std::size_t, std::mt19937_64&);

void RunTask(benchmark::State& state, TaskFn task, bool noisy) {
    const auto n = static_cast<std::size_t>(state.range(0));
    std::mt19937_64 rng(2026);
    Rows rows = task(n, rng);
    if (noisy) rows = WithNoise(std::move(rows), rng);
    TrainingResult result;
    for (auto _ : state) {
        result = TrainNetwork(rows, TrainingOptions{});
    }
    state.counters["float_rmse"] = result.floatHeldOut.all.rmse;
    state.counters["module_rmse"] = result.moduleHeldOut.all.rmse;
    state.counters["truncated_rmse"] = result.truncatedHeldOut.all.rmse;
    state.counters["cost"] = result.moduleHeldOut.all.rmse - result.floatHeldOut.all.rmse;
    state.counters["train_module_rmse"] = result.moduleTrain.all.rmse;
    state.counters["seconds"] = result.seconds;
    state.counters["evaluations"] = result.floatEvaluations;
    state.counters["sweeps"] = result.moduleSweeps;
}

#define PELKORA_TRAIN_TASK(name, fn, noisy)        \
    void BM_Train##name(benchmark::State& state) { \
        RunTask(state, fn, noisy);                 \
    }                                              \
    BENCHMARK(BM_Train##name)->Arg(2000)->Iterations(1)->Unit(benchmark::kSecond)

PELKORA_TRAIN_TASK(Realisable, Realisable, false);
PELKORA_TRAIN_TASK(Mirror, Mirror, false);
PELKORA_TRAIN_TASK(MirrorNoisy, Mirror, true);
PELKORA_TRAIN_TASK(Teacher, Teacher, false);
PELKORA_TRAIN_TASK(TeacherNoisy, Teacher, true);
PELKORA_TRAIN_TASK(Clusters, Clusters, false);
PELKORA_TRAIN_TASK(ClustersNoisy, Clusters, true);
PELKORA_TRAIN_TASK(Comparators, Comparators, false);
PELKORA_TRAIN_TASK(LevelMeter, LevelMeter, false);
PELKORA_TRAIN_TASK(LevelMeterNoisy, LevelMeter, true);

// The speed target at 20,000 rows.
void BM_TrainLarge(benchmark::State& state) {
    RunTask(state, Teacher, true);
}
BENCHMARK(BM_TrainLarge)->Arg(20000)->Iterations(1)->Unit(benchmark::kSecond);

}  // namespace
