#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <random>
#include <sstream>
#include <vector>

#include "files/training_rows.h"
#include "network/evaluators.h"
#include "network/net_file_reader.h"
#include "network/training/module_search.h"
#include "network/training/trainer.h"

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

TEST(Training, AStopKeepsTheBestWeightsSoFar) {
    const std::vector<TrainingRow> rows = RowsOf(SmallNet(), 60, 3);
    std::atomic<bool> stop{false};
    std::vector<double> moduleSteps;
    auto progress = [&](const TrainingProgress& p) {
        if (p.stage != TrainingStage::Module) return;
        moduleSteps.push_back(p.trainRmse);
        if (p.step == 1) stop = true;
    };
    const TrainingResult r = TrainNetwork(rows, TrainingOptions{}, progress, &stop);
    EXPECT_TRUE(r.stoppedEarly);
    ASSERT_GE(moduleSteps.size(), 2u);
    EXPECT_LE(r.moduleTrain.all.rmse, *std::min_element(moduleSteps.begin(), moduleSteps.end()));

    // Stopped before anything was trained: still a whole net, within bounds.
    stop = true;
    const TrainingResult early = TrainNetwork(rows, TrainingOptions{}, {}, &stop);
    EXPECT_TRUE(early.stoppedEarly);
    EXPECT_EQ(early.moduleSweeps, 0);
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
            for (int sweep = 0; sweep < ModuleSearch::kMaxSweeps && search.Sweep({}); ++sweep) {
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
