#pragma once
// Every number that steers the trainer, in one place, each with why it is what it
// is. The work is planned in counts, never in times, so that the same rows and seed
// write the same net on any machine and with any thread count; a change of any
// value here changes the nets written (the benchmarks in bench/train_bench.cpp show
// by how much). Problems() says which values cannot work together; the trainer is
// only ever run with values that pass it.
//
// Thread rules: a plain value; read-only while a training runs.

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

struct TrainerTunables {
    // --- Float stage (L-BFGS-B on the double-precision network) ---
    // Seeded random starts: four find a good basin on every benchmark task; more
    // cost a full float run each on every fold for a gain within noise.
    int starts = 4;
    // The weight decays tried on the first start (lambda x the sum of the squared
    // centred source weights); the validation rows choose. 0 for large clean sets,
    // up to 0.1 for a hundred noisy rows, where 280 weights would learn the rows.
    std::array<double, 4> decays = {0.0, 1e-3, 1e-2, 1e-1};
    // The float runs fit on at most this many rows: enough to place the basin;
    // the module stage sees every fitting row.
    std::size_t startSampleRows = 1000;
    int startIterations = 1000;  // L-BFGS iterations of a float run, at most
    // A run ends when its validation error has not fallen for this many
    // evaluations: long enough to cross a plateau of the sigmoids.
    int patience = 150;
    // Evaluations between validation checks: one check costs a fifth of an
    // evaluation (validation rows are a fifth), so checking every fifth costs 4 %.
    int validationEvery = 5;
    // Evaluations between offers of a float run's best point in the module's
    // arithmetic: a stop then finds a net at most this many evaluations old.
    int checkpointEvery = 50;

    // --- L-BFGS-B ---
    int lbfgsMemory = 10;  // correction pairs: the usual 10 suits 280 parameters
    // Gradient norm to stop at; relative test off: the loss is in LSB^2, and below
    // 1e-7 nothing changes a rounded weight.
    double lbfgsEpsilon = 1e-7;
    int lbfgsPast = 20;           // the loss over this many iterations ...
    double lbfgsDelta = 1e-10;    // ... falling by less than this ends a run
    int lbfgsMaxLineSearch = 40;  // a line search that needs more has lost its way
    // A bias beyond what the module holds costs this x the excess squared (the
    // centred parameters leave biases unbounded; the penalty brings them back).
    double biasPenaltyWeight = 1e-2;

    // --- Module stage: the smooth stand-in, rounding, the integer search ---
    // Iterations in the module's smooth stand-in before rounding: this many row
    // evaluations in all (fewer iterations only for very many rows), within
    // the two bounds below.
    double modulePolishRowEvaluations = 6e6;
    int maxModulePolishIterations = 1000;
    int minModulePolishIterations = 300;
    // Rounding step by step: the weights nearest to an integer are fixed first,
    // a share a round, and the others re-fitted for this many iterations.
    int roundingRounds = 5;
    int roundingIterations = 40;
    // The output layer fitted anew to the module's hidden bytes: iterations, and
    // how often a stuck search may do it (each may open the way once more).
    int refitIterations = 300;
    int maxRefits = 4;
    // The refitted output layer is made integer as the closest integer point to
    // it under its curvature (closest_integer_point.h) as well as by rounding, the
    // better kept: at most this many points enumerated per output (0: rounding
    // only). 17 dimensions after LLL need a few thousand at most.
    std::uint64_t latticeNodes = 20000;
    // Float starts taken into the module stage, best by validation error first:
    // the best float start is not always the best in the module's arithmetic.
    std::size_t candidates = 2;
    // Decays of the output weights (mu x the sum of their squares, module units) in
    // the module stage; the best start goes in with each, the others with the
    // first, and the validation rows choose. Why: a hidden neuron's byte moves in
    // steps of up to 4 as its quotient S / 80 ticks over, and each step moves an
    // output's sum by the output weight from it; smaller output weights spread
    // over more neurons average these steps out. On smooth targets that needs
    // 16 neurons of their own (the random teacher) it costs more than it saves,
    // on the comparators it halves the module's error: so it is a choice.
    std::array<double, 2> outputDecays = {0.0, 3e-4};
    // Above this many fitting rows only the first output decay is tried: the
    // other's try would take two threads three tries in two rounds, a third more
    // time (20,000 rows: 43 -> 66 s), and the 20,000-row goal is 60 s.
    std::size_t outputDecayMaxRows = 5000;
    // The search: sweeps at most, and it ends when the validation error has not
    // fallen for this many sweeps (a sweep often only prepares the next).
    int maxSweeps = 60;
    int sweepPatience = 6;
    // A move that lowers the error is taken up to this many times in a row.
    int maxRepeats = 64;
    // Single-weight step sizes, shortest first: one step can fall between two of
    // the table's steps for most rows; the longer ones get across such plateaus.
    std::array<int, 3> steps = {1, 3, 9};

    // --- Validation ---
    // Below this many rows not held out, k-fold cross-validation (every row judged
    // once): one validation share of 120 rows would be too noisy to choose by.
    std::size_t foldRows = 600;
    int folds = 4;
    double validationShare = 0.2;  // above foldRows: one share validates

    // --- Warnings ---
    // Fewer rows than this for 280 weights: the net can learn them by heart.
    std::size_t fewRows = 200;
    // An error on rows not trained on above farAbove x that on the rows trained
    // on + farAboveLsb: overfitting (the margin keeps a clean task's 1 against 2
    // LSB from raising it).
    double farAbove = 1.5;
    double farAboveLsb = 3.0;

    // What cannot work, in words; empty when the values can be used.
    [[nodiscard]] std::vector<std::string> Problems() const;
};
