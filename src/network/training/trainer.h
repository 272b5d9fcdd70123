#pragma once
// Training of the module's network from recorded rows (8 inputs, 8 wanted
// outputs, 0..255 each), aimed at what the module computes:
//  1. float: the 280 weights of the double-precision network, in module units
//     (float weight x 50000), trained from several seeded starts with L-BFGS-B,
//     every weight kept within -1073..1073, with a weight decay;
//  2. module: trained on in a smooth stand-in for the module's arithmetic (its
//     divisor, its quotients truncated toward zero), rounded to integers step by
//     step, then a search over the integer weights that minimises the squared
//     error of the module's own arithmetic (EvaluateInt);
//  3. refit: the recipe chosen in 1 and 2 trained again on every row not held out.
// Rows set aside by the seed ("held out") are never trained on and no choice sees
// them: they are only reported. Of the others, stages 1 and 2 fit on some and judge
// on the rest (validation rows; k folds for small sets): the weight decay, how long
// each float run goes on, which start goes into the module stage and how many
// sweeps the search makes are chosen by the error on rows not fitted on. The net
// written is the best seen by one measure, its module error over the rows not held
// out, so a stop writes the best so far by the measure a whole run uses. Without a
// time limit or a stop the same rows and seed give the same weights, bit for bit,
// whatever the thread count.
//
// Thread rules: TrainNetwork runs on the caller's thread and, with `threads` above
// one, on worker threads of its own that it joins before it returns; it touches no
// shared state. `stop` may be set from any thread; the progress callback runs on
// the caller's thread only and must not block for long.

#include <array>
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "network/weights.h"

// The largest module weight a net file can hold (2147483647 / 2,000,000).
constexpr int kMaxModuleWeight = 1073;
constexpr std::size_t kMinTrainingRows = 16;

struct TrainingRow {
    std::array<std::uint8_t, NET_INPUT_COUNT> in{};
    std::array<std::uint8_t, NET_OUTPUT_COUNT> out{};
};

struct TrainingOptions {
    double holdout = 0.2;  // share of the rows held out, 0 <= holdout <= 0.9
    std::uint64_t seed = 1;
    double timeLimitSeconds = 0.0;  // 0: none
    // Start from these weights instead of random starts.
    std::optional<ModuleWeights> start;
    int threads = 0;  // 0: as many as the machine has, at most two
    // Stop after this much work (rows evaluated; 0: none): a limit that, unlike
    // time, ends every run at the same point.
    std::uint64_t workLimit = 0;
};

// Error of one output or of all outputs pooled, in LSB of the 8-bit values.
struct ErrorFigure {
    double rmse = 0.0;
    double maxError = 0.0;        // largest |output - wanted|
    double shareWithinOne = 0.0;  // 0..1: |output - wanted| <= 1
};

struct ErrorFigures {
    std::array<ErrorFigure, NET_OUTPUT_COUNT> outputs{};
    ErrorFigure all;
};

// Float and Module: the choices on validation rows; Refit: the chosen recipe on
// every row not held out.
enum class TrainingStage { Float = 1, Module = 2, Refit = 3 };

struct TrainingProgress {
    TrainingStage stage = TrainingStage::Float;
    int step = 0;            // optimiser evaluations (float) or search sweeps (module)
    double fraction = 0.0;   // 0..1, of the work planned
    double trainRmse = 0.0;  // the module's arithmetic, best weights so far
    double heldOutRmse = 0.0;
    double elapsedSeconds = 0.0;
};
using TrainingProgressFn = std::function<void(const TrainingProgress&)>;

struct TrainingResult {
    ModuleWeights weights{};  // the module weights to write (value x 2,000,000)
    // The stage-1 float network, in module units, before any rounding.
    std::array<double, NET_WEIGHT_COUNT> floatWeights{};
    std::size_t trainRows = 0;
    std::size_t heldOutRows = 0;
    // The float network in its own arithmetic (outputs unrounded).
    ErrorFigures floatTrain, floatHeldOut;
    // The written weights in the module's arithmetic.
    ErrorFigures moduleTrain, moduleHeldOut;
    // The float network truncated into the module form, as a hand conversion gives.
    ErrorFigures truncatedTrain, truncatedHeldOut;
    // The chosen recipe's module error on rows it was not fitted on (validation
    // rows, or every fold's when validationFolds > 1): the estimate to go by when
    // no rows are held out. validationFolds 0: stopped before the choice.
    ErrorFigures moduleValidation;
    int validationFolds = 0;
    std::size_t validationRows = 0;
    double weightDecay = 0.0;  // the chosen one
    double outputDecay = 0.0;  // the chosen decay of the output weights (module stage)
    int floatStarts = 0;
    int floatEvaluations = 0;
    int moduleSweeps = 0;
    bool stoppedEarly = false;  // by `stop` or the time limit: the best so far
    double seconds = 0.0;
    std::vector<std::string> warnings;
};

// Trains on `rows` (at least kMinTrainingRows). `stop`, when set, ends the work
// early with the best weights found so far.
[[nodiscard]] TrainingResult TrainNetwork(const std::vector<TrainingRow>& rows,
                                          const TrainingOptions& options,
                                          const TrainingProgressFn& progress = {},
                                          const std::atomic<bool>* stop = nullptr);

// The rows (indices into the `rowCount` rows) that TrainNetwork holds out with
// `options`, ascending: for views of the held-out rows.
[[nodiscard]] std::vector<std::size_t> HeldOutRowIndices(std::size_t rowCount,
                                                         const TrainingOptions& options);

// The figures of `weights` in the module's arithmetic over `rows`.
[[nodiscard]] ErrorFigures ModuleErrorFigures(const std::vector<TrainingRow>& rows,
                                              const ModuleWeights& weights);
