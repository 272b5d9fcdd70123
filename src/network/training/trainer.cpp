#include "network/training/trainer.h"

#include <LBFGSB.h>

#include <Eigen/Core>
#include <algorithm>
#include <chrono>
#include <cmath>
#include <exception>
#include <numeric>
#include <random>

#include "network/evaluators.h"
#include "network/training/module_search.h"

namespace {

using Clock = std::chrono::steady_clock;
using Vector = Eigen::VectorXd;

// In module units u (float weight x 50000) a neuron of the double-precision network
// sums u x a / 1275 with a its 0..255 sources; the module's sum S / 80 looks up a
// table of 16 steps per unit, i.e. S / 1280.
constexpr double kFloatDivisor = 1275.0;
constexpr double kModuleDivisor = 1280.0;

// Work planned for stage 1: several short starts on a sample of the rows, the best
// one then trained on every row, then rounded to integers in a few rounds. Counts,
// not times, so that a run can be repeated bit for bit.
constexpr int kStarts = 6;
constexpr std::size_t kStartSampleRows = 1000;
constexpr int kStartIterations = 1000;
constexpr int kRoundingRounds = 5;
constexpr int kRoundingIterations = 40;
constexpr int kRefitIterations = 300;
constexpr int kMaxRefits = 4;
// Iterations of the float network in the module's smooth stand-in before rounding:
// fewer only for very many rows.
constexpr double kModulePolishRowEvaluations = 1.6e7;
constexpr int kMaxModulePolishIterations = 1000;
constexpr int kMinModulePolishIterations = 300;
// Module searches from other float starts, while the training rows are this few.
constexpr std::size_t kExtraCandidates = 3;
constexpr std::size_t kCandidateRows = 4000;
// Evaluations over all training rows that the polish may use: fewer iterations for
// many rows keeps 20,000 rows within a couple of minutes.
constexpr double kPolishRowEvaluations = 6.4e6;
constexpr int kMaxPolishIterations = 4000;
constexpr int kMinPolishIterations = 150;

struct StopTraining {};  // thrown out of the objective to end the optimiser early

// How a neuron's sum S (module units x source bytes) becomes its 0..255 byte.
enum class Arithmetic {
    Float,   // the double-precision network: 255 / (1 + e^(-S / 1275))
    Module,  // a smooth stand-in for the module: the quotient S / 80 truncated toward
             // zero, taken as x - tanh(2x) / 2 (half a step on average, none near 0),
             // then the table's sigmoid 255 / (1 + e^(-q / 16))
};

// A neuron's byte and its derivative by the sum.
inline double Activate(Arithmetic arithmetic, double s, double& derivative) {
    if (arithmetic == Arithmetic::Float) {
        constexpr double inv = 1.0 / kFloatDivisor;
        const double y = 255.0 / (1.0 + std::exp(-s * inv));
        derivative = y * (255.0 - y) * (inv / 255.0);
        return y;
    }
    const double x = s / NET_SUM_DIVISOR;
    const double t = std::tanh(2.0 * x);
    const double y = 255.0 / (1.0 + std::exp(-(x - 0.5 * t) / 16.0));
    derivative = y * (255.0 - y) / (255.0 * kModuleDivisor) * t * t;
    return y;
}

// A loss summed over `rows` rows as the mean squared error per output value, the
// same scale for any row count; the gradient likewise.
double MeanPerOutput(double loss, std::size_t rows, Vector* gradient) {
    const double scale = 1.0 / (static_cast<double>(rows) * NET_OUTPUT_COUNT);
    if (gradient) *gradient *= scale;
    return loss * scale;
}

// The network over a set of rows, in either arithmetic.
class FloatObjective {
public:
    FloatObjective(const std::vector<TrainingRow>& rows, const std::vector<std::size_t>& index,
                   Arithmetic arithmetic)
        : rows_(rows), index_(index), arithmetic_(arithmetic) {}

    double Loss(const Vector& u, Vector* gradient) const {
        double loss = 0.0;
        if (gradient) gradient->setZero(NET_WEIGHT_COUNT);
        double a[NET_INPUT_COUNT + 1];
        double h[NET_HIDDEN_COUNT + 1];
        double y[NET_OUTPUT_COUNT];
        double dOut[NET_OUTPUT_COUNT];
        double dHidden[NET_HIDDEN_COUNT];
        double slopeHidden[NET_HIDDEN_COUNT];
        for (std::size_t r : index_) {
            const TrainingRow& row = rows_[r];
            for (int i = 0; i < NET_INPUT_COUNT; ++i) a[i] = row.in[i];
            a[NET_INPUT_COUNT] = 255.0;
            double zh[NET_HIDDEN_COUNT] = {};
            for (int i = 0; i <= NET_INPUT_COUNT; ++i) {
                const double* w = u.data() + HiddenWeightIndex(i, 0);
                for (int j = 0; j < NET_HIDDEN_COUNT; ++j) zh[j] += w[j] * a[i];
            }
            for (int j = 0; j < NET_HIDDEN_COUNT; ++j)
                h[j] = Activate(arithmetic_, zh[j], slopeHidden[j]);
            h[NET_HIDDEN_COUNT] = 255.0;
            double zo[NET_OUTPUT_COUNT] = {};
            for (int k = 0; k <= NET_HIDDEN_COUNT; ++k) {
                const double* w = u.data() + OutputWeightIndex(k, 0);
                for (int m = 0; m < NET_OUTPUT_COUNT; ++m) zo[m] += w[m] * h[k];
            }
            for (int m = 0; m < NET_OUTPUT_COUNT; ++m) {
                double slope = 0.0;
                y[m] = Activate(arithmetic_, zo[m], slope);
                const double e = y[m] - row.out[m];
                loss += e * e;
                // The float network's terms keep their order: a change in the last
                // bit sends the optimiser elsewhere, and runs would no longer repeat
                // those of earlier versions.
                dOut[m] = arithmetic_ == Arithmetic::Float
                              ? 2.0 * e * y[m] * (255.0 - y[m]) * (1.0 / kFloatDivisor / 255.0)
                              : 2.0 * e * slope;
            }
            if (!gradient) continue;
            double* g = gradient->data();
            for (int k = 0; k <= NET_HIDDEN_COUNT; ++k) {
                double* gk = g + OutputWeightIndex(k, 0);
                for (int m = 0; m < NET_OUTPUT_COUNT; ++m) gk[m] += dOut[m] * h[k];
            }
            for (int j = 0; j < NET_HIDDEN_COUNT; ++j) {
                const double* w = u.data() + OutputWeightIndex(j, 0);
                double d = 0.0;
                for (int m = 0; m < NET_OUTPUT_COUNT; ++m) d += dOut[m] * w[m];
                dHidden[j] = arithmetic_ == Arithmetic::Float
                                 ? d * h[j] * (255.0 - h[j]) * (1.0 / kFloatDivisor / 255.0)
                                 : d * slopeHidden[j];
            }
            for (int i = 0; i <= NET_INPUT_COUNT; ++i) {
                double* gi = g + HiddenWeightIndex(i, 0);
                for (int j = 0; j < NET_HIDDEN_COUNT; ++j) gi[j] += dHidden[j] * a[i];
            }
        }
        return MeanPerOutput(loss, index_.size(), gradient);
    }

private:
    const std::vector<TrainingRow>& rows_;
    const std::vector<std::size_t>& index_;
    Arithmetic arithmetic_;
};

// The output layer alone, in the module's smooth stand-in, fed with the module's own
// hidden bytes of fixed integer hidden weights: the optimiser can fit it closely, so
// that rounding it loses little.
class OutputLayerObjective {
public:
    OutputLayerObjective(const std::vector<TrainingRow>& rows,
                         const std::vector<std::size_t>& index, const ModuleWeights& weights)
        : rows_(rows), index_(index), hidden_(index.size() * (NET_HIDDEN_COUNT + 1)) {
        for (std::size_t r = 0; r < index.size(); ++r) {
            NetInputs in{};
            std::copy(rows[index[r]].in.begin(), rows[index[r]].in.end(), in.begin());
            const IntEvaluation e = EvaluateIntDetailed(in, weights);
            for (int k = 0; k < NET_HIDDEN_COUNT; ++k)
                hidden_[r * (NET_HIDDEN_COUNT + 1) + k] = e.hidden[k];
            hidden_[r * (NET_HIDDEN_COUNT + 1) + NET_HIDDEN_COUNT] = 255.0;
        }
    }

    // `u` holds all 280 weights in module units; only the output layer's count.
    double Loss(const Vector& u, Vector* gradient) const {
        double loss = 0.0;
        if (gradient) gradient->setZero(NET_WEIGHT_COUNT);
        for (std::size_t r = 0; r < index_.size(); ++r) {
            const double* b = &hidden_[r * (NET_HIDDEN_COUNT + 1)];
            for (int m = 0; m < NET_OUTPUT_COUNT; ++m) {
                double sum = 0.0;
                for (int k = 0; k <= NET_HIDDEN_COUNT; ++k)
                    sum += b[k] * u[OutputWeightIndex(k, m)];
                double slope = 0.0;
                const double y = Activate(Arithmetic::Module, sum, slope);
                const double e = y - rows_[index_[r]].out[m];
                loss += e * e;
                if (!gradient) continue;
                const double d = 2.0 * e * slope;
                for (int k = 0; k <= NET_HIDDEN_COUNT; ++k)
                    (*gradient)[OutputWeightIndex(k, m)] += d * b[k];
            }
        }
        return MeanPerOutput(loss, index_.size(), gradient);
    }

private:
    const std::vector<TrainingRow>& rows_;
    const std::vector<std::size_t>& index_;
    std::vector<double> hidden_;
};

// Figures from the squared and absolute errors of every output of every row.
class FigureAccumulator {
public:
    void Add(int m, double error) {
        const double e = std::abs(error);
        Counts& c = counts_[m];
        c.sumSquares += e * e;
        c.max = std::max(c.max, e);
        if (e <= 1.0) ++c.withinOne;
        ++c.n;
    }
    [[nodiscard]] ErrorFigures Figures() const {
        ErrorFigures f;
        Counts all;
        for (int m = 0; m < NET_OUTPUT_COUNT; ++m) {
            f.outputs[m] = Figure(counts_[m]);
            all.sumSquares += counts_[m].sumSquares;
            all.max = std::max(all.max, counts_[m].max);
            all.withinOne += counts_[m].withinOne;
            all.n += counts_[m].n;
        }
        f.all = Figure(all);
        return f;
    }

private:
    struct Counts {
        double sumSquares = 0.0;
        double max = 0.0;
        std::size_t withinOne = 0;
        std::size_t n = 0;
    };
    static ErrorFigure Figure(const Counts& c) {
        if (c.n == 0) return {};
        return {std::sqrt(c.sumSquares / static_cast<double>(c.n)), c.max,
                static_cast<double>(c.withinOne) / static_cast<double>(c.n)};
    }
    std::array<Counts, NET_OUTPUT_COUNT> counts_{};
};

ErrorFigures FloatFigures(const std::vector<TrainingRow>& rows,
                          const std::vector<std::size_t>& index, const Vector& u) {
    FigureAccumulator acc;
    const double inv = 1.0 / kFloatDivisor;
    for (std::size_t r : index) {
        double h[NET_HIDDEN_COUNT + 1];
        for (int j = 0; j < NET_HIDDEN_COUNT; ++j) {
            double z = u[HiddenWeightIndex(NET_INPUT_COUNT, j)] * 255.0;
            for (int i = 0; i < NET_INPUT_COUNT; ++i)
                z += u[HiddenWeightIndex(i, j)] * rows[r].in[i];
            h[j] = 255.0 / (1.0 + std::exp(-z * inv));
        }
        h[NET_HIDDEN_COUNT] = 255.0;
        for (int m = 0; m < NET_OUTPUT_COUNT; ++m) {
            double z = 0.0;
            for (int k = 0; k <= NET_HIDDEN_COUNT; ++k) z += u[OutputWeightIndex(k, m)] * h[k];
            acc.Add(m, 255.0 / (1.0 + std::exp(-z * inv)) - rows[r].out[m]);
        }
    }
    return acc.Figures();
}

ErrorFigures ModuleFigures(const std::vector<TrainingRow>& rows,
                           const std::vector<std::size_t>& index, const ModuleWeights& weights) {
    FigureAccumulator acc;
    for (std::size_t r : index) {
        NetInputs in{};
        std::copy(rows[r].in.begin(), rows[r].in.end(), in.begin());
        const NetOutputs out = EvaluateInt(in, weights);
        for (int m = 0; m < NET_OUTPUT_COUNT; ++m) {
            acc.Add(m, static_cast<double>(out[m]) - rows[r].out[m]);
        }
    }
    return acc.Figures();
}

std::int16_t ClampWeight(double u) {
    return static_cast<std::int16_t>(std::clamp(u, static_cast<double>(-kMaxModuleWeight),
                                                static_cast<double>(kMaxModuleWeight)));
}

ModuleWeights Rounded(const Vector& u) {
    ModuleWeights w{};
    for (int n = 0; n < NET_WEIGHT_COUNT; ++n) w[n] = ClampWeight(std::nearbyint(u[n]));
    return w;
}

ModuleWeights Truncated(const Vector& u) {
    ModuleWeights w{};
    for (int n = 0; n < NET_WEIGHT_COUNT; ++n) w[n] = ClampWeight(std::trunc(u[n]));
    return w;
}

// Uniform double in [-1, 1) from the generator's bits: the standard fixes
// mt19937_64's sequence, and this mapping is ours, so every platform agrees.
double Symmetric(std::mt19937_64& rng) {
    return static_cast<double>(rng() >> 11) * 0x1.0p-52 - 1.0;
}

// Centred parameters p, in which the optimiser sees a well-conditioned problem: a
// neuron's pre-activation is the sum of p x (source / 127.5 - 1) plus its bias p,
// so every source spans -1..1 instead of 0..255. In module units that is
// u = 10 p for a source weight and u = 5 p_bias - 5 x (sum of the neuron's p) for
// the bias (1275 / 127.5 = 10).
template <typename Fn>
void ForEachNeuron(Fn fn) {
    for (int j = 0; j < NET_HIDDEN_COUNT; ++j) {
        fn(NET_INPUT_COUNT, [j](int i) { return HiddenWeightIndex(i, j); });
    }
    for (int m = 0; m < NET_OUTPUT_COUNT; ++m) {
        fn(NET_HIDDEN_COUNT, [m](int k) { return OutputWeightIndex(k, m); });
    }
}

void ToModuleUnits(const Vector& p, Vector& u) {
    ForEachNeuron([&](int sources, auto index) {
        double sum = 0.0;
        for (int i = 0; i < sources; ++i) {
            u[index(i)] = 10.0 * p[index(i)];
            sum += p[index(i)];
        }
        u[index(sources)] = 5.0 * p[index(sources)] - 5.0 * sum;
    });
}

void FromModuleUnits(const Vector& u, Vector& p) {
    ForEachNeuron([&](int sources, auto index) {
        double sum = 0.0;
        for (int i = 0; i < sources; ++i) {
            p[index(i)] = 0.1 * u[index(i)];
            sum += p[index(i)];
        }
        p[index(sources)] = 0.2 * u[index(sources)] + sum;
    });
}

void GradientToCentred(const Vector& gu, Vector& gp) {
    ForEachNeuron([&](int sources, auto index) {
        const double gBias = gu[index(sources)];
        for (int i = 0; i < sources; ++i) gp[index(i)] = 10.0 * gu[index(i)] - 5.0 * gBias;
        gp[index(sources)] = 5.0 * gBias;
    });
}

// A bias is a free combination in centred parameters; this keeps it within what
// the module can hold (a weight within bounds costs nothing).
double BiasPenalty(const Vector& u, Vector& gu) {
    constexpr double kWeight = 1e-2;
    double penalty = 0.0;
    ForEachNeuron([&](int sources, auto index) {
        const int n = index(sources);
        const double over = std::abs(u[n]) - kMaxModuleWeight;
        if (over <= 0) return;
        penalty += kWeight * over * over;
        gu[n] += 2.0 * kWeight * over * (u[n] > 0 ? 1.0 : -1.0);
    });
    return penalty;
}

// Bounds of the centred parameters: a source weight within the module's range; a
// bias loose, held by the penalty.
void CentredBounds(Vector& lb, Vector& ub) {
    lb = Vector::Constant(NET_WEIGHT_COUNT, -kMaxModuleWeight / 10.0);
    ub = -lb;
    ForEachNeuron([&](int sources, auto index) {
        lb[index(sources)] = -1000.0;
        ub[index(sources)] = 1000.0;
    });
}

// A random start in centred parameters, converted to module units: every neuron
// begins near the middle of its slope.
Vector RandomStart(std::mt19937_64& rng, double scale) {
    Vector p(NET_WEIGHT_COUNT);
    ForEachNeuron([&](int sources, auto index) {
        const double span = scale * 2.0 / std::sqrt(static_cast<double>(sources));
        for (int i = 0; i < sources; ++i) p[index(i)] = span * Symmetric(rng);
        p[index(sources)] = 0.25 * span * Symmetric(rng);
    });
    Vector u(NET_WEIGHT_COUNT);
    ToModuleUnits(p, u);
    return u;
}

class Trainer {
public:
    Trainer(const std::vector<TrainingRow>& rows, const TrainingOptions& options,
            const TrainingProgressFn& progress, const std::atomic<bool>* stop)
        : rows_(rows), options_(options), progress_(progress), stop_(stop), rng_(options.seed) {
        start_ = Clock::now();
    }

    TrainingResult Run();

private:
    // The objective handed to the optimiser: counts, remembers the best point and
    // ends the optimiser when asked to stop. With `centred` the optimiser works on
    // centred parameters (see ToModuleUnits), else on the module units themselves.
    template <typename Objective>
    struct Tracked {
        Trainer& trainer;
        const Objective& objective;
        bool centred;
        Vector best;  // in module units
        double bestLoss = HUGE_VAL;
        Vector u = Vector(NET_WEIGHT_COUNT);
        Vector gu = Vector(NET_WEIGHT_COUNT);
        double operator()(const Vector& x, Vector& gradient) {
            if (trainer.ShouldStop()) throw StopTraining{};
            if (centred) {
                ToModuleUnits(x, u);
            } else {
                u = x;
            }
            double loss = objective.Loss(u, &gu);
            loss += BiasPenalty(u, gu);
            if (centred) {
                GradientToCentred(gu, gradient);
            } else {
                gradient = gu;
            }
            if (!std::isfinite(loss)) return HUGE_VAL;
            ++trainer.evaluations_;
            if (loss < bestLoss) {
                bestLoss = loss;
                best = u;
            }
            trainer.FloatTick(best);
            return loss;
        }
    };

    bool ShouldStop() {
        if (stopped_) return true;
        if (stop_ && stop_->load(std::memory_order_relaxed)) stopped_ = true;
        if (options_.timeLimitSeconds > 0 && Elapsed() >= options_.timeLimitSeconds)
            stopped_ = true;
        return stopped_;
    }
    double Elapsed() const { return std::chrono::duration<double>(Clock::now() - start_).count(); }

    // Runs L-BFGS-B from `u` (module units; updated to the best point seen). Centred:
    // within the centred bounds, else within [lb, ub] in module units.
    template <typename Objective>
    double Minimise(const Objective& objective, Vector& u, int iterations, bool centred,
                    const Vector& lb, const Vector& ub) {
        LBFGSpp::LBFGSBParam<double> param;
        param.m = 10;
        param.max_iterations = iterations;
        param.epsilon = 1e-7;
        param.epsilon_rel = 0.0;
        param.past = 20;
        param.delta = 1e-10;
        param.max_linesearch = 40;
        LBFGSpp::LBFGSBSolver<double> solver(param);
        Tracked<Objective> tracked{*this, objective, centred, u};
        try {
            double fx = 0.0;
            Vector x = u;
            if (centred) FromModuleUnits(u, x);
            solver.minimize(tracked, x, fx, lb, ub);
        } catch (const StopTraining&) {
        } catch (const std::exception&) {
            // The line search gave up: the best point seen so far stands.
        }
        if (tracked.bestLoss < HUGE_VAL) u = tracked.best;
        return tracked.bestLoss;
    }

    void FloatTick(const Vector& best) {
        if (!progress_ || evaluations_ % 25 != 0) return;
        const ModuleWeights w = Rounded(best);
        Report(TrainingStage::Float, evaluations_,
               std::min(0.6, 0.6 * evaluations_ / std::max(1.0, plannedEvaluations_)), w);
    }

    void Report(TrainingStage stage, int step, double fraction, const ModuleWeights& w) {
        if (!progress_) return;
        TrainingProgress p;
        p.stage = stage;
        p.step = step;
        // Later candidates go through the stages again; the bar only moves on.
        reportedFraction_ = std::max(reportedFraction_, fraction);
        p.fraction = reportedFraction_;
        p.trainRmse = ModuleFigures(rows_, train_, w).all.rmse;
        p.heldOutRmse = held_.empty() ? 0.0 : ModuleFigures(rows_, held_, w).all.rmse;
        p.elapsedSeconds = Elapsed();
        progress_(p);
    }

    Vector StageOne(TrainingResult& result);
    ModuleWeights RoundStepByStep(const Vector& floatWeights);
    ModuleWeights RefitOutputLayer(const ModuleWeights& weights);
    void SearchFrom(const Vector& floatWeights, ModuleSearch& search, TrainingResult& result);
    void Descend(const ModuleWeights& start, ModuleSearch& search, TrainingResult& result,
                 bool pairs = false);

    const std::vector<TrainingRow>& rows_;
    const TrainingOptions& options_;
    const TrainingProgressFn& progress_;
    const std::atomic<bool>* stop_;
    std::mt19937_64 rng_;
    Clock::time_point start_;
    std::vector<std::size_t> train_, held_;
    std::vector<std::pair<double, Vector>> others_;  // other starts: loss, weights
    int evaluations_ = 0;
    double plannedEvaluations_ = 1.0;
    double reportedFraction_ = 0.0;
    bool stopped_ = false;
};

Vector StageOneBounds(double value) {
    return Vector::Constant(NET_WEIGHT_COUNT, value);
}

Vector Trainer::StageOne(TrainingResult& result) {
    Vector lb, ub;
    CentredBounds(lb, ub);
    const FloatObjective all(rows_, train_, Arithmetic::Float);

    const int polishIterations =
        std::clamp(static_cast<int>(kPolishRowEvaluations / static_cast<double>(train_.size())),
                   kMinPolishIterations, kMaxPolishIterations);
    Vector best;
    if (options_.start) {
        best.resize(NET_WEIGHT_COUNT);
        for (int n = 0; n < NET_WEIGHT_COUNT; ++n) best[n] = (*options_.start)[n];
        result.floatStarts = 1;
        plannedEvaluations_ = polishIterations * 1.2;
    } else {
        // The starts are compared on a sample of the rows, which keeps them cheap
        // for large sets.
        std::vector<std::size_t> sample = train_;
        if (sample.size() > kStartSampleRows) sample.resize(kStartSampleRows);
        const FloatObjective sampled(rows_, sample, Arithmetic::Float);
        const double sampleShare = static_cast<double>(sample.size()) / train_.size();
        plannedEvaluations_ = (kStarts * kStartIterations * sampleShare + polishIterations) * 1.2;
        double bestLoss = HUGE_VAL;
        for (int s = 0; s < kStarts && !ShouldStop(); ++s) {
            Vector u = RandomStart(rng_, 1.0 + 0.5 * (s % 3));
            const double loss = Minimise(sampled, u, kStartIterations, true, lb, ub);
            ++result.floatStarts;
            others_.emplace_back(loss, u);
            if (loss < bestLoss) {
                bestLoss = loss;
                best = u;
            }
        }
        if (best.size() == 0) best = RandomStart(rng_, 1.0);
        // The runners-up, best first, for further module searches.
        std::stable_sort(others_.begin(), others_.end(),
                         [](const auto& x, const auto& y) { return x.first < y.first; });
        if (!others_.empty()) others_.erase(others_.begin());
    }
    if (!ShouldStop()) Minimise(all, best, polishIterations, true, lb, ub);
    return best;
}

// Rounds the float weights to integers in rounds: each round fixes the share of
// the still-free weights nearest to an integer and lets the others make up for it,
// against a smooth stand-in of the module's arithmetic.
ModuleWeights Trainer::RoundStepByStep(const Vector& floatWeights) {
    Vector u = floatWeights;
    Vector lb = StageOneBounds(-kMaxModuleWeight);
    Vector ub = StageOneBounds(kMaxModuleWeight);
    std::vector<bool> fixed(NET_WEIGHT_COUNT, false);
    const FloatObjective module(rows_, train_, Arithmetic::Module);
    for (int round = 1; round <= kRoundingRounds && !ShouldStop(); ++round) {
        std::vector<int> free;
        for (int n = 0; n < NET_WEIGHT_COUNT; ++n) {
            if (!fixed[n]) free.push_back(n);
        }
        std::stable_sort(free.begin(), free.end(), [&](int x, int y) {
            return std::abs(u[x] - std::nearbyint(u[x])) < std::abs(u[y] - std::nearbyint(u[y]));
        });
        const std::size_t count =
            round == kRoundingRounds ? free.size() : free.size() / (kRoundingRounds - round + 1);
        for (std::size_t f = 0; f < count; ++f) {
            const int n = free[f];
            fixed[n] = true;
            u[n] = static_cast<double>(ClampWeight(std::nearbyint(u[n])));
            lb[n] = ub[n] = u[n];
        }
        if (round < kRoundingRounds) Minimise(module, u, kRoundingIterations, false, lb, ub);
    }
    return Rounded(u);
}

// Rounds `floatWeights` for the module (at once or step by step, the output layer
// refitted) and searches from there until no sweep helps.
void Trainer::SearchFrom(const Vector& floatWeights, ModuleSearch& search, TrainingResult& result) {
    // Candidates for the module search: the float weights rounded at once, and
    // rounded step by step; the search starts from the better. The module's sums
    // are 1280/1275 of the float network's for the same weights.
    const Vector scaled = floatWeights * (kModuleDivisor / kFloatDivisor);
    ModuleWeights start = Rounded(scaled);
    Vector smooth = scaled;
    if (!ShouldStop()) {
        Vector lb, ub;
        CentredBounds(lb, ub);
        const FloatObjective module(rows_, train_, Arithmetic::Module);
        const int iterations = std::clamp(
            static_cast<int>(kModulePolishRowEvaluations / static_cast<double>(train_.size())),
            kMinModulePolishIterations, kMaxModulePolishIterations);
        Minimise(module, smooth, iterations, true, lb, ub);
    }
    if (!ShouldStop()) {
        const ModuleWeights stepwise = RoundStepByStep(smooth);
        if (search.SquaredError(stepwise) < search.SquaredError(start)) start = stepwise;
    }
    if (!ShouldStop()) {
        const ModuleWeights refit = RefitOutputLayer(start);
        if (search.SquaredError(refit) < search.SquaredError(start)) start = refit;
    }
    Descend(start, search, result);
}

// Searches from `start` until no sweep helps, the output layer refitted when stuck.
void Trainer::Descend(const ModuleWeights& start, ModuleSearch& search, TrainingResult& result,
                      bool pairs) {
    search.Reset(start);
    Report(TrainingStage::Module, result.moduleSweeps, 0.6, search.Weights());
    const auto plannedSweeps = static_cast<double>(ModuleSearch::kMaxSweeps);
    int refits = 0;
    for (int sweeps = 0; !ShouldStop() && sweeps < ModuleSearch::kMaxSweeps; ++sweeps) {
        const bool improved = search.Sweep([this] { return ShouldStop(); });
        ++result.moduleSweeps;
        Report(TrainingStage::Module, result.moduleSweeps,
               0.6 + 0.4 * std::min(1.0, result.moduleSweeps / plannedSweeps), search.Weights());
        if (improved) continue;
        if (pairs && search.NeuronPairs([this] { return ShouldStop(); })) continue;
        // Stuck: the output layer fitted anew to the hidden bytes reached so far
        // may open the way again.
        if (refits++ == kMaxRefits || ShouldStop()) break;
        const ModuleWeights refit = RefitOutputLayer(search.Weights());
        if (search.SquaredError(refit) >= search.Error()) break;
        search.Reset(refit);
    }
}

// Fits the output layer anew to the module's hidden bytes of `weights`, its hidden
// layer kept, and rounds it.
ModuleWeights Trainer::RefitOutputLayer(const ModuleWeights& weights) {
    Vector u(NET_WEIGHT_COUNT);
    Vector lb(NET_WEIGHT_COUNT), ub(NET_WEIGHT_COUNT);
    for (int n = 0; n < NET_WEIGHT_COUNT; ++n) {
        u[n] = weights[n];
        const bool hidden = n < HIDDEN_WEIGHT_COUNT;
        lb[n] = hidden ? u[n] : -kMaxModuleWeight;
        ub[n] = hidden ? u[n] : kMaxModuleWeight;
    }
    const OutputLayerObjective objective(rows_, train_, weights);
    Minimise(objective, u, kRefitIterations, false, lb, ub);
    return Rounded(u);
}

TrainingResult Trainer::Run() {
    TrainingResult result;
    // The held-out rows: a seeded shuffle of the row numbers, by a mapping of our
    // own so that every platform splits alike.
    std::vector<std::size_t> order(rows_.size());
    std::iota(order.begin(), order.end(), std::size_t{0});
    std::mt19937_64 split(options_.seed ^ 0x5851F42D4C957F2DULL);
    for (std::size_t n = order.size(); n > 1; --n) {
        std::swap(order[n - 1], order[split() % n]);
    }
    const double share = std::clamp(options_.holdout, 0.0, 0.9);
    const auto heldCount =
        static_cast<std::size_t>(std::llround(share * static_cast<double>(rows_.size())));
    held_.assign(order.begin(), order.begin() + static_cast<std::ptrdiff_t>(heldCount));
    train_.assign(order.begin() + static_cast<std::ptrdiff_t>(heldCount), order.end());
    std::sort(held_.begin(), held_.end());
    std::sort(train_.begin(), train_.end());
    result.trainRows = train_.size();
    result.heldOutRows = held_.size();
    if (train_.empty()) return result;  // nothing to learn from: the all-zero net

    const Vector floatWeights = StageOne(result);
    for (int n = 0; n < NET_WEIGHT_COUNT; ++n) result.floatWeights[n] = floatWeights[n];

    ModuleSearch search(rows_, train_);
    SearchFrom(floatWeights, search, result);
    // Other starts may round more kindly: searched too while the rows are few
    // enough for the time, and the best in the module's arithmetic kept.
    ModuleWeights best = search.Weights();
    std::int64_t bestError = search.Error();
    const std::size_t extra = train_.size() <= kCandidateRows ? kExtraCandidates : 0;
    for (std::size_t c = 0; c < std::min(extra, others_.size()) && !ShouldStop(); ++c) {
        SearchFrom(others_[c].second, search, result);
        if (search.Error() < bestError) {
            bestError = search.Error();
            best = search.Weights();
        }
    }
    // A given start is a candidate as it stands: training on never makes it worse.
    if (options_.start && !ShouldStop()) {
        ModuleWeights start = *options_.start;
        for (std::int16_t& w : start) w = ClampWeight(w);
        Descend(start, search, result);
        if (search.Error() < bestError) best = search.Weights();
    }
    // The best, searched on with pairs of weights as well: too slow to spend on
    // every candidate.
    if (!ShouldStop()) {
        Descend(best, search, result, true);
    } else {
        search.Reset(best);
    }
    result.weights = search.Weights();
    result.stoppedEarly = stopped_;
    result.floatEvaluations = evaluations_;

    result.floatTrain = FloatFigures(rows_, train_, floatWeights);
    result.floatHeldOut = FloatFigures(rows_, held_, floatWeights);
    result.moduleTrain = ModuleFigures(rows_, train_, result.weights);
    result.moduleHeldOut = ModuleFigures(rows_, held_, result.weights);
    const ModuleWeights truncated = Truncated(floatWeights);
    result.truncatedTrain = ModuleFigures(rows_, train_, truncated);
    result.truncatedHeldOut = ModuleFigures(rows_, held_, truncated);
    result.seconds = Elapsed();
    if (progress_) Report(TrainingStage::Module, result.moduleSweeps, 1.0, result.weights);
    return result;
}

}  // namespace

TrainingResult TrainNetwork(const std::vector<TrainingRow>& rows, const TrainingOptions& options,
                            const TrainingProgressFn& progress, const std::atomic<bool>* stop) {
    Trainer trainer(rows, options, progress, stop);
    return trainer.Run();
}

ErrorFigures ModuleErrorFigures(const std::vector<TrainingRow>& rows,
                                const ModuleWeights& weights) {
    std::vector<std::size_t> index(rows.size());
    std::iota(index.begin(), index.end(), std::size_t{0});
    return ModuleFigures(rows, index, weights);
}
