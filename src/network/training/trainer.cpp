#include "network/training/trainer.h"

#include <LBFGSB.h>

#include <Eigen/Core>
#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <memory>
#include <mutex>
#include <numeric>
#include <optional>
#include <random>
#include <stdexcept>
#include <string>
#include <thread>
#include <utility>

#include "network/evaluators.h"
#include "network/training/closest_integer_point.h"
#include "network/training/error_figures.h"
#include "network/training/module_search.h"
#include "network/training/objective.h"
#include "network/training/parametrisation.h"
#include "network/training/trainer_seam.h"
#include "network/training/trainer_tunables.h"

namespace {

using namespace training;
using Clock = std::chrono::steady_clock;

struct StopTraining {};  // thrown out of the objective to end the optimiser early

// What is added to an objective: the decay of the source weights (centred units) and
// of the output weights (module units; see TrainerTunables::outputDecays).
struct Penalty {
    double decay = 0.0;
    double output = 0.0;
};

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
            const TrainingSeam& seam, const TrainingProgressFn& progress,
            const std::atomic<bool>* stop)
        : t_(seam.tunables),
          onCandidate_(seam.onCandidate),
          rows_(rows),
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
        Penalty penalty;
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
            if (validation && evaluations - bestValidationEvaluation > trainer.t_.patience)
                throw StopTraining{};
            if (centred) {
                ToModuleUnits(x, u);
            } else {
                u = x;
            }
            double loss = objective.Loss(u, &gu);
            loss += BiasPenalty(trainer.t_.biasPenaltyWeight, u, gu);
            loss += Decay(penalty.decay, u, gu);
            loss += OutputDecay(penalty.output, u, gu);
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
            if (validation && evaluations % trainer.t_.validationEvery == 0) {
                const double v = validation->Loss(u, nullptr);
                trainer.AddWork(validation->Rows());
                if (v < bestValidationLoss) {
                    bestValidationLoss = v;
                    bestValidated = u;
                    bestValidationEvaluation = evaluations;
                }
            }
            if (key != 0 && evaluations % trainer.t_.checkpointEvery == 0) {
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
                       const Vector& lb, const Vector& ub, Penalty penalty, double toModule,
                       std::uint64_t key) {
        LBFGSpp::LBFGSBParam<double> param;
        param.m = t_.lbfgsMemory;
        param.max_iterations = iterations;
        param.epsilon = t_.lbfgsEpsilon;
        param.epsilon_rel = 0.0;
        param.past = t_.lbfgsPast;
        param.delta = t_.lbfgsDelta;
        param.max_linesearch = t_.lbfgsMaxLineSearch;
        LBFGSpp::LBFGSBSolver<double> solver(param);
        Tracked<Objective> tracked{*this,          objective, validation, centred, penalty,
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
        if (onCandidate_) onCandidate_(w);
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
    ModuleTry ModuleStage(const RowSplit& split, const Vector& floatWeights, Penalty penalty,
                          int polishCap, int stepCap, TrainingStage stage, std::uint64_t key);
    ModuleWeights RoundStepByStep(const std::vector<std::size_t>& fit, const Vector& u,
                                  Penalty penalty);
    ModuleWeights RefitOutputLayer(const ModuleSearch& search, const std::vector<std::size_t>& fit,
                                   const ModuleWeights& weights, Penalty penalty);
    void Descend(ModuleSearch& search, const ModuleSearch* validation,
                 const std::vector<std::size_t>& fit, Penalty penalty, const ModuleWeights& start,
                 int stepCap, TrainingStage stage, std::uint64_t key, ModuleTry& t);
    void Finish(TrainingResult& result, const Vector& floatWeights);

    const TrainerTunables& t_;
    const std::function<void(const ModuleWeights&)>& onCandidate_;
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

// The rows not held out, into fitting and validation rows: k folds while they are
// few, so that every row is judged once, else one seeded share.
void Trainer::MakeSplits() {
    std::vector<std::size_t> order = pool_index_;
    std::mt19937_64 shuffle(options_.seed ^ 0x2545F4914F6CDD1DULL);
    for (std::size_t n = order.size(); n > 1; --n) std::swap(order[n - 1], order[shuffle() % n]);
    const std::size_t n = order.size();
    // As many folds as rows at most: a fold never validates on no rows.
    const int folds = n < t_.foldRows ? static_cast<int>(std::min<std::size_t>(t_.folds, n)) : 1;
    for (int f = 0; f < folds; ++f) {
        // Fold f validates on its share of the shuffled order; one split takes the
        // first validationShare.
        const std::size_t from = folds == 1 ? 0 : n * f / folds;
        const std::size_t to = folds == 1
                                   ? static_cast<std::size_t>(std::llround(t_.validationShare * n))
                                   : n * (f + 1) / folds;
        RowSplit split;
        for (std::size_t r = 0; r < n; ++r)
            (r >= from && r < to ? split.val : split.fit).push_back(order[r]);
        std::sort(split.fit.begin(), split.fit.end());
        std::sort(split.val.begin(), split.val.end());
        split.fitSample.assign(split.fit.begin(),
                               split.fit.begin() + std::min(split.fit.size(), t_.startSampleRows));
        split.valSample.assign(split.val.begin(),
                               split.val.begin() + std::min(split.val.size(), t_.startSampleRows));
        splits_.push_back(std::move(split));
    }
}

RunResult Trainer::FloatRun(const RowSplit& split, const Vector& start, double decay,
                            int maxEvaluations, std::uint64_t key) {
    Vector lb, ub;
    CentredBounds(lb, ub);
    const FloatObjective fit(rows_, split.fitSample, Arithmetic::Float);
    const FloatObjective val(rows_, split.valSample, Arithmetic::Float);
    return Minimise(fit, split.valSample.empty() ? nullptr : &val, start, t_.startIterations,
                    maxEvaluations, true, lb, ub, Penalty{decay, 0.0},
                    kModuleDivisor / kFloatDivisor, key);
}

// Rounds the float weights to integers in rounds: each round fixes the share of
// the still-free weights nearest to an integer and lets the others make up for it,
// against a smooth stand-in of the module's arithmetic.
ModuleWeights Trainer::RoundStepByStep(const std::vector<std::size_t>& fit, const Vector& start,
                                       Penalty penalty) {
    Vector u = start;
    Vector lb = UniformBounds(-kMaxModuleWeight);
    Vector ub = UniformBounds(kMaxModuleWeight);
    std::vector<bool> fixed(NET_WEIGHT_COUNT, false);
    const FloatObjective module(rows_, fit, Arithmetic::Module);
    for (int round = 1; round <= t_.roundingRounds && !ShouldStop(); ++round) {
        std::vector<int> free;
        for (int n = 0; n < NET_WEIGHT_COUNT; ++n) {
            if (!fixed[n]) free.push_back(n);
        }
        std::stable_sort(free.begin(), free.end(), [&](int x, int y) {
            return std::abs(u[x] - std::nearbyint(u[x])) < std::abs(u[y] - std::nearbyint(u[y]));
        });
        const std::size_t count = round == t_.roundingRounds
                                      ? free.size()
                                      : free.size() / (t_.roundingRounds - round + 1);
        for (std::size_t f = 0; f < count; ++f) {
            const int n = free[f];
            fixed[n] = true;
            u[n] = static_cast<double>(ClampWeight(std::nearbyint(u[n])));
            lb[n] = ub[n] = u[n];
        }
        if (round < t_.roundingRounds) {
            u = Minimise(module, nullptr, u, t_.roundingIterations, 0, false, lb, ub, penalty, 1.0,
                         0)
                    .u;
        }
    }
    return Rounded(u);
}

// Fits the output layer anew to the module's hidden bytes of `weights`, its hidden
// layer kept, and rounds it.
ModuleWeights Trainer::RefitOutputLayer(const ModuleSearch& search,
                                        const std::vector<std::size_t>& fit,
                                        const ModuleWeights& weights, Penalty penalty) {
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
    const Vector fitted =
        Minimise(objective, nullptr, u, t_.refitIterations, 0, false, lb, ub, penalty, 1.0, 0).u;
    const ModuleWeights rounded = Rounded(fitted);
    if (t_.latticeNodes == 0) return rounded;
    // Outputs are independent given the hidden bytes: each output's weights are
    // made integer on their own.
    ModuleWeights lattice = rounded;
    constexpr int kSources = NET_HIDDEN_COUNT + 1;
    for (int m = 0; m < NET_OUTPUT_COUNT; ++m) {
        Eigen::MatrixXd g = objective.OutputCurvature(fitted, m);
        // A trace's millionth on the diagonal keeps G positive definite where a
        // hidden byte is constant over the rows (a neuron at its bound).
        g.diagonal().array() += 1e-6 * g.trace() / kSources + 1e-12;
        Vector c(kSources);
        for (int k = 0; k < kSources; ++k) c[k] = fitted[OutputWeightIndex(k, m)];
        const Vector z = ClosestIntegerPoint(g, c, t_.latticeNodes);
        for (int k = 0; k < kSources; ++k) lattice[OutputWeightIndex(k, m)] = ClampWeight(z[k]);
    }
    AddWork(2 * fit.size());
    return search.SquaredError(lattice) < search.SquaredError(rounded) ? lattice : rounded;
}

// The module stage on one split: the float weights trained on in the module's
// stand-in, rounded (at once or step by step, the output layer refitted), then
// searched on. With validation rows every run stops where they say; the refit
// (`polishCap`, `stepCap`) repeats what they chose.
ModuleTry Trainer::ModuleStage(const RowSplit& split, const Vector& floatWeights, Penalty penalty,
                               int polishCap, int stepCap, TrainingStage stage, std::uint64_t key) {
    ModuleTry t;
    ModuleSearch search(rows_, split.fit, t_);
    std::optional<ModuleSearch> validation;
    if (!split.val.empty()) validation.emplace(rows_, split.val, t_);
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
            static_cast<int>(t_.modulePolishRowEvaluations / static_cast<double>(split.fit.size())),
            t_.minModulePolishIterations, t_.maxModulePolishIterations);
        const RunResult r = Minimise(module, validation ? &moduleVal : nullptr, smooth, iterations,
                                     polishCap, true, lb, ub, penalty, 1.0, key);
        smooth = r.u;
        t.polishEvaluations = r.evaluationsAtBest;
    }
    if (!ShouldStop()) {
        const ModuleWeights stepwise = RoundStepByStep(split.fit, smooth, penalty);
        if (search.SquaredError(stepwise) < search.SquaredError(start)) start = stepwise;
    }
    if (!ShouldStop()) {
        const ModuleWeights refit = RefitOutputLayer(search, split.fit, start, penalty);
        if (search.SquaredError(refit) < search.SquaredError(start)) start = refit;
    }
    Descend(search, validation ? &*validation : nullptr, split.fit, penalty, start, stepCap, stage,
            key + (std::uint64_t{1} << 24), t);
    return t;
}

// Searches from `start`, a step being a sweep (or, when a sweep finds nothing, the
// paired moves, or the output layer refitted): until nothing helps, the validation
// error has not fallen for sweepPatience steps, or `stepCap` steps (< 0: no cap).
void Trainer::Descend(ModuleSearch& search, const ModuleSearch* validation,
                      const std::vector<std::size_t>& fit, Penalty penalty,
                      const ModuleWeights& start, int stepCap, TrainingStage stage,
                      std::uint64_t key, ModuleTry& t) {
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
    for (int step = 1; step <= t_.maxSweeps && (stepCap < 0 || step <= stepCap) && !stop();
         ++step) {
        bool improved = search.Sweep(stop);
        if (!improved && !stop()) improved = search.NeuronPairs(stop);
        bool ended = false;
        if (!improved && !stop()) {
            // Stuck: the output layer fitted anew to the hidden bytes reached so far
            // may open the way again.
            const ModuleWeights refit = RefitOutputLayer(search, fit, search.Weights(), penalty);
            if (refits++ == t_.maxRefits || search.SquaredError(refit) >= search.Error()) {
                ended = true;
            } else {
                search.Reset(refit);
            }
        }
        stop();
        sweeps_.fetch_add(1);
        if (ended) break;
        record(step);
        if (validation && step - bestStep >= t_.sweepPatience) break;
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
    result.warnings = TrainingWarnings(result, t_);
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
    pool_ = std::make_unique<ModuleSearch>(rows_, pool_index_, t_);

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
        for (int s = 0; s < t_.starts; ++s)
            starts.push_back(RandomStart(rng_, 0.5 + 0.5 * (s % 3)));
    }
    MakeSplits();
    const std::size_t folds = splits_.size();
    const std::size_t decays = t_.decays.size();
    // The module stage's candidates: the best start with every output decay, the
    // next ones with the first.
    struct Candidate {
        std::size_t rank;
        double outputDecay;
    };
    std::vector<Candidate> candidateList;
    for (double od : t_.outputDecays) {
        if (od == t_.outputDecays[0] || splits_[0].fit.size() <= t_.outputDecayMaxRows)
            candidateList.push_back({0, od});
    }
    for (std::size_t c = 1; c < std::min(t_.candidates, starts.size()); ++c)
        candidateList.push_back({c, t_.outputDecays[0]});
    const std::size_t candidates = candidateList.size();

    // The work planned, for the progress only.
    const double fitRows = static_cast<double>(splits_[0].fit.size());
    const double sampleRows = static_cast<double>(splits_[0].fitSample.size());
    const double moduleWork = fitRows * (t_.maxModulePolishIterations * 1.1 + 400.0 + 15 * 2500.0);
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
        decayRuns[i] = FloatRun(splits_[i / decays], starts[0], t_.decays[i % decays], 0,
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
    result.weightDecay = t_.decays[decay];

    // Further starts with that decay; the best by the validation error go on.
    const std::size_t startCount = starts.size();
    std::vector<RunResult> startRuns(folds * startCount);
    for (std::size_t f = 0; f < folds; ++f)
        startRuns[f * startCount] = decayRuns[f * decays + decay];
    Parallel(folds * (startCount - 1), [&](std::size_t i) {
        const std::size_t f = i / (startCount - 1), s = 1 + i % (startCount - 1);
        startRuns[f * startCount + s] =
            FloatRun(splits_[f], starts[s], t_.decays[decay], 0,
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
        const std::size_t f = i / candidates;
        const Candidate& c = candidateList[i % candidates];
        tries[i] =
            ModuleStage(splits_[f], startRuns[f * startCount + ranked[c.rank]].u,
                        Penalty{t_.decays[decay], c.outputDecay}, 0, -1, TrainingStage::Module,
                        (std::uint64_t{3} << 40) + (std::uint64_t{i} << 28));
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
        floatEvaluations +=
            startRuns[f * startCount + ranked[candidateList[chosen].rank]].evaluationsAtBest;
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
                         all.fit.begin() + std::min(all.fit.size(), t_.startSampleRows));
    const auto average = [&](double total) {
        return std::max(1, static_cast<int>(std::lround(total / static_cast<double>(folds))));
    };
    Report(TrainingStage::Refit);
    const RunResult refit =
        FloatRun(all, starts[ranked[candidateList[chosen].rank]], t_.decays[decay],
                 average(floatEvaluations), std::uint64_t{4} << 40);
    floatWeights = refit.u;
    result.outputDecay = candidateList[chosen].outputDecay;
    ModuleStage(all, floatWeights, Penalty{t_.decays[decay], result.outputDecay},
                average(polishEvaluations), static_cast<int>(chosenStep), TrainingStage::Refit,
                std::uint64_t{5} << 40);
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
    static const TrainingSeam plain;
    Trainer trainer(rows, options, plain, progress, stop);
    return trainer.Run();
}

TrainingResult TrainNetworkWith(const std::vector<TrainingRow>& rows,
                                const TrainingOptions& options, const TrainingSeam& seam,
                                const TrainingProgressFn& progress, const std::atomic<bool>* stop) {
    const std::vector<std::string> problems = seam.tunables.Problems();
    if (!problems.empty()) throw std::invalid_argument("trainer tunables: " + problems.front());
    Trainer trainer(rows, options, seam, progress, stop);
    return trainer.Run();
}
