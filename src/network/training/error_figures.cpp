#include "network/training/error_figures.h"

#include <algorithm>
#include <cstdio>
#include <numeric>

#include "network/evaluators.h"

namespace training {

ErrorFigures FloatFigures(const std::vector<TrainingRow>& rows,
                          const std::vector<std::size_t>& index, const Vector& u) {
    FigureAccumulator acc;
    const double inv = 1.0 / kFloatDivisor;
    for (std::size_t r : index) {
        double h[NET_HIDDEN_COUNT + 1];
        for (int j = 0; j < NET_HIDDEN_COUNT; ++j) {
            double z = u[HiddenWeightIndex(NET_INPUT_COUNT, j)] * 255.0;
            for (int i = 0; i < NET_INPUT_COUNT; ++i)
                z += u[HiddenWeightIndex(i, j)] * rows[r].in[i];
            h[j] = 255.0 / (1.0 + std::exp(-z * inv));
        }
        h[NET_HIDDEN_COUNT] = 255.0;
        for (int m = 0; m < NET_OUTPUT_COUNT; ++m) {
            double z = 0.0;
            for (int k = 0; k <= NET_HIDDEN_COUNT; ++k) z += u[OutputWeightIndex(k, m)] * h[k];
            acc.Add(m, 255.0 / (1.0 + std::exp(-z * inv)) - rows[r].out[m]);
        }
    }
    return acc.Figures();
}

ErrorFigures ModuleFigures(const std::vector<TrainingRow>& rows,
                           const std::vector<std::size_t>& index, const ModuleWeights& weights) {
    FigureAccumulator acc;
    for (std::size_t r : index) {
        NetInputs in{};
        std::copy(rows[r].in.begin(), rows[r].in.end(), in.begin());
        const NetOutputs out = EvaluateInt(in, weights);
        for (int m = 0; m < NET_OUTPUT_COUNT; ++m) {
            acc.Add(m, static_cast<double>(out[m]) - rows[r].out[m]);
        }
    }
    return acc.Figures();
}

namespace {

std::string Lsb(double value) {
    char text[32];
    std::snprintf(text, sizeof text, "%.1f LSB", value);
    return text;
}

}  // namespace

std::vector<std::string> TrainingWarnings(const TrainingResult& r, const TrainerTunables& t) {
    std::vector<std::string> warnings;
    if (r.trainRows < t.fewRows) {
        warnings.push_back("Only " + std::to_string(r.trainRows) +
                           " rows to train on for the net's 280 weights: it can learn these "
                           "rows by heart and still be wrong between them. Record more rows (a "
                           "few hundred, spread over the inputs it will see) and train again.");
    }
    const bool heldOut = r.heldOutRows > 0;
    const double unseen = heldOut ? r.moduleHeldOut.all.rmse : r.moduleValidation.all.rmse;
    const double seen = r.moduleTrain.all.rmse;
    if (unseen > t.farAbove * seen + t.farAboveLsb) {
        warnings.push_back("The error on rows the net was not trained on (" + Lsb(unseen) +
                           (heldOut ? ", held out" : ", cross-validation estimate") +
                           ") is far above that on the rows it was trained on (" + Lsb(seen) +
                           "): it fits its rows more closely than it will fit new inputs. "
                           "Record more rows, leave out noisy or contradictory ones, and expect "
                           "about " +
                           Lsb(unseen) + " on new inputs.");
    }
    return warnings;
}

}  // namespace training

ErrorFigures ModuleErrorFigures(const std::vector<TrainingRow>& rows,
                                const ModuleWeights& weights) {
    std::vector<std::size_t> index(rows.size());
    std::iota(index.begin(), index.end(), std::size_t{0});
    return training::ModuleFigures(rows, index, weights);
}
