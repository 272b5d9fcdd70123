#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <mutex>
#include <random>
#include <sstream>
#include <stdexcept>
#include <vector>

#include "files/training_rows.h"
#include "network/evaluators.h"
#include "network/net_file_reader.h"
#include "network/training/closest_integer_point.h"
#include "network/training/module_search.h"
#include "network/training/trainer.h"
#include "network/training/trainer_seam.h"
#include "network/training/trainer_tunables.h"

namespace {

std::vector<TrainingRow> RowsOf(const ModuleWeights& w, std::size_t n, std::uint64_t seed) {
    std::mt19937_64 rng(seed);
    std::vector<TrainingRow> rows(n);
    for (TrainingRow& row : rows) {
        NetInputs in{};
        for (int i = 0; i < NET_INPUT_COUNT; ++i) in[i] = row.in[i] = rng() & 0xFF;
        const NetOutputs out = EvaluateInt(in, w);
        for (int m = 0; m < NET_OUTPUT_COUNT; ++m) row.out[m] = static_cast<std::uint8_t>(out[m]);
    }
    return rows;
}

// Output 1 rises with input 1 through hidden neuron 1; the other outputs are
// constants.
ModuleWeights SmallNet() {
    ModuleWeights w{};
    w[HiddenWeightIndex(0, 0)] = 6;
    w[HiddenWeightIndex(NET_INPUT_COUNT, 0)] = -3;
    w[OutputWeightIndex(0, 0)] = 5;
    w[OutputWeightIndex(NET_HIDDEN_COUNT, 0)] = -2;
    for (int m = 1; m < NET_OUTPUT_COUNT; ++m) w[OutputWeightIndex(NET_HIDDEN_COUNT, m)] = m - 4;
    return w;
}

TEST(Training, SameRowsAndSeedGiveTheSameWeightsAndTheSeedMatters) {
    const std::vector<TrainingRow> rows = RowsOf(SmallNet(), 40, 5);
    TrainingOptions options;
    options.seed = 7;
    const TrainingResult a = TrainNetwork(rows, options);
    const TrainingResult b = TrainNetwork(rows, options);
    EXPECT_EQ(a.weights, b.weights);
    EXPECT_EQ(a.moduleHeldOut.all.rmse, b.moduleHeldOut.all.rmse);
    options.seed = 8;
    EXPECT_NE(TrainNetwork(rows, options).weights, a.weights);
}

// The goal of realisable rows: within 1 LSB on the rows held out.
TEST(Training, RealisableRowsAreLearntClosely) {
    const std::vector<TrainingRow> rows = RowsOf(SmallNet(), 200, 11);
    std::vector<double> fractions;
    const TrainingResult r = TrainNetwork(rows, TrainingOptions{}, [&](const TrainingProgress& p) {
        fractions.push_back(p.fraction);
    });
    // Every candidate goes through the stages again; the progress bar only moves on.
    EXPECT_TRUE(std::is_sorted(fractions.begin(), fractions.end()));
    EXPECT_EQ(fractions.back(), 1.0);
    EXPECT_EQ(r.trainRows, 160u);
    EXPECT_EQ(r.heldOutRows, 40u);
    EXPECT_LE(r.moduleHeldOut.all.rmse, 1.0);
    EXPECT_LE(r.floatTrain.all.rmse, 0.5);
    // The module's arithmetic is what the result is scored in.
    EXPECT_LE(ModuleErrorFigures(rows, r.weights).all.rmse, 1.0);
}

// A task no net of the module meets exactly, with noise: 120 rows, so the choices
// are made on folds.
std::vector<TrainingRow> NoisyRows(std::size_t n, std::uint64_t seed) {
    std::vector<TrainingRow> rows = RowsOf(SmallNet(), n, seed);
    std::mt19937_64 rng(seed + 1);
    for (TrainingRow& row : rows) {
        for (int m = 0; m < NET_OUTPUT_COUNT; ++m) {
            const int v =
                row.out[m] + static_cast<int>(rng() % 9) - 4 + (m == 2 ? row.in[5] / 3 : 0);
            row.out[m] = static_cast<std::uint8_t>(std::clamp(v, 0, 255));
        }
    }
    return rows;
}

TEST(Training, AStopKeepsTheBestWeightsSoFar) {
    const std::vector<TrainingRow> rows = RowsOf(SmallNet(), 60, 3);
    std::atomic<bool> stop{false};
    std::vector<double> moduleSteps;
    auto progress = [&](const TrainingProgress& p) {
        if (p.stage == TrainingStage::Float) return;
        moduleSteps.push_back(p.trainRmse);
        stop = true;
    };
    TrainingOptions options;
    options.threads = 1;
    const TrainingResult r = TrainNetwork(rows, options, progress, &stop);
    EXPECT_TRUE(r.stoppedEarly);
    ASSERT_GE(moduleSteps.size(), 1u);
    EXPECT_LE(r.moduleTrain.all.rmse, moduleSteps.back() + 1e-9);

    // Stopped before anything was trained: still a whole net, within bounds.
    stop = true;
    const TrainingResult early = TrainNetwork(rows, TrainingOptions{}, {}, &stop);
    EXPECT_TRUE(early.stoppedEarly);
    EXPECT_EQ(early.moduleSweeps, 0);
}

// More work never writes a worse net: the measure a whole run uses (the module's
// error over the rows not held out) never rises, the held-out error not by more
// than 0.3 LSB; the progress shows the best so far and never goes back.
TEST(Training, AHigherWorkLimitNeverWritesAWorseNet) {
    const std::vector<TrainingRow> rows = NoisyRows(150, 31);
    double lastTrain = HUGE_VAL, lastHeld = HUGE_VAL;
    for (const std::uint64_t limit : {20000ULL, 200000ULL, 1000000ULL, 4000000ULL, 0ULL}) {
        SCOPED_TRACE(limit);
        TrainingOptions options;
        options.threads = 1;
        options.workLimit = limit;
        std::vector<TrainingProgress> seen;
        const TrainingResult r =
            TrainNetwork(rows, options, [&](const TrainingProgress& p) { seen.push_back(p); });
        EXPECT_EQ(r.stoppedEarly, limit != 0);
        EXPECT_LE(r.moduleTrain.all.rmse, lastTrain + 1e-9);
        EXPECT_LE(r.moduleHeldOut.all.rmse, lastHeld + 0.3);
        lastTrain = r.moduleTrain.all.rmse;
        lastHeld = r.moduleHeldOut.all.rmse;
        ASSERT_FALSE(seen.empty());
        for (std::size_t n = 1; n < seen.size(); ++n) {
            EXPECT_GE(seen[n].stage, seen[n - 1].stage);
            EXPECT_GE(seen[n].fraction, seen[n - 1].fraction);
            EXPECT_LE(seen[n].trainRmse, seen[n - 1].trainRmse + 1e-9);
        }
        EXPECT_NEAR(seen.back().trainRmse, r.moduleTrain.all.rmse, 1e-9);
        EXPECT_EQ(seen.back().fraction, 1.0);
    }
}

// The held-out rows reach neither the fitting nor any choice: whatever they hold,
// the same net is written, and the reported held-out figure is theirs.
TEST(Training, HeldOutRowsReachNoFittingNorChoice) {
    std::vector<TrainingRow> rows = NoisyRows(120, 41);
    TrainingOptions options;
    options.seed = 3;
    options.holdout = 0.25;
    const TrainingResult a = TrainNetwork(rows, options);
    const std::vector<std::size_t> held = HeldOutRowIndices(rows.size(), options);
    ASSERT_EQ(held.size(), 30u);
    ASSERT_EQ(a.heldOutRows, 30u);
    std::vector<TrainingRow> heldRows;
    for (std::size_t r : held) {
        heldRows.push_back(rows[r]);
        for (auto& v : rows[r].out) v = static_cast<std::uint8_t>(255 - v);
    }
    const TrainingResult b = TrainNetwork(rows, options);
    EXPECT_EQ(a.weights, b.weights);
    EXPECT_EQ(a.moduleTrain.all.rmse, b.moduleTrain.all.rmse);
    EXPECT_EQ(a.moduleValidation.all.rmse, b.moduleValidation.all.rmse);
    EXPECT_DOUBLE_EQ(ModuleErrorFigures(heldRows, a.weights).all.rmse, a.moduleHeldOut.all.rmse);
    EXPECT_NE(a.moduleHeldOut.all.rmse, b.moduleHeldOut.all.rmse);
    EXPECT_GT(a.validationFolds, 1);
    EXPECT_EQ(a.validationRows, a.trainRows);
}

// Threads share the work of the choices; they must not change the net.
TEST(Training, TheNetIsTheSameWhateverTheThreadCount) {
    const std::vector<TrainingRow> rows = NoisyRows(100, 51);
    TrainingOptions options;
    options.threads = 1;
    const TrainingResult one = TrainNetwork(rows, options);
    options.threads = 2;
    const TrainingResult two = TrainNetwork(rows, options);
    EXPECT_EQ(one.weights, two.weights);
    EXPECT_EQ(one.floatWeights, two.floatWeights);
    EXPECT_EQ(one.moduleValidation.all.rmse, two.moduleValidation.all.rmse);
}

// Small enough for the sanitizer runs, which check the threads' sharing.
TEST(TrainingThreads, TwoThreadsWriteWhatOneWrites) {
    const std::vector<TrainingRow> rows = NoisyRows(24, 53);
    TrainingOptions options;
    options.threads = 1;
    const TrainingResult one = TrainNetwork(rows, options);
    options.threads = 2;
    std::vector<double> fractions;
    const TrainingResult two = TrainNetwork(
        rows, options, [&](const TrainingProgress& p) { fractions.push_back(p.fraction); });
    EXPECT_EQ(one.weights, two.weights);
    EXPECT_TRUE(std::is_sorted(fractions.begin(), fractions.end()));
}

TEST(Training, WarnsOfFewRowsAndOverfittingOnlyWhenSo) {
    // 20 noisy rows: too few, and the rows not trained on show it.
    std::vector<TrainingRow> tiny = RowsOf(SmallNet(), 20, 61);
    std::mt19937_64 rng(62);
    for (TrainingRow& row : tiny) {
        for (auto& v : row.out) v = static_cast<std::uint8_t>(rng() & 0xFF);
    }
    const TrainingResult small = TrainNetwork(tiny, TrainingOptions{});
    ASSERT_EQ(small.warnings.size(), 2u);
    EXPECT_NE(small.warnings[0].find("Record more rows"), std::string::npos);
    EXPECT_NE(small.warnings[1].find("far above"), std::string::npos);
    TrainingOptions none;
    none.holdout = 0.0;
    const TrainingResult validated = TrainNetwork(tiny, none);
    EXPECT_GT(validated.moduleValidation.all.rmse, validated.moduleTrain.all.rmse);
    ASSERT_EQ(validated.warnings.size(), 2u);
    EXPECT_NE(validated.warnings[1].find("cross-validation estimate"), std::string::npos);

    // Enough clean rows: nothing to warn of.
    const TrainingResult clean = TrainNetwork(RowsOf(SmallNet(), 400, 63), TrainingOptions{});
    EXPECT_TRUE(clean.warnings.empty()) << clean.warnings[0];
}

TEST(Training, WeightsStayWithinWhatANetFileCanHold) {
    // Outputs that only ever larger weights could reach: all 255 for dark inputs,
    // all 0 for bright ones.
    std::vector<TrainingRow> rows(32);
    for (std::size_t r = 0; r < rows.size(); ++r) {
        const std::uint8_t v = r % 2 ? 255 : 0;
        rows[r].in.fill(v);
        rows[r].out.fill(static_cast<std::uint8_t>(255 - v));
    }
    const TrainingResult r = TrainNetwork(rows, TrainingOptions{});
    for (std::int16_t w : r.weights) EXPECT_LE(std::abs(w), kMaxModuleWeight);
    for (double w : r.floatWeights) EXPECT_LE(std::abs(w), kMaxModuleWeight + 1e-9);
}

// Two rows trained on: two folds of one row each, and a whole run to the end.
TEST(Training, AHandfulOfRowsStillTrains) {
    TrainingOptions options;
    options.holdout = 0.9;
    const TrainingResult r = TrainNetwork(RowsOf(SmallNet(), 20, 71), options);
    EXPECT_EQ(r.trainRows, 2u);
    EXPECT_EQ(r.validationFolds, 2);
    EXPECT_FALSE(r.stoppedEarly);
    EXPECT_FALSE(r.warnings.empty());
    for (std::int16_t w : r.weights) EXPECT_LE(std::abs(w), kMaxModuleWeight);
}

TEST(Training, AGivenStartIsNeverMadeWorse) {
    // Realisable by the start itself: training on from it keeps it exact.
    const std::vector<TrainingRow> rows = RowsOf(SmallNet(), 80, 21);
    TrainingOptions options;
    options.start = SmallNet();
    const TrainingResult r = TrainNetwork(rows, options);
    EXPECT_EQ(r.floatStarts, 1);
    EXPECT_EQ(r.moduleTrain.all.rmse, 0.0);
    EXPECT_EQ(r.moduleHeldOut.all.rmse, 0.0);
}

TEST(Training, TheHeldOutShareSplitsTheRows) {
    const std::vector<TrainingRow> rows = RowsOf(SmallNet(), 50, 2);
    const struct {
        double holdout;
        std::size_t held;
    } cases[] = {{0.0, 0}, {0.2, 10}, {0.5, 25}, {0.9, 45}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.holdout);
        std::atomic<bool> stop{true};  // the split alone is of interest here
        TrainingOptions options;
        options.holdout = c.holdout;
        const TrainingResult r = TrainNetwork(rows, options, {}, &stop);
        EXPECT_EQ(r.heldOutRows, c.held);
        EXPECT_EQ(r.trainRows + r.heldOutRows, rows.size());
        if (c.held == 0) {
            EXPECT_EQ(r.moduleHeldOut.all.rmse, 0.0);
        }
    }
}

// One weight of a known net put a step off: the search must mend it at its source,
// not make up for it with the weights it happens to try first.
TEST(ModuleSearch, AWeightOffByAStepIsMendedAtItsSource) {
    std::mt19937_64 rng(2026);
    // Random weights, each neuron's bias setting it about the middle of its slope.
    ModuleWeights known{};
    auto neuron = [&](int sources, int span, auto index) {
        int sum = 0;
        for (int i = 0; i < sources; ++i) {
            sum += known[index(i)] =
                static_cast<std::int16_t>(static_cast<int>(rng() % (2 * span + 1)) - span);
        }
        known[index(sources)] = static_cast<std::int16_t>(-sum / 2);
    };
    for (int j = 0; j < NET_HIDDEN_COUNT; ++j)
        neuron(NET_INPUT_COUNT, 6, [j](int i) { return HiddenWeightIndex(i, j); });
    for (int m = 0; m < NET_OUTPUT_COUNT; ++m)
        neuron(NET_HIDDEN_COUNT, 25, [m](int k) { return OutputWeightIndex(k, m); });
    const std::vector<TrainingRow> rows = RowsOf(known, 400, 4);
    std::vector<std::size_t> index(rows.size());
    for (std::size_t n = 0; n < index.size(); ++n) index[n] = n;
    ModuleSearch search(rows, index);
    for (const int n :
         {HiddenWeightIndex(1, 1), HiddenWeightIndex(2, 8), HiddenWeightIndex(NET_INPUT_COUNT, 3),
          OutputWeightIndex(NET_HIDDEN_COUNT, 2), OutputWeightIndex(12, 5)}) {
        for (const int step : {1, -1}) {
            SCOPED_TRACE(testing::Message() << "weight " << n << " by " << step);
            ModuleWeights w = known;
            w[n] = static_cast<std::int16_t>(w[n] + step);
            search.Reset(w);
            ASSERT_GT(search.Error(), 0);
            for (int sweep = 0; sweep < TrainerTunables{}.maxSweeps && search.Sweep({}); ++sweep) {
            }
            EXPECT_EQ(search.Error(), 0);
            EXPECT_EQ(search.Weights(), known);
        }
    }
}

// The search keeps every row's sums and bytes up to date move by move; after any
// number of sweeps, single or paired moves, its error must be what a fresh
// evaluation gives.
TEST(ModuleSearch, KeptErrorEqualsAFreshEvaluation) {
    std::vector<TrainingRow> rows = RowsOf(SmallNet(), 120, 8);
    std::mt19937_64 rng(13);
    for (TrainingRow& row : rows) row.out[3] = static_cast<std::uint8_t>(rng() & 0xFF);
    std::vector<std::size_t> index(rows.size());
    for (std::size_t n = 0; n < index.size(); ++n) index[n] = n;
    for (int start = 0; start < 3; ++start) {
        SCOPED_TRACE(start);
        ModuleWeights w{};
        for (std::int16_t& v : w) v = static_cast<std::int16_t>(static_cast<int>(rng() % 41) - 20);
        if (start == 2) w[0] = kMaxModuleWeight;  // at the bound: no step beyond it
        ModuleSearch search(rows, index);
        search.Reset(w);
        EXPECT_EQ(search.Error(), search.SquaredError(w));
        const std::int64_t before = search.Error();
        for (int sweep = 0; sweep < 3 && search.Sweep({}); ++sweep) {
            EXPECT_EQ(search.Error(), search.SquaredError(search.Weights()));
        }
        const std::int64_t swept = search.Error();
        search.NeuronPairs({});
        EXPECT_EQ(search.Error(), search.SquaredError(search.Weights()));
        EXPECT_LT(search.Error(), swept);  // pairs were taken: their bookkeeping was checked
        EXPECT_LT(search.Error(), before);
        for (std::int16_t v : search.Weights()) EXPECT_LE(std::abs(v), kMaxModuleWeight);
    }
}

// The net written is the best candidate the trainer considered, by its module error
// over the rows not held out; whatever stops the run (a work budget here), a later
// candidate that is worse never replaces a better one.
TEST(Training, TheWrittenNetIsTheBestCandidateConsidered) {
    const std::vector<TrainingRow> rows = NoisyRows(90, 71);
    TrainingOptions options;
    options.seed = 4;
    const std::vector<std::size_t> held = HeldOutRowIndices(rows.size(), options);
    std::vector<TrainingRow> pool;
    for (std::size_t r = 0, h = 0; r < rows.size(); ++r) {
        if (h < held.size() && held[h] == r) {
            ++h;
        } else {
            pool.push_back(rows[r]);
        }
    }
    for (const std::uint64_t limit : {300000ULL, 0ULL}) {
        SCOPED_TRACE(limit);
        options.workLimit = limit;
        std::vector<ModuleWeights> candidates;
        TrainingSeam seam;
        seam.onCandidate = [&](const ModuleWeights& w) { candidates.push_back(w); };
        const TrainingResult r = TrainNetworkWith(rows, options, seam);
        ASSERT_GT(candidates.size(), 3u);
        double best = HUGE_VAL;
        for (const ModuleWeights& w : candidates)
            best = std::min(best, ModuleErrorFigures(pool, w).all.rmse);
        EXPECT_DOUBLE_EQ(ModuleErrorFigures(pool, r.weights).all.rmse, best);
        EXPECT_DOUBLE_EQ(r.moduleTrain.all.rmse, best);
        EXPECT_NE(std::find(candidates.begin(), candidates.end(), r.weights), candidates.end());
        // Not merely the first or the last one considered.
        EXPECT_LT(best, ModuleErrorFigures(pool, candidates.front()).all.rmse);
    }
}

// The tunables as shipped can be used; each value that cannot work is refused with
// its name, before any training.
TEST(TrainerTunables, RefusesValuesThatCannotWork) {
    EXPECT_TRUE(TrainerTunables{}.Problems().empty());
    const struct {
        const char* name;
        void (*spoil)(TrainerTunables&);
    } cases[] = {
        {"starts", [](TrainerTunables& t) { t.starts = 0; }},
        {"decays",
         [](TrainerTunables& t) {
             t.decays = {0.1, 0.0, 0.01, 0.2};
         }},
        {"decays", [](TrainerTunables& t) { t.decays[0] = -1e-3; }},
        {"validationEvery", [](TrainerTunables& t) { t.validationEvery = t.patience + 1; }},
        {"candidates", [](TrainerTunables& t) { t.candidates = 5; }},
        {"candidates", [](TrainerTunables& t) { t.candidates = 0; }},
        {"module polish", [](TrainerTunables& t) { t.minModulePolishIterations = 2000; }},
        {"steps",
         [](TrainerTunables& t) {
             t.steps = {1, 1, 9};
         }},
        {"steps",
         [](TrainerTunables& t) {
             t.steps = {0, 3, 9};
         }},
        {"folds", [](TrainerTunables& t) { t.folds = 1; }},
        {"validationShare", [](TrainerTunables& t) { t.validationShare = 1.0; }},
        {"biasPenaltyWeight", [](TrainerTunables& t) { t.biasPenaltyWeight = 0.0; }},
        {"sweeps", [](TrainerTunables& t) { t.sweepPatience = 0; }},
        {"outputDecays",
         [](TrainerTunables& t) {
             t.outputDecays = {3e-4, 0.0};
         }},
        {"farAbove", [](TrainerTunables& t) { t.farAbove = 0.5; }},
    };
    const std::vector<TrainingRow> rows = NoisyRows(20, 73);
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        TrainingSeam seam;
        c.spoil(seam.tunables);
        const std::vector<std::string> problems = seam.tunables.Problems();
        ASSERT_FALSE(problems.empty());
        EXPECT_NE(problems[0].find(c.name), std::string::npos) << problems[0];
        EXPECT_THROW((void)TrainNetworkWith(rows, TrainingOptions{}, seam), std::invalid_argument);
    }
}

// The closest integer point under a quadratic form: never farther than the best of
// an exhaustive search of a box about c, and far nearer than rounding where the
// directions are correlated (as hidden bytes that move together make them).
TEST(ClosestIntegerPoint, IsTheNearestOfAnExhaustiveSearch) {
    std::mt19937_64 rng(5);
    auto uniform = [&](double lo, double hi) {
        return lo + (hi - lo) * static_cast<double>(rng() >> 11) * 0x1.0p-53;
    };
    const struct {
        const char* name;
        double correlation;  // of the columns the form is made of
    } cases[] = {{"independent", 0.0}, {"correlated", 0.9}, {"nearly parallel", 0.995}};
    for (const auto& k : cases) {
        int nearer = 0;  // trials where rounding is not the answer
        for (int trial = 0; trial < 8; ++trial) {
            SCOPED_TRACE(testing::Message() << k.name << ", trial " << trial);
            constexpr int n = 4;
            // G = A'A, A's columns a shared direction plus their own.
            Eigen::MatrixXd a(6, n);
            Eigen::VectorXd shared(6);
            for (int r = 0; r < 6; ++r) shared[r] = uniform(-1, 1);
            for (int c = 0; c < n; ++c) {
                for (int r = 0; r < 6; ++r)
                    a(r, c) = k.correlation * shared[r] + (1 - k.correlation) * uniform(-1, 1);
            }
            const Eigen::MatrixXd g = a.transpose() * a + 1e-9 * Eigen::MatrixXd::Identity(n, n);
            Eigen::VectorXd c(n);
            for (int i = 0; i < n; ++i) c[i] = uniform(-5, 5);
            auto cost = [&](const Eigen::VectorXd& z) { return (z - c).dot(g * (z - c)); };
            const Eigen::VectorXd z = training::ClosestIntegerPoint(g, c, 100000);
            for (int i = 0; i < n; ++i) EXPECT_EQ(z[i], std::nearbyint(z[i]));
            double best = HUGE_VAL;
            Eigen::VectorXd p(n);
            constexpr int kReach = 7, kSide = 2 * kReach + 1;
            for (int code = 0; code < kSide * kSide * kSide * kSide; ++code) {
                int rest = code;
                for (int i = 0; i < n; ++i, rest /= kSide)
                    p[i] = std::nearbyint(c[i]) + (rest % kSide) - kReach;
                best = std::min(best, cost(p));
            }
            EXPECT_LE(cost(z), best * (1 + 1e-9) + 1e-12);
            Eigen::VectorXd rounded(n);
            for (int i = 0; i < n; ++i) rounded[i] = std::nearbyint(c[i]);
            EXPECT_LE(cost(z), cost(rounded) + 1e-12);
            if (cost(z) < 0.5 * cost(rounded)) ++nearer;
        }
        if (k.correlation > 0.99) EXPECT_GE(nearer, 4) << k.name;
    }
}

TEST(TrainingRows, RefusesABadRowWithFileAndLine) {
    const std::string good = "1 2 3 4 5 6 7 8 9 10 11 12 13 14 15 16\n";
    const struct {
        std::string text;
        const char* error;  // empty: read well
        std::size_t rows;
    } cases[] = {
        {"in1\tin2\tin3\tin4\tin5\tin6\tin7\tin8\tout1\tout2\tout3\tout4\tout5\tout6\tout7\tout8\r"
         "\n" +
             good + "\r\n" + good,
         "", 2},
        // A recording: columns by name, whatever else stands beside them.
        {"time\tt_ms\tin1\tin2\tin3\tin4\tin5\tin6\tin7\tin8\tout1\tout2\tout3\tout4\tout5\tout6\t"
         "out7\tout8\tmode\n2026-12-08T23:40:01.123+01:"
         "00\t0\t1\t2\t3\t4\t5\t6\t7\t8\t9\t10\t11\t12\t13\t14\t15\t16\tmonitor",
         "", 1},
        {good + "1 2 3 4 5 6 7 8 9 10 11 12 13 14 15 256\n",
         "t.txt: line 2: value 256 is outside 0..255", 0},
        {good + good + "1 2 3\n", "t.txt: line 3: expected 16 values, found 3", 0},
        {good + "1 2 3 4 5 6 7 8 9 10 11 12 13 14 x 16\n", "t.txt: line 2: 'x' is not a number", 0},
        {good + "-1 2 3 4 5 6 7 8 9 10 11 12 13 14 15 16\n",
         "t.txt: line 2: value -1 is outside 0..255", 0},
        // A header that does not name every column chooses none: rows by position.
        {"in1 in2 in3 in4 in5 in6 in7 in8 out1\n" + good, "", 1},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text);
        std::istringstream in(c.text);
        const TrainingRowsRead read = ReadTrainingRows(in, "t.txt");
        EXPECT_EQ(read.ok, *c.error == '\0');
        EXPECT_EQ(read.error.rfind(c.error, 0), 0u) << read.error;
        if (read.ok) {
            ASSERT_EQ(read.rows.size(), c.rows);
            EXPECT_EQ(read.rows[0].in[0], 1);
            EXPECT_EQ(read.rows[0].out[7], 16);
        }
    }
}

}  // namespace
