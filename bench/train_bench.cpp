// Quality and speed of `pelkora-cli train`'s trainer on tasks of known shape, at
// 150, 500 and 2,000 rows.
//   build/bin/pelkora_bench --benchmark_filter=Train
// Counters, in LSB of the 8-bit values, all on the held-out rows: reference_rmse (a
// float network as a careful user would train it: L-BFGS from four starts, each
// stopped early on a validation share of the rows not held out, the best by that
// share), float_rmse (the trainer's float network in its own arithmetic),
// module_rmse (the written weights in the module's arithmetic), gap (module -
// reference), truncated_rmse (the float network truncated into the module form, as
// a hand conversion gives), cost (module - float), and train_module_rmse; seconds
// of the trainer (wall). One iteration each: a training run takes seconds.

#include <LBFGS.h>
#include <benchmark/benchmark.h>

#include <Eigen/Core>

#include <algorithm>
#include <array>
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

// Eight classes about random centres (drawn from lowest..highest), inputs spread
// about them by `spread` LSB: output k high for class k.
Rows ClassRows(std::size_t n, std::mt19937_64& rng, int lowest, int highest, double spread) {
    std::uniform_int_distribution<int> centre(lowest, highest);
    std::normal_distribution<double> scatter(0.0, spread);
    std::array<std::array<int, 8>, 8> centres{};
    for (auto& c : centres)
        for (int& v : c) v = centre(rng);
    Rows rows;
    for (std::size_t r = 0; r < n; ++r) {
        const std::size_t k = rng() % 8;
        TrainingRow row;
        for (int i = 0; i < 8; ++i) row.in[i] = ToByte(centres[k][i] + scatter(rng));
        for (int m = 0; m < 8; ++m) row.out[m] = m == static_cast<int>(k) ? 230 : 25;
        rows.push_back(row);
    }
    return rows;
}

// Eight well-separated clusters.
Rows Clusters(std::size_t n, std::mt19937_64& rng) {
    return ClassRows(n, rng, 30, 225, 18.0);
}

// Class-like targets as a user records them: the classes spread widely and overlap.
Rows Classes(std::size_t n, std::mt19937_64& rng) {
    return ClassRows(n, rng, 40, 215, 28.0);
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

// The float reference: a plain 8-16-8 sigmoid network on inputs scaled to -1..1.
class ReferenceNet {
public:
    static constexpr int kParams = 9 * 16 + 17 * 8;

    ReferenceNet(const Rows& rows, const std::vector<std::size_t>& index)
        : rows_(rows), index_(index) {}

    // Mean squared error per output value, in LSB^2; the gradient when asked.
    double Loss(const Eigen::VectorXd& p, Eigen::VectorXd* g) const {
        if (g) g->setZero(kParams);
        double loss = 0.0;
        for (std::size_t r : index_) {
            double x[9], h[17], dh[16] = {};
            for (int i = 0; i < 8; ++i) x[i] = rows_[r].in[i] / 127.5 - 1.0;
            x[8] = 1.0;
            for (int j = 0; j < 16; ++j) {
                double z = 0.0;
                for (int i = 0; i < 9; ++i) z += p[i * 16 + j] * x[i];
                h[j] = 1.0 / (1.0 + std::exp(-z));
            }
            h[16] = 1.0;
            for (int m = 0; m < 8; ++m) {
                double z = 0.0;
                for (int k = 0; k < 17; ++k) z += p[144 + k * 8 + m] * h[k];
                const double y = 255.0 / (1.0 + std::exp(-z));
                const double e = y - rows_[r].out[m];
                loss += e * e;
                if (!g) continue;
                const double d = 2.0 * e * y * (255.0 - y) / 255.0;
                for (int k = 0; k < 17; ++k) {
                    (*g)[144 + k * 8 + m] += d * h[k];
                    if (k < 16) dh[k] += d * p[144 + k * 8 + m];
                }
            }
            if (!g) continue;
            for (int j = 0; j < 16; ++j) {
                const double d = dh[j] * h[j] * (1.0 - h[j]);
                for (int i = 0; i < 9; ++i) (*g)[i * 16 + j] += d * x[i];
            }
        }
        const double scale = 1.0 / (static_cast<double>(index_.size()) * 8.0);
        if (g) *g *= scale;
        return loss * scale;
    }

private:
    const Rows& rows_;
    const std::vector<std::size_t>& index_;
};

struct EarlyStop {};

// Held-out RMSE of the reference: trained on 80% of `pool`, stopped where the
// other 20% is best (checked every evaluation, 200 evaluations of patience).
double ReferenceRmse(const Rows& rows, const std::vector<std::size_t>& pool,
                     const std::vector<std::size_t>& held) {
    std::vector<std::size_t> order = pool;
    std::mt19937_64 rng(77);
    std::shuffle(order.begin(), order.end(), rng);
    const std::size_t nVal = std::max<std::size_t>(1, order.size() / 5);
    const std::vector<std::size_t> val(order.begin(), order.begin() + nVal);
    const std::vector<std::size_t> fit(order.begin() + nVal, order.end());
    const ReferenceNet fitNet(rows, fit), valNet(rows, val), heldNet(rows, held);
    double bestVal = HUGE_VAL;
    Eigen::VectorXd bestP;
    std::normal_distribution<double> g(0.0, 1.0);
    for (int start = 0; start < 4; ++start) {
        Eigen::VectorXd p(ReferenceNet::kParams);
        for (int n = 0; n < ReferenceNet::kParams; ++n) p[n] = g(rng) * (n < 144 ? 0.5 : 0.3);
        int evaluations = 0, bestAt = 0;
        double runBest = HUGE_VAL;
        auto f = [&](const Eigen::VectorXd& x, Eigen::VectorXd& grad) {
            if (evaluations - bestAt > 200) throw EarlyStop{};
            ++evaluations;
            const double v = valNet.Loss(x, nullptr);
            if (v < runBest) {
                runBest = v;
                bestAt = evaluations;
            }
            if (v < bestVal) {
                bestVal = v;
                bestP = x;
            }
            return fitNet.Loss(x, &grad);
        };
        LBFGSpp::LBFGSParam<double> param;
        param.max_iterations = 3000;
        param.epsilon = 1e-8;
        LBFGSpp::LBFGSSolver<double> solver(param);
        double fx = 0.0;
        try {
            solver.minimize(f, p, fx);
        } catch (...) {
            // Stopped early, or the line search gave up: the best point stands.
        }
    }
    return std::sqrt(heldNet.Loss(bestP, nullptr));
}

using TaskFn = Rows (*)(std::size_t, std::mt19937_64&);

void RunTask(benchmark::State& state, TaskFn task, bool noisy) {
    const auto n = static_cast<std::size_t>(state.range(0));
    std::mt19937_64 rng(2026);
    Rows rows = task(n, rng);
    if (noisy) rows = WithNoise(std::move(rows), rng);
    const TrainingOptions options;
    TrainingResult result;
    for (auto _ : state) {
        result = TrainNetwork(rows, options);
    }
    const std::vector<std::size_t> held = HeldOutRowIndices(rows.size(), options);
    std::vector<std::size_t> pool;
    for (std::size_t r = 0, h = 0; r < rows.size(); ++r) {
        if (h < held.size() && held[h] == r) {
            ++h;
        } else {
            pool.push_back(r);
        }
    }
    const double reference = ReferenceRmse(rows, pool, held);
    state.counters["reference_rmse"] = reference;
    state.counters["float_rmse"] = result.floatHeldOut.all.rmse;
    state.counters["module_rmse"] = result.moduleHeldOut.all.rmse;
    state.counters["gap"] = result.moduleHeldOut.all.rmse - reference;
    state.counters["truncated_rmse"] = result.truncatedHeldOut.all.rmse;
    state.counters["cost"] = result.moduleHeldOut.all.rmse - result.floatHeldOut.all.rmse;
    state.counters["train_module_rmse"] = result.moduleTrain.all.rmse;
    state.counters["validation_rmse"] = result.moduleValidation.all.rmse;
    state.counters["seconds"] = result.seconds;
    state.counters["decay"] = result.weightDecay;
    state.counters["sweeps"] = result.moduleSweeps;
}

#define PELKORA_TRAIN_TASK(name, fn, noisy)        \
    void BM_Train##name(benchmark::State& state) { \
        RunTask(state, fn, noisy);                 \
    }                                              \
    BENCHMARK(BM_Train##name)                      \
        ->Arg(150)                                 \
        ->Arg(500)                                 \
        ->Arg(2000)                                \
        ->Iterations(1)                            \
        ->Unit(benchmark::kSecond)

PELKORA_TRAIN_TASK(Realisable, Realisable, false);
PELKORA_TRAIN_TASK(Mirror, Mirror, false);
PELKORA_TRAIN_TASK(MirrorNoisy, Mirror, true);
PELKORA_TRAIN_TASK(Teacher, Teacher, false);
PELKORA_TRAIN_TASK(TeacherNoisy, Teacher, true);
PELKORA_TRAIN_TASK(Clusters, Clusters, false);
PELKORA_TRAIN_TASK(ClustersNoisy, Clusters, true);
PELKORA_TRAIN_TASK(Classes, Classes, false);
PELKORA_TRAIN_TASK(Comparators, Comparators, false);
PELKORA_TRAIN_TASK(LevelMeter, LevelMeter, false);
PELKORA_TRAIN_TASK(LevelMeterNoisy, LevelMeter, true);

// The speed target at 20,000 rows.
void BM_TrainLarge(benchmark::State& state) {
    RunTask(state, Teacher, true);
}
BENCHMARK(BM_TrainLarge)->Arg(20000)->Iterations(1)->Unit(benchmark::kSecond);

}  // namespace
