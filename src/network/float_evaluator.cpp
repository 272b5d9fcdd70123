#include <cmath>

#include "network/evaluators.h"

double FloatActivation(double v) {
    if (v < -kActivationLimit) return 0.0;
    if (v > kActivationLimit) return 1.0;
    const double ev = std::exp(v);
    return 1.0 / (1.0 + 1.0 / ev);
}

namespace {

// The plain evaluation and the detailed one share this body, so the detailed one
// cannot drift from the reference arithmetic; the empty trace compiles away.
struct NoTrace {
    void Hidden(int, double, double) {}
    void Output(int, double, double) {}
};

struct FullTrace {
    FloatEvaluation& e;
    void Hidden(int j, double v, double h) {
        e.hiddenSum[j] = v;
        e.hidden[j] = h;
    }
    void Output(int m, double v, double o) {
        e.outputSum[m] = v;
        e.output[m] = o;
    }
};

template <typename Trace>
NetOutputs Evaluate(const NetInputs& inputs, const FileWeights& weights, Trace trace) {
    std::array<double, NET_INPUT_COUNT + 1> x;
    for (int i = 0; i < NET_INPUT_COUNT; ++i) x[i] = inputs[i] * kInputScale;
    x[NET_INPUT_COUNT] = kBiasValue;

    // The sums run in ascending source order, each step rounded: that order is part
    // of the reference result, so no vectorised reassociation here.
    std::array<double, NET_HIDDEN_COUNT + 1> h;
    for (int j = 0; j < NET_HIDDEN_COUNT; ++j) {
        double s = 0.0;
        for (int i = 0; i <= NET_INPUT_COUNT; ++i) {
            s = s + static_cast<double>(weights[HiddenWeightIndex(i, j)]) * x[i];
        }
        const double v = s * kSumScale;
        h[j] = kNeuronScale * FloatActivation(v);
        trace.Hidden(j, v, h[j]);
    }
    h[NET_HIDDEN_COUNT] = kBiasValue;

    NetOutputs out{};
    for (int m = 0; m < NET_OUTPUT_COUNT; ++m) {
        double s = 0.0;
        for (int k = 0; k <= NET_HIDDEN_COUNT; ++k) {
            s = s + static_cast<double>(weights[OutputWeightIndex(k, m)]) * h[k];
        }
        const double v = s * kSumScale;
        const double o = kNeuronScale * FloatActivation(v);
        trace.Output(m, v, o);
        if (o <= 0.0) {
            out[m] = 0;
        } else if (o >= kNeuronScale) {
            out[m] = 255;
        } else {
            out[m] = static_cast<std::uint16_t>(o * kOutputScale);  // truncates toward zero
        }
    }
    return out;
}

}  // namespace

NetOutputs EvaluateFloat(const NetInputs& inputs, const FileWeights& weights) {
    return Evaluate(inputs, weights, NoTrace{});
}

FloatEvaluation EvaluateFloatDetailed(const NetInputs& inputs, const FileWeights& weights) {
    FloatEvaluation e{};
    e.outputs = Evaluate(inputs, weights, FullTrace{e});
    return e;
}
