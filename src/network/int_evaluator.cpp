#include "network/evaluators.h"

// The module's sigmoid, as burnt into its firmware; a test recomputes it from the
// formula, so a typo here cannot go unnoticed.
// clang-format off
const std::array<std::uint8_t, 256> kSigmoidTable = {
      0,   0,   0,   0,   0,   0,   0,   0,   0,   0,   0,   0,   0,   0,   0,   0,
      0,   0,   0,   0,   0,   0,   0,   0,   0,   0,   0,   0,   0,   1,   1,   1,
      1,   1,   1,   1,   1,   1,   1,   1,   1,   1,   1,   1,   1,   1,   2,   2,
      2,   2,   2,   2,   2,   2,   2,   3,   3,   3,   3,   3,   4,   4,   4,   4,
      5,   5,   5,   6,   6,   6,   7,   7,   7,   8,   8,   9,  10,  10,  11,  11,
     12,  13,  14,  14,  15,  16,  17,  18,  19,  20,  22,  23,  24,  26,  27,  29,
     30,  32,  34,  36,  38,  40,  42,  44,  47,  49,  51,  54,  57,  60,  62,  65,
     69,  72,  75,  78,  82,  85,  89,  93,  96, 100, 104, 108, 112, 116, 120, 124,
    128, 131, 135, 139, 143, 147, 151, 155, 159, 162, 166, 170, 173, 177, 180, 183,
    186, 190, 193, 195, 198, 201, 204, 206, 208, 211, 213, 215, 217, 219, 221, 223,
    225, 226, 228, 229, 231, 232, 233, 235, 236, 237, 238, 239, 240, 241, 241, 242,
    243, 244, 244, 245, 245, 246, 247, 247, 248, 248, 248, 249, 249, 249, 250, 250,
    250, 251, 251, 251, 251, 252, 252, 252, 252, 252, 253, 253, 253, 253, 253, 253,
    253, 253, 253, 254, 254, 254, 254, 254, 254, 254, 254, 254, 254, 254, 254, 254,
    254, 254, 254, 254, 255, 255, 255, 255, 255, 255, 255, 255, 255, 255, 255, 255,
    255, 255, 255, 255, 255, 255, 255, 255, 255, 255, 255, 255, 255, 255, 255, 255,
};
// clang-format on

namespace {

// Shared by the plain and the detailed evaluation; the empty trace compiles away.
struct NoTrace {
    void Hidden(int, std::int32_t, std::uint8_t) {}
    void Output(int, std::int32_t) {}
};

struct FullTrace {
    IntEvaluation& e;
    void Hidden(int j, std::int32_t q, std::uint8_t b) {
        e.hiddenQuotient[j] = q;
        e.hidden[j] = b;
    }
    void Output(int m, std::int32_t q) { e.outputQuotient[m] = q; }
};

template <typename Trace>
NetOutputs Evaluate(const NetInputs& inputs, const ModuleWeights& weights, Trace trace) {
    // Integer sums are exact in any order, so accumulate row by row: the inner loops
    // then run over contiguous weights and vectorise.
    std::array<std::int32_t, NET_HIDDEN_COUNT> hiddenSum{};
    for (int i = 0; i <= NET_INPUT_COUNT; ++i) {
        const std::int32_t a = i < NET_INPUT_COUNT ? (inputs[i] & 0xFF) : 255;  // 255 = bias
        const std::int16_t* row = &weights[HiddenWeightIndex(i, 0)];
        for (int j = 0; j < NET_HIDDEN_COUNT; ++j) hiddenSum[j] += a * row[j];
    }

    std::array<std::int32_t, NET_OUTPUT_COUNT> outputSum{};
    for (int k = 0; k <= NET_HIDDEN_COUNT; ++k) {
        std::int32_t b = 255;  // the bias
        if (k < NET_HIDDEN_COUNT) {
            // |S| <= 17 x 255 x 1073: no overflow. C++ division truncates toward zero.
            const std::int32_t q = hiddenSum[k] / NET_SUM_DIVISOR;
            b = SigmoidLookup(q);
            trace.Hidden(k, q, static_cast<std::uint8_t>(b));
        }
        const std::int16_t* row = &weights[OutputWeightIndex(k, 0)];
        for (int m = 0; m < NET_OUTPUT_COUNT; ++m) outputSum[m] += b * row[m];
    }

    NetOutputs out{};
    for (int m = 0; m < NET_OUTPUT_COUNT; ++m) {
        const std::int32_t q = outputSum[m] / NET_SUM_DIVISOR;
        trace.Output(m, q);
        out[m] = SigmoidLookup(q);
    }
    return out;
}

}  // namespace

NetOutputs EvaluateInt(const NetInputs& inputs, const ModuleWeights& weights) {
    return Evaluate(inputs, weights, NoTrace{});
}

IntEvaluation EvaluateIntDetailed(const NetInputs& inputs, const ModuleWeights& weights) {
    IntEvaluation e{};
    e.outputs = Evaluate(inputs, weights, FullTrace{e});
    return e;
}
