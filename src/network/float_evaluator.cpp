#include <cmath>

#include "network/evaluators.h"

double FloatActivation(double v) {
    if (v < -kActivationLimit) return 0.0;
    if (v > kActivationLimit) return 1.0;
    const double ev = std::exp(v);
    return 1.0 / (1.0 + 1.0 / ev);
}

NetOutputs EvaluateFloat(const NetInputs& inputs, const FileWeights& weights) {
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
        h[j] = kNeuronScale * FloatActivation(s * kSumScale);
    }
    h[NET_HIDDEN_COUNT] = kBiasValue;

    NetOutputs out{};
    for (int m = 0; m < NET_OUTPUT_COUNT; ++m) {
        double s = 0.0;
        for (int k = 0; k <= NET_HIDDEN_COUNT; ++k) {
            s = s + static_cast<double>(weights[OutputWeightIndex(k, m)]) * h[k];
        }
        const double o = kNeuronScale * FloatActivation(s * kSumScale);
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
