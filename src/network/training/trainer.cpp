#include "network/training/trainer.h"

#include <LBFGSB.h>

#include <Eigen/Core>
#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <exception>
#include <memory>
#include <mutex>
#include <numeric>
#include <optional>
#include <random>
#include <thread>
#include <utility>

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

// Work planned, in counts, not times, so that a run can be repeated bit for bit.
// Float: a weight decay chosen from kDecays on the first start, then further starts
// with it, each on a sample of the fitting rows and stopped when the validation
// error has not fallen for kPatience evaluations.
constexpr int kStarts = 4;
constexpr double kDecays[] = {0.0, 1e-3, 1e-2, 1e-1};
constexpr std::size_t kStartSampleRows = 1000;
constexpr int kStartIterations = 1000;
constexpr int kPatience = 150;
constexpr int kValidationEvery = 5;  // evaluations between validation checks
constexpr int kCheckpointEvery = 50;
constexpr int kRoundingRounds = 5;
constexpr int kRoundingIterations = 40;
constexpr int kRefitIterations = 300;
constexpr int kMaxRefits = 4;
// Iterations of the float network in the module's smooth stand-in before rounding:
// fewer only for very many rows.
constexpr double kModulePolishRowEvaluations = 6e6;
constexpr int kMaxModulePolishIterations = 1000;
constexpr int kMinModulePolishIterations = 300;
// Starts taken into the module stage, best by validation error first.
constexpr std::size_t kCandidates = 2;
// The search stops when the validation error has not fallen for this many sweeps.
constexpr int kSweepPatience = 6;
// Below this many rows not held out the choices are made on k folds, each row
// judged once, instead of on one validation share.
constexpr std::size_t kFoldRows = 600;
constexpr int kFolds = 4;
constexpr double kValidationShare = 0.2;
// Warnings: fewer rows than this to train on; an error on rows not trained on
// above kFarAbove x that on the rows trained on + kFarAboveLsb.
constexpr std::size_t kFewRows = 200;
constexpr double kFarAbove = 1.5;
constexpr double kFarAboveLsb = 3.0;

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

    [[nodiscard]] std::size_t Rows() const { return index_.size(); }

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

    [[nodiscard]] std::size_t Rows() const { return index_.size(); }

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

std::string Lsb(double value) {
    char text[32];
    std::snprintf(text, sizeof text, "%.1f LSB", value);
    return text;
}

// Plain-word warnings of a net that may be wrong on new inputs, each with what to do.
std::vector<std::string> TrainingWarnings(const TrainingResult& r) {
    std::vector<std::string> warnings;
    if (r.trainRows < kFewRows) {
        warnings.push_back("Only " + std::to_string(r.trainRows) +
                           " rows to train on for the net's 280 weights: it can learn these "
                           "rows by heart and still be wrong between them. Record more rows (a "
                           "few hundred, spread over the inputs it will see) and train again.");
    }
    const bool heldOut = r.heldOutRows > 0;
    const double unseen = heldOut ? r.moduleHeldOut.all.rmse : r.moduleValidation.all.rmse;
    const double seen = r.moduleTrain.all.rmse;
    if (unseen > kFarAbove * seen + kFarAboveLsb) {
        warnings.push_back("The error on rows the net was not trained on (" + Lsb(unseen) +
                           (heldOut ? ", held out" : ", cross-validation estimate") +
                           ") is far above that on the rows it was trained on (" + Lsb(seen) +
                           "): it fits its rows more closely than it will fit new inputs. "
                           "Record more rows, leave out noisy or contradictory ones, and expect "
                           "about " +
                           Lsb(unseen) + " on new inputs.");
    }
    return warnings;
}

// The decay of the source weights, in centred units (p = u / 10): lambda x the sum
// of p^2. Biases are free: a neuron's middle costs nothing.
double Decay(double lambda, const Vector& u, Vector& gu) {
    if (lambda <= 0.0) return 0.0;
    double penalty = 0.0;
    ForEachNeuron([&](int sources, auto index) {
        for (int i = 0; i < sources; ++i) {
            const int n = index(i);
            penalty += lambda * 0.01 * u[n] * u[n];
            gu[n] += lambda * 0.02 * u[n];
        }
    });
    return penalty;
}

// The rows a run fits on and those that judge it (none in the refit); the samples
// keep the float starts cheap for large sets.
struct RowSplit {
    std::vector<std::size_t> fit, fitSample, val, valSample;
};

// The end of an optimiser run: its best point (by the validation error where there
// are validation rows) and after how many evaluations it was reached.
struct RunResult {
    Vector u;                   // module units
    double valLoss = HUGE_VAL;  // per output value; HUGE_VAL: no validation rows
    int evaluationsAtBest = 0;
};

// One module stage on one split: the validation error and the weights after every
// step of the search (step 0: its start).
struct ModuleTry {
    std::vector<std::int64_t> curve;
    std::vector<ModuleWeights> nets;
    int polishEvaluations = 0;
};

class Trainer {
public:
    Trainer(const std::vector<TrainingRow>& rows, const TrainingOptions& options,
            const TrainingProgressFn& progress, const std::atomic<bool>* stop)
        : rows_(rows),
          options_(options),
          progress_(progress),
          stop_(stop),
          rng_(options.seed),
          caller_(std::this_thread::get_id()) {
        start_ = Clock::now();
        const unsigned machine = std::max(1u, std::thread::hardware_concurrency());
        threads_ = options.threads > 0 ? options.threads : static_cast<int>(std::min(2u, machine));
    }

    TrainingResult Run();

private:
    // The objective handed to the optimiser: counts, remembers the best point (and
    // the best by the validation rows), ends the optimiser when asked to stop or
    // when the validation error has not fallen for a while, and offers its point
    // in the module's arithmetic now and then. With `centred` the optimiser works
    // on centred parameters (see ToModuleUnits), else on the module units.
    template <typename Objective>
    struct Tracked {
        Trainer& trainer;
        const Objective& objective;
        const FloatObjective* validation;
        bool centred;
        double decay;
        int maxEvaluations;  // 0: none
        double toModule;     // module units per unit of u: 1280/1275 for the float net
        std::uint64_t key;   // of the offers, unique, in the order a run makes them; 0: none
        Vector best;         // in module units
        double bestLoss = HUGE_VAL;
        Vector bestValidated = Vector();
        double bestValidationLoss = HUGE_VAL;
        int bestValidationEvaluation = 0;
        int evaluations = 0;
        Vector u = Vector(NET_WEIGHT_COUNT);
        Vector gu = Vector(NET_WEIGHT_COUNT);
        double operator()(const Vector& x, Vector& gradient) {
            if (trainer.ShouldStop()) throw StopTraining{};
            if (maxEvaluations > 0 && evaluations >= maxEvaluations) throw StopTraining{};
            if (validation && evaluations - bestValidationEvaluation > kPatience)
                throw StopTraining{};
            if (centred) {
                ToModuleUnits(x, u);
            } else {
                u = x;
            }
            double loss = objective.Loss(u, &gu);
            loss += BiasPenalty(u, gu);
            loss += Decay(decay, u, gu);
            if (centred) {
                GradientToCentred(gu, gradient);
            } else {
                gradient = gu;
            }
            if (!std::isfinite(loss)) return HUGE_VAL;
            ++evaluations;
            trainer.evaluations_.fetch_add(1, std::memory_order_relaxed);
            trainer.AddWork(objective.Rows());
            if (loss < bestLoss) {
                bestLoss = loss;
                best = u;
            }
            if (validation && evaluations % kValidationEvery == 0) {
                const double v = validation->Loss(u, nullptr);
                trainer.AddWork(validation->Rows());
                if (v < bestValidationLoss) {
                    bestValidationLoss = v;
                    bestValidated = u;
                    bestValidationEvaluation = evaluations;
                }
            }
            if (key != 0 && evaluations % kCheckpointEvery == 0) {
                const Vector& point = validation && bestValidated.size() ? bestValidated : best;
                trainer.Offer(Rounded(point * toModule), key + evaluations);
                trainer.Report();
            }
            return loss;
        }
    };

    bool ShouldStop() {
        if (stopped_.load(std::memory_order_relaxed)) return true;
        const bool stop =
            (stop_ && stop_->load(std::memory_order_relaxed)) ||
            (options_.timeLimitSeconds > 0 && Elapsed() >= options_.timeLimitSeconds) ||
            (options_.workLimit > 0 && work_.load(std::memory_order_relaxed) >= options_.workLimit);
        if (stop) stopped_.store(true);
        return stop;
    }
    double Elapsed() const { return std::chrono::duration<double>(Clock::now() - start_).count(); }
    void AddWork(std::uint64_t rows) { work_.fetch_add(rows, std::memory_order_relaxed); }

    // Runs L-BFGS-B from `u` (module units). Centred: within the centred bounds,
    // else within [lb, ub] in module units. With validation rows the point returned
    // is the one they judge best; without, the best by the objective.
    template <typename Objective>
    RunResult Minimise(const Objective& objective, const FloatObjective* validation,
                       const Vector& u, int iterations, int maxEvaluations, bool centred,
                       const Vector& lb, const Vector& ub, double decay, double toModule,
                       std::uint64_t key) {
        LBFGSpp::LBFGSBParam<double> param;
        param.m = 10;
        param.max_iterations = iterations;
        param.epsilon = 1e-7;
        param.epsilon_rel = 0.0;
        param.past = 20;
        param.delta = 1e-10;
        param.max_linesearch = 40;
        LBFGSpp::LBFGSBSolver<double> solver(param);
        Tracked<Objective> tracked{*this,          objective, validation, centred, decay,
                                   maxEvaluations, toModule,  key,        u};
        try {
            double fx = 0.0;
            Vector x = u;
            if (centred) FromModuleUnits(u, x);
            solver.minimize(tracked, x, fx, lb, ub);
        } catch (const StopTraining&) {
        } catch (const std::exception&) {
            // The line search gave up: the best point seen so far stands.
        }
        RunResult r;
        r.u = u;
        if (validation && tracked.bestValidated.size()) {
            r.u = tracked.bestValidated;
            r.valLoss = tracked.bestValidationLoss;
            r.evaluationsAtBest = tracked.bestValidationEvaluation;
        } else if (tracked.bestLoss < HUGE_VAL) {
            r.u = tracked.best;
            r.evaluationsAtBest = tracked.evaluations;
        }
        return r;
    }

    // A module net seen: kept when its squared error over the rows not held out is
    // the lowest so far (ties: the lower key, so that threads do not matter).
    void Offer(const ModuleWeights& w, std::uint64_t key) { Offer(w, pool_->SquaredError(w), key); }
    void Offer(const ModuleWeights& w, std::int64_t poolError, std::uint64_t key) {
        std::lock_guard<std::mutex> lock(keptMutex_);
        if (kept_ && std::make_pair(poolError, key) >= std::make_pair(keptError_, keptKey_)) return;
        kept_ = w;
        keptError_ = poolError;
        keptKey_ = key;
        keptTrainRmse_ = std::sqrt(static_cast<double>(poolError) /
                                   (static_cast<double>(pool_->Rows()) * NET_OUTPUT_COUNT));
        keptHeldOutRmse_ = held_.empty() ? 0.0 : ModuleFigures(rows_, held_, w).all.rmse;
    }

    // Progress, on the caller's thread only: stage and fraction never go back, the
    // errors are those of the best net so far.
    void Report(TrainingStage stage = TrainingStage::Float, double fraction = 0.0) {
        if (!progress_ || std::this_thread::get_id() != caller_) return;
        stage_ = std::max(stage_, static_cast<int>(stage));
        const double done = static_cast<double>(work_.load()) / plannedWork_;
        reportedFraction_ = std::max({reportedFraction_, fraction, std::min(0.99, done)});
        TrainingProgress p;
        p.stage = static_cast<TrainingStage>(stage_);
        p.step = p.stage == TrainingStage::Float ? evaluations_.load() : sweeps_.load();
        p.fraction = reportedFraction_;
        {
            std::lock_guard<std::mutex> lock(keptMutex_);
            p.trainRmse = keptTrainRmse_;
            p.heldOutRmse = keptHeldOutRmse_;
        }
        p.elapsedSeconds = Elapsed();
        progress_(p);
    }

    // Runs fn(0) .. fn(count - 1), on up to threads_ threads; every call writes only
    // its own results, so the outcome does not depend on the thread count.
    template <typename Fn>
    void Parallel(std::size_t count, Fn fn) {
        std::atomic<std::size_t> next{0};
        auto worker = [&] {
            for (std::size_t i; (i = next.fetch_add(1)) < count;) fn(i);
        };
        std::vector<std::thread> workers;
        for (int t = 1; t < threads_ && static_cast<std::size_t>(t) < count; ++t)
            workers.emplace_back(worker);
        worker();
        for (std::thread& t : workers) t.join();
    }

    void MakeSplits();
    RunResult FloatRun(const RowSplit& split, const Vector& start, double decay, int maxEvaluations,
                       std::uint64_t key);
    ModuleTry ModuleStage(const RowSplit& split, const Vector& floatWeights, double decay,
                          int polishCap, int stepCap, TrainingStage stage, std::uint64_t key);
    ModuleWeights RoundStepByStep(const std::vector<std::size_t>& fit, const Vector& u,
                                  double decay);
    ModuleWeights RefitOutputLayer(const std::vector<std::size_t>& fit,
                                   const ModuleWeights& weights, double decay);
    void Descend(ModuleSearch& search, const ModuleSearch* validation,
                 const std::vector<std::size_t>& fit, double decay, const ModuleWeights& start,
                 int stepCap, TrainingStage stage, std::uint64_t key, ModuleTry& t);
    void Finish(TrainingResult& result, const Vector& floatWeights);

    const std::vector<TrainingRow>& rows_;
    const TrainingOptions& options_;
    const TrainingProgressFn& progress_;
    const std::atomic<bool>* stop_;
    std::mt19937_64 rng_;
    Clock::time_point start_;
    std::thread::id caller_;
    int threads_ = 1;
    std::vector<std::size_t> pool_index_, held_;
    std::unique_ptr<ModuleSearch> pool_;  // SquaredError only: safe on every thread
    std::vector<RowSplit> splits_;
    std::atomic<int> evaluations_{0};
    std::atomic<int> sweeps_{0};
    std::atomic<std::uint64_t> work_{0};
    std::atomic<bool> stopped_{false};
    double plannedWork_ = 1.0;
    // Caller's thread only.
    double reportedFraction_ = 0.0;
    int stage_ = 1;
    // The best net so far; keptMutex_ guards these.
    std::mutex keptMutex_;
    std::optional<ModuleWeights> kept_;
    std::int64_t keptError_ = 0;
    std::uint64_t keptKey_ = 0;
    double keptTrainRmse_ = 0.0;
    double keptHeldOutRmse_ = 0.0;
};

Vector StageOneBounds(double value) {
    return Vector::Constant(NET_WEIGHT_COUNT, value);
}

// The rows not held out, into fitting and validation rows: k folds while they are
// few, so that every row is judged once, else one seeded share.
void Trainer::MakeSplits() {
    std::vector<std::size_t> order = pool_index_;
    std::mt19937_64 shuffle(options_.seed ^ 0x2545F4914F6CDD1DULL);
    for (std::size_t n = order.size(); n > 1; --n) std::swap(order[n - 1], order[shuffle() % n]);
    const std::size_t n = order.size();
    // As many folds as rows at most: a fold never validates on no rows.
    const int folds = n < kFoldRows ? static_cast<int>(std::min<std::size_t>(kFolds, n)) : 1;
    for (int f = 0; f < folds; ++f) {
        // Fold f validates on its share of the shuffled order; one split takes the
        // first kValidationShare.
        const std::size_t from = folds == 1 ? 0 : n * f / folds;
        const std::size_t to = folds == 1
                                   ? static_cast<std::size_t>(std::llround(kValidationShare * n))
                                   : n * (f + 1) / folds;
        RowSplit split;
        for (std::size_t r = 0; r < n; ++r)
            (r >= from && r < to ? split.val : split.fit).push_back(order[r]);
        std::sort(split.fit.begin(), split.fit.end());
        std::sort(split.val.begin(), split.val.end());
        split.fitSample.assign(split.fit.begin(),
                               split.fit.begin() + std::min(split.fit.size(), kStartSampleRows));
        split.valSample.assign(split.val.begin(),
                               split.val.begin() + std::min(split.val.size(), kStartSampleRows));
        splits_.push_back(std::move(split));
    }
}

RunResult Trainer::FloatRun(const RowSplit& split, const Vector& start, double decay,
                            int maxEvaluations, std::uint64_t key) {
    Vector lb, ub;
    CentredBounds(lb, ub);
    const FloatObjective fit(rows_, split.fitSample, Arithmetic::Float);
    const FloatObjective val(rows_, split.valSample, Arithmetic::Float);
    return Minimise(fit, split.valSample.empty() ? nullptr : &val, start, kStartIterations,
                    maxEvaluations, true, lb, ub, decay, kModuleDivisor / kFloatDivisor, key);
}

// Rounds the float weights to integers in rounds: each round fixes the share of
// the still-free weights nearest to an integer and lets the others make up for it,
// against a smooth stand-in of the module's arithmetic.
ModuleWeights Trainer::RoundStepByStep(const std::vector<std::size_t>& fit, const Vector& start,
                                       double decay) {
    Vector u = start;
    Vector lb = StageOneBounds(-kMaxModuleWeight);
    Vector ub = StageOneBounds(kMaxModuleWeight);
    std::vector<bool> fixed(NET_WEIGHT_COUNT, false);
    const FloatObjective module(rows_, fit, Arithmetic::Module);
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
        if (round < kRoundingRounds) {
            u = Minimise(module, nullptr, u, kRoundingIterations, 0, false, lb, ub, decay, 1.0, 0)
                    .u;
        }
    }
    return Rounded(u);
}

// Fits the output layer anew to the module's hidden bytes of `weights`, its hidden
// layer kept, and rounds it.
ModuleWeights Trainer::RefitOutputLayer(const std::vector<std::size_t>& fit,
                                        const ModuleWeights& weights, double decay) {
    Vector u(NET_WEIGHT_COUNT);
    Vector lb(NET_WEIGHT_COUNT), ub(NET_WEIGHT_COUNT);
    for (int n = 0; n < NET_WEIGHT_COUNT; ++n) {
        u[n] = weights[n];
        const bool hidden = n < HIDDEN_WEIGHT_COUNT;
        lb[n] = hidden ? u[n] : -kMaxModuleWeight;
        ub[n] = hidden ? u[n] : kMaxModuleWeight;
    }
    const OutputLayerObjective objective(rows_, fit, weights);
    AddWork(fit.size());
    return Rounded(
        Minimise(objective, nullptr, u, kRefitIterations, 0, false, lb, ub, decay, 1.0, 0).u);
}

// The module stage on one split: the float weights trained on in the module's
// stand-in, rounded (at once or step by step, the output layer refitted), then
// searched on. With validation rows every run stops where they say; the refit
// (`polishCap`, `stepCap`) repeats what they chose.
ModuleTry Trainer::ModuleStage(const RowSplit& split, const Vector& floatWeights, double decay,
                               int polishCap, int stepCap, TrainingStage stage, std::uint64_t key) {
    ModuleTry t;
    ModuleSearch search(rows_, split.fit);
    std::optional<ModuleSearch> validation;
    if (!split.val.empty()) validation.emplace(rows_, split.val);
    // The module's sums are 1280/1275 of the float network's for the same weights.
    const Vector scaled = floatWeights * (kModuleDivisor / kFloatDivisor);
    ModuleWeights start = Rounded(scaled);
    Vector smooth = scaled;
    if (!ShouldStop()) {
        Vector lb, ub;
        CentredBounds(lb, ub);
        const FloatObjective module(rows_, split.fit, Arithmetic::Module);
        const FloatObjective moduleVal(rows_, split.val, Arithmetic::Module);
        const int iterations = std::clamp(
            static_cast<int>(kModulePolishRowEvaluations / static_cast<double>(split.fit.size())),
            kMinModulePolishIterations, kMaxModulePolishIterations);
        const RunResult r = Minimise(module, validation ? &moduleVal : nullptr, smooth, iterations,
                                     polishCap, true, lb, ub, decay, 1.0, key);
        smooth = r.u;
        t.polishEvaluations = r.evaluationsAtBest;
    }
    if (!ShouldStop()) {
        const ModuleWeights stepwise = RoundStepByStep(split.fit, smooth, decay);
        if (search.SquaredError(stepwise) < search.SquaredError(start)) start = stepwise;
    }
    if (!ShouldStop()) {
        const ModuleWeights refit = RefitOutputLayer(split.fit, start, decay);
        if (search.SquaredError(refit) < search.SquaredError(start)) start = refit;
    }
    Descend(search, validation ? &*validation : nullptr, split.fit, decay, start, stepCap, stage,
            key + (std::uint64_t{1} << 24), t);
    return t;
}

// Searches from `start`, a step being a sweep (or, when a sweep finds nothing, the
// paired moves, or the output layer refitted): until nothing helps, the validation
// error has not fallen for kSweepPatience steps, or `stepCap` steps (< 0: no cap).
void Trainer::Descend(ModuleSearch& search, const ModuleSearch* validation,
                      const std::vector<std::size_t>& fit, double decay, const ModuleWeights& start,
                      int stepCap, TrainingStage stage, std::uint64_t key, ModuleTry& t) {
    search.Reset(start);
    std::uint64_t counted = 0;
    auto stop = [&] {
        AddWork(search.Work() - counted);
        counted = search.Work();
        return ShouldStop();
    };
    std::int64_t bestValidation = 0;
    int bestStep = 0;
    auto record = [&](int step) {
        const ModuleWeights w = search.Weights();
        const std::int64_t v = validation ? validation->SquaredError(w) : 0;
        if (validation) AddWork(validation->Rows());
        t.curve.push_back(v);
        t.nets.push_back(w);
        if (step == 0 || v <= bestValidation) {
            // Only what the validation rows judge best so far: a net past that point
            // is fitted closer to its rows than the task allows.
            if (step == 0 || v < bestValidation) bestStep = step;
            bestValidation = v;
            Offer(w, search.Error() + v, key + static_cast<std::uint64_t>(step));
        }
        Report(stage);
    };
    record(0);
    int refits = 0;
    for (int step = 1;
         step <= ModuleSearch::kMaxSweeps && (stepCap < 0 || step <= stepCap) && !stop(); ++step) {
        bool improved = search.Sweep(stop);
        if (!improved && !stop()) improved = search.NeuronPairs(stop);
        bool ended = false;
        if (!improved && !stop()) {
            // Stuck: the output layer fitted anew to the hidden bytes reached so far
            // may open the way again.
            const ModuleWeights refit = RefitOutputLayer(fit, search.Weights(), decay);
            if (refits++ == kMaxRefits || search.SquaredError(refit) >= search.Error()) {
                ended = true;
            } else {
                search.Reset(refit);
            }
        }
        stop();
        sweeps_.fetch_add(1);
        if (ended) break;
        record(step);
        if (validation && step - bestStep >= kSweepPatience) break;
    }
}

void Trainer::Finish(TrainingResult& result, const Vector& floatWeights) {
    result.weights = *kept_;
    result.stoppedEarly = stopped_.load();
    result.floatEvaluations = evaluations_.load();
    result.moduleSweeps = sweeps_.load();
    for (int n = 0; n < NET_WEIGHT_COUNT; ++n) result.floatWeights[n] = floatWeights[n];
    result.floatTrain = FloatFigures(rows_, pool_index_, floatWeights);
    result.floatHeldOut = FloatFigures(rows_, held_, floatWeights);
    result.moduleTrain = ModuleFigures(rows_, pool_index_, result.weights);
    result.moduleHeldOut = ModuleFigures(rows_, held_, result.weights);
    const ModuleWeights truncated = Truncated(floatWeights);
    result.truncatedTrain = ModuleFigures(rows_, pool_index_, truncated);
    result.truncatedHeldOut = ModuleFigures(rows_, held_, truncated);
    result.warnings = TrainingWarnings(result);
    result.seconds = Elapsed();
    Report(TrainingStage::Refit, 1.0);
}

TrainingResult Trainer::Run() {
    TrainingResult result;
    held_ = HeldOutRowIndices(rows_.size(), options_);
    std::vector<bool> isHeld(rows_.size(), false);
    for (std::size_t r : held_) isHeld[r] = true;
    for (std::size_t r = 0; r < rows_.size(); ++r) {
        if (!isHeld[r]) pool_index_.push_back(r);
    }
    result.trainRows = pool_index_.size();
    result.heldOutRows = held_.size();
    if (pool_index_.empty()) return result;  // nothing to learn from: the all-zero net
    pool_ = std::make_unique<ModuleSearch>(rows_, pool_index_);

    // Something to write however early a stop comes: the all-zero net, and a given
    // start as it stands (training on never makes it worse).
    Offer(ModuleWeights{}, 0);
    std::vector<Vector> starts;
    if (options_.start) {
        ModuleWeights given = *options_.start;
        for (std::int16_t& w : given) w = ClampWeight(w);
        Offer(given, 1);
        Vector u(NET_WEIGHT_COUNT);
        for (int n = 0; n < NET_WEIGHT_COUNT; ++n)
            u[n] = given[n] * (kFloatDivisor / kModuleDivisor);
        starts.push_back(u);
    } else {
        for (int s = 0; s < kStarts; ++s) starts.push_back(RandomStart(rng_, 0.5 + 0.5 * (s % 3)));
    }
    MakeSplits();
    const std::size_t folds = splits_.size();
    const std::size_t decays = std::size(kDecays);
    const std::size_t candidates = std::min(kCandidates, starts.size());

    // The work planned, for the progress only.
    const double fitRows = static_cast<double>(splits_[0].fit.size());
    const double sampleRows = static_cast<double>(splits_[0].fitSample.size());
    const double moduleWork = fitRows * (kMaxModulePolishIterations * 1.1 + 400.0 + 15 * 2500.0);
    plannedWork_ =
        folds * ((decays + starts.size() - 1) * sampleRows * 700.0 + candidates * moduleWork) +
        sampleRows * 700.0 + moduleWork * pool_index_.size() / fitRows;

    // Float: the decay, on the first start, by the validation error over the folds.
    auto meanLoss = [&](const std::vector<RunResult>& runs, std::size_t stride, std::size_t k) {
        double sum = 0.0;
        for (std::size_t f = 0; f < folds; ++f) sum += runs[f * stride + k].valLoss;
        return sum / static_cast<double>(folds);
    };
    std::vector<RunResult> decayRuns(folds * decays);
    Parallel(folds * decays, [&](std::size_t i) {
        decayRuns[i] = FloatRun(splits_[i / decays], starts[0], kDecays[i % decays], 0,
                                (std::uint64_t{1} << 40) + (std::uint64_t{i} << 28));
    });
    Vector floatWeights = decayRuns[0].u;
    if (ShouldStop()) {
        Finish(result, floatWeights);
        return result;
    }
    std::size_t decay = 0;
    for (std::size_t d = 1; d < decays; ++d) {
        if (meanLoss(decayRuns, decays, d) < meanLoss(decayRuns, decays, decay)) decay = d;
    }
    result.weightDecay = kDecays[decay];

    // Further starts with that decay; the best by the validation error go on.
    const std::size_t startCount = starts.size();
    std::vector<RunResult> startRuns(folds * startCount);
    for (std::size_t f = 0; f < folds; ++f)
        startRuns[f * startCount] = decayRuns[f * decays + decay];
    Parallel(folds * (startCount - 1), [&](std::size_t i) {
        const std::size_t f = i / (startCount - 1), s = 1 + i % (startCount - 1);
        startRuns[f * startCount + s] =
            FloatRun(splits_[f], starts[s], kDecays[decay], 0,
                     (std::uint64_t{2} << 40) + (std::uint64_t{i} << 28));
    });
    result.floatStarts = static_cast<int>(startCount);
    std::vector<std::size_t> ranked(startCount);
    std::iota(ranked.begin(), ranked.end(), std::size_t{0});
    std::stable_sort(ranked.begin(), ranked.end(), [&](std::size_t x, std::size_t y) {
        return meanLoss(startRuns, startCount, x) < meanLoss(startRuns, startCount, y);
    });
    floatWeights = startRuns[ranked[0]].u;
    if (ShouldStop()) {
        Finish(result, floatWeights);
        return result;
    }

    // Module: the best starts, each on every fold; the start and the number of
    // steps with the lowest validation error over the folds are chosen.
    std::vector<ModuleTry> tries(folds * candidates);
    Parallel(folds * candidates, [&](std::size_t i) {
        const std::size_t f = i / candidates, c = ranked[i % candidates];
        tries[i] =
            ModuleStage(splits_[f], startRuns[f * startCount + c].u, kDecays[decay], 0, -1,
                        TrainingStage::Module, (std::uint64_t{3} << 40) + (std::uint64_t{i} << 28));
    });
    if (ShouldStop()) {
        Finish(result, floatWeights);
        return result;
    }
    std::size_t chosen = 0;
    std::size_t chosenStep = 0;
    double chosenError = HUGE_VAL;
    for (std::size_t c = 0; c < candidates; ++c) {
        std::size_t steps = 0;
        for (std::size_t f = 0; f < folds; ++f)
            steps = std::max(steps, tries[f * candidates + c].curve.size());
        for (std::size_t step = 0; step < steps; ++step) {
            double sum = 0.0;
            for (std::size_t f = 0; f < folds; ++f) {
                const auto& curve = tries[f * candidates + c].curve;
                sum += static_cast<double>(curve[std::min(step, curve.size() - 1)]);
            }
            if (sum < chosenError) {
                chosenError = sum;
                chosen = c;
                chosenStep = step;
            }
        }
    }
    FigureAccumulator validation;
    double floatEvaluations = 0.0, polishEvaluations = 0.0;
    for (std::size_t f = 0; f < folds; ++f) {
        const ModuleTry& t = tries[f * candidates + chosen];
        const ModuleWeights& w = t.nets[std::min(chosenStep, t.nets.size() - 1)];
        for (std::size_t r : splits_[f].val) {
            NetInputs in{};
            std::copy(rows_[r].in.begin(), rows_[r].in.end(), in.begin());
            const NetOutputs out = EvaluateInt(in, w);
            for (int m = 0; m < NET_OUTPUT_COUNT; ++m)
                validation.Add(m, static_cast<double>(out[m]) - rows_[r].out[m]);
        }
        floatEvaluations += startRuns[f * startCount + ranked[chosen]].evaluationsAtBest;
        polishEvaluations += t.polishEvaluations;
    }
    // Reported only once there is a choice to report: a stop before leaves them 0.
    result.moduleValidation = validation.Figures();
    result.validationFolds = static_cast<int>(folds);
    for (const RowSplit& s : splits_) result.validationRows += s.val.size();

    // Refit: the chosen recipe on every row not held out, each run as long as the
    // validation rows chose (on average over the folds).
    RowSplit all;
    all.fit = pool_index_;
    all.fitSample.assign(all.fit.begin(),
                         all.fit.begin() + std::min(all.fit.size(), kStartSampleRows));
    const auto average = [&](double total) {
        return std::max(1, static_cast<int>(std::lround(total / static_cast<double>(folds))));
    };
    Report(TrainingStage::Refit);
    const RunResult refit = FloatRun(all, starts[ranked[chosen]], kDecays[decay],
                                     average(floatEvaluations), std::uint64_t{4} << 40);
    floatWeights = refit.u;
    ModuleStage(all, floatWeights, kDecays[decay], average(polishEvaluations),
                static_cast<int>(chosenStep), TrainingStage::Refit, std::uint64_t{5} << 40);
    Finish(result, floatWeights);
    return result;
}
}  // namespace

std::vector<std::size_t> HeldOutRowIndices(std::size_t rowCount, const TrainingOptions& options) {
    // A seeded shuffle of the row numbers, by a mapping of our own so that every
    // platform splits alike.
    std::vector<std::size_t> order(rowCount);
    std::iota(order.begin(), order.end(), std::size_t{0});
    std::mt19937_64 split(options.seed ^ 0x5851F42D4C957F2DULL);
    for (std::size_t n = order.size(); n > 1; --n) {
        std::swap(order[n - 1], order[split() % n]);
    }
    const double share = std::clamp(options.holdout, 0.0, 0.9);
    const auto heldCount =
        static_cast<std::size_t>(std::llround(share * static_cast<double>(rowCount)));
    order.resize(heldCount);
    std::sort(order.begin(), order.end());
    return order;
}

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
