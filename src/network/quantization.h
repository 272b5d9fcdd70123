#pragma once
// What the module's integer arithmetic costs against the double-precision network:
// both evaluators run on the same input vectors and their differences are counted
// in the module's own units, the LSB of an 8-bit value.
//
// Thread rules: pure data and pure functions, no locks and no shared state. The
// caller hands in a consistent copy of the weights; an accumulator or an input
// source belongs to one thread at a time.

#include <array>
#include <cstdint>
#include <iosfwd>
#include <random>

#include "network/weights.h"

// Uniform random input vectors, the same on every platform: the standard fixes
// mt19937_64's sequence, and the mapping to inputs is ours (input i is byte i,
// least significant first, of one 64-bit draw), not a library distribution's.
class UniformInputs {
public:
    static constexpr std::uint64_t kDefaultSeed = 1;
    explicit UniformInputs(std::uint64_t seed = kDefaultSeed) : rng_(seed) {}

    [[nodiscard]] NetInputs Next();

private:
    std::mt19937_64 rng_;
};

// Output bytes of the float against the integer evaluator, over all vectors.
struct OutputError {
    int maxError = 0;             // largest |float - int|
    double meanError = 0.0;       // mean |float - int|
    double rmse = 0.0;            // square root of the mean of (float - int)^2
    double shareExact = 0.0;      // 0..1: float == int
    double shareWithinOne = 0.0;  // 0..1: |float - int| <= 1
};

// One hidden neuron. The integer evaluator's hidden value is a byte b (0..255);
// the float one, h (0..10000), is compared in the same units, h x 255 / 10000,
// unrounded.
struct HiddenDeviation {
    double shareSaturated = 0.0;  // 0..1: quotient S / 80 outside -128..127, past the table
    double shareDiffering = 0.0;  // 0..1: |h x 255 / 10000 - b| > 1
};

struct QuantizationReport {
    std::uint64_t vectors = 0;  // with none, every figure below but the weights' is 0
    std::array<OutputError, NET_OUTPUT_COUNT> outputs{};
    OutputError all;  // the 8 outputs of every vector pooled
    std::array<HiddenDeviation, NET_HIDDEN_COUNT> hidden{};
    int weightsLost = 0;  // nonzero in the file, zero in the module form
    // Largest |file weight / 10^11 - module weight / 50000|, in file units (10^-11):
    // an integer, so the figure is exact.
    std::int32_t largestWeightError = 0;
};

class QuantizationAccumulator {
public:
    // The module form is derived from `fileWeights`, as every load does.
    explicit QuantizationAccumulator(const FileWeights& fileWeights);

    // Runs both evaluators on `inputs` and counts the differences.
    void Add(const NetInputs& inputs);

    [[nodiscard]] QuantizationReport Report() const;

private:
    struct ErrorCounts {
        std::uint64_t sumAbs = 0;
        std::uint64_t sumSquares = 0;
        std::uint64_t exact = 0;
        std::uint64_t withinOne = 0;
        int max = 0;
    };

    FileWeights fileWeights_;
    ModuleWeights moduleWeights_;
    std::uint64_t vectors_ = 0;
    std::array<ErrorCounts, NET_OUTPUT_COUNT> outputs_{};
    std::array<std::uint64_t, NET_HIDDEN_COUNT> saturated_{};
    std::array<std::uint64_t, NET_HIDDEN_COUNT> differing_{};
};

constexpr std::uint64_t kDefaultReportVectors = 10000;

// The report over the first `count` vectors of UniformInputs(seed).
[[nodiscard]] QuantizationReport RandomQuantizationReport(const FileWeights& fileWeights,
                                                          std::uint64_t count, std::uint64_t seed);

// The report as aligned text columns, every line ended by '\n'. The figures do not
// depend on the C locale.
void WriteQuantizationReport(std::ostream& out, const QuantizationReport& report);
