#pragma once
// The two local evaluators of the network. Pure functions over plain arrays: the
// caller provides a consistent snapshot of inputs and weights (the engine does so
// under its lock). Safe from any thread; nothing is allocated.

#include <array>
#include <bit>
#include <cstdint>

#include "network/weights.h"

// ---- Double-precision evaluator (the network as designed) ---------------------

// The constants are given by bit pattern: the reference results depend on the
// last bit of each.
inline constexpr double kInputScale = std::bit_cast<double>(0x40439B9B9B9B9B9CULL);  // 10000/255
inline constexpr double kSumScale = std::bit_cast<double>(0x3DA5FD7FE1796495ULL);    // 1e-11
// One unit in the last place above the double nearest to 0.0255: the reference uses it.
inline constexpr double kOutputScale = std::bit_cast<double>(0x3F9A1CAC083126EAULL);
inline constexpr double kBiasValue = 10000.0;
inline constexpr double kNeuronScale = 10000.0;
inline constexpr double kActivationLimit = 20.0;

// Logistic activation with hard limits: 0 below -20, 1 above 20, and in between
// 1 / (1 + 1/e^v), computed in that order (the order is part of the result).
[[nodiscard]] double FloatActivation(double v);

// Outputs 0..255 from the inputs (whole 16-bit values) and the file weights.
[[nodiscard]] NetOutputs EvaluateFloat(const NetInputs& inputs, const FileWeights& weights);

// One float evaluation layer by layer, for analysis. The arithmetic is that of
// EvaluateFloat, so `outputs` is always what EvaluateFloat gives.
struct FloatEvaluation {
    std::array<double, NET_HIDDEN_COUNT> hiddenSum;  // v = weighted sum x 1e-11
    std::array<double, NET_HIDDEN_COUNT> hidden;     // 0..10000
    std::array<double, NET_OUTPUT_COUNT> outputSum;  // v of each output
    std::array<double, NET_OUTPUT_COUNT> output;     // o, 0..10000
    NetOutputs outputs;                              // the bytes, 0..255
};
[[nodiscard]] FloatEvaluation EvaluateFloatDetailed(const NetInputs& inputs,
                                                    const FileWeights& weights);

// ---- Integer evaluator (the module's own arithmetic) ---------------------------

constexpr std::int32_t NET_SUM_DIVISOR = 80;

// 255 / (1 + e^(-(n - 128) / 16)), rounded to nearest (127.5 at n = 128 rounds up).
extern const std::array<std::uint8_t, 256> kSigmoidTable;

// Table lookup of a quotient: below -128 gives 0, 128 and above gives 255.
[[nodiscard]] constexpr std::uint8_t SigmoidLookup(std::int32_t q);

// Outputs 0..255 from the low 8 bits of the inputs and the module weights.
[[nodiscard]] NetOutputs EvaluateInt(const NetInputs& inputs, const ModuleWeights& weights);

// One integer evaluation layer by layer, for analysis; `outputs` is always what
// EvaluateInt gives. A quotient outside -128..127 lies beyond the sigmoid table.
struct IntEvaluation {
    std::array<std::int32_t, NET_HIDDEN_COUNT> hiddenQuotient;  // q = S / 80
    std::array<std::uint8_t, NET_HIDDEN_COUNT> hidden;          // b, 0..255
    std::array<std::int32_t, NET_OUTPUT_COUNT> outputQuotient;  // q of each output
    NetOutputs outputs;                                         // c, 0..255
};
[[nodiscard]] IntEvaluation EvaluateIntDetailed(const NetInputs& inputs,
                                                const ModuleWeights& weights);

constexpr std::uint8_t SigmoidLookup(std::int32_t q) {
    if (q < -128) return 0;
    if (q > 127) return 255;
    return kSigmoidTable[static_cast<std::size_t>(q + 128)];
}
