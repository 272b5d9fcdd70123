#include "network/training/objective.h"

#include <algorithm>

namespace training {

double FloatObjective::Loss(const Vector& u, Vector* gradient) const {
    double loss = 0.0;
    if (gradient) gradient->setZero(NET_WEIGHT_COUNT);
    double a[NET_INPUT_COUNT + 1];
    double h[NET_HIDDEN_COUNT + 1];
    double y[NET_OUTPUT_COUNT];
    double dOut[NET_OUTPUT_COUNT];
    double dHidden[NET_HIDDEN_COUNT];
    double slopeHidden[NET_HIDDEN_COUNT];
    for (std::size_t r : index_) {
        const TrainingRow& row = rows_[r];
        for (int i = 0; i < NET_INPUT_COUNT; ++i) a[i] = row.in[i];
        a[NET_INPUT_COUNT] = 255.0;
        double zh[NET_HIDDEN_COUNT] = {};
        for (int i = 0; i <= NET_INPUT_COUNT; ++i) {
            const double* w = u.data() + HiddenWeightIndex(i, 0);
            for (int j = 0; j < NET_HIDDEN_COUNT; ++j) zh[j] += w[j] * a[i];
        }
        for (int j = 0; j < NET_HIDDEN_COUNT; ++j)
            h[j] = Activate(arithmetic_, zh[j], slopeHidden[j]);
        h[NET_HIDDEN_COUNT] = 255.0;
        double zo[NET_OUTPUT_COUNT] = {};
        for (int k = 0; k <= NET_HIDDEN_COUNT; ++k) {
            const double* w = u.data() + OutputWeightIndex(k, 0);
            for (int m = 0; m < NET_OUTPUT_COUNT; ++m) zo[m] += w[m] * h[k];
        }
        for (int m = 0; m < NET_OUTPUT_COUNT; ++m) {
            double slope = 0.0;
            y[m] = Activate(arithmetic_, zo[m], slope);
            const double e = y[m] - row.out[m];
            loss += e * e;
            // The float network's terms keep their order: a change in the last
            // bit sends the optimiser elsewhere, and runs would no longer repeat
            // those of earlier versions.
            dOut[m] = arithmetic_ == Arithmetic::Float
                          ? 2.0 * e * y[m] * (255.0 - y[m]) * (1.0 / kFloatDivisor / 255.0)
                          : 2.0 * e * slope;
        }
        if (!gradient) continue;
        double* g = gradient->data();
        for (int k = 0; k <= NET_HIDDEN_COUNT; ++k) {
            double* gk = g + OutputWeightIndex(k, 0);
            for (int m = 0; m < NET_OUTPUT_COUNT; ++m) gk[m] += dOut[m] * h[k];
        }
        for (int j = 0; j < NET_HIDDEN_COUNT; ++j) {
            const double* w = u.data() + OutputWeightIndex(j, 0);
            double d = 0.0;
            for (int m = 0; m < NET_OUTPUT_COUNT; ++m) d += dOut[m] * w[m];
            dHidden[j] = arithmetic_ == Arithmetic::Float
                             ? d * h[j] * (255.0 - h[j]) * (1.0 / kFloatDivisor / 255.0)
                             : d * slopeHidden[j];
        }
        for (int i = 0; i <= NET_INPUT_COUNT; ++i) {
            double* gi = g + HiddenWeightIndex(i, 0);
            for (int j = 0; j < NET_HIDDEN_COUNT; ++j) gi[j] += dHidden[j] * a[i];
        }
    }
    return MeanPerOutput(loss, index_.size(), gradient);
}

OutputLayerObjective::OutputLayerObjective(const std::vector<TrainingRow>& rows,
                                           const std::vector<std::size_t>& index,
                                           const ModuleWeights& weights)
    : rows_(rows), index_(index), hidden_(index.size() * (NET_HIDDEN_COUNT + 1)) {
    for (std::size_t r = 0; r < index.size(); ++r) {
        NetInputs in{};
        std::copy(rows[index[r]].in.begin(), rows[index[r]].in.end(), in.begin());
        const IntEvaluation e = EvaluateIntDetailed(in, weights);
        for (int k = 0; k < NET_HIDDEN_COUNT; ++k)
            hidden_[r * (NET_HIDDEN_COUNT + 1) + k] = e.hidden[k];
        hidden_[r * (NET_HIDDEN_COUNT + 1) + NET_HIDDEN_COUNT] = 255.0;
    }
}

double OutputLayerObjective::Loss(const Vector& u, Vector* gradient) const {
    double loss = 0.0;
    if (gradient) gradient->setZero(NET_WEIGHT_COUNT);
    for (std::size_t r = 0; r < index_.size(); ++r) {
        const double* b = &hidden_[r * (NET_HIDDEN_COUNT + 1)];
        for (int m = 0; m < NET_OUTPUT_COUNT; ++m) {
            double sum = 0.0;
            for (int k = 0; k <= NET_HIDDEN_COUNT; ++k) sum += b[k] * u[OutputWeightIndex(k, m)];
            double slope = 0.0;
            const double y = Activate(Arithmetic::Module, sum, slope);
            const double e = y - rows_[index_[r]].out[m];
            loss += e * e;
            if (!gradient) continue;
            const double d = 2.0 * e * slope;
            for (int k = 0; k <= NET_HIDDEN_COUNT; ++k)
                (*gradient)[OutputWeightIndex(k, m)] += d * b[k];
        }
    }
    return MeanPerOutput(loss, index_.size(), gradient);
}

Eigen::MatrixXd OutputLayerObjective::OutputCurvature(const Vector& u, int m) const {
    constexpr int kSources = NET_HIDDEN_COUNT + 1;
    Eigen::MatrixXd g = Eigen::MatrixXd::Zero(kSources, kSources);
    for (std::size_t r = 0; r < index_.size(); ++r) {
        const double* b = &hidden_[r * kSources];
        double sum = 0.0;
        for (int k = 0; k < kSources; ++k) sum += b[k] * u[OutputWeightIndex(k, m)];
        const double y = 255.0 / (1.0 + std::exp(-sum / kModuleDivisor));
        const double slope = y * (255.0 - y) / (255.0 * kModuleDivisor);
        const double w = slope * slope;
        for (int k = 0; k < kSources; ++k) {
            for (int l = 0; l <= k; ++l) g(k, l) += w * b[k] * b[l];
        }
    }
    for (int k = 0; k < kSources; ++k) {
        for (int l = 0; l < k; ++l) g(l, k) = g(k, l);
    }
    return g;
}

double BiasPenalty(double weight, const Vector& u, Vector& gu) {
    double penalty = 0.0;
    ForEachNeuron([&](int sources, auto index) {
        const int n = index(sources);
        const double over = std::abs(u[n]) - kMaxModuleWeight;
        if (over <= 0) return;
        penalty += weight * over * over;
        gu[n] += 2.0 * weight * over * (u[n] > 0 ? 1.0 : -1.0);
    });
    return penalty;
}

double Decay(double lambda, const Vector& u, Vector& gu) {
    if (lambda <= 0.0) return 0.0;
    double penalty = 0.0;
    ForEachNeuron([&](int sources, auto index) {
        for (int i = 0; i < sources; ++i) {
            const int n = index(i);
            penalty += lambda * 0.01 * u[n] * u[n];
            gu[n] += lambda * 0.02 * u[n];
        }
    });
    return penalty;
}

double OutputDecay(double mu, const Vector& u, Vector& gu) {
    if (mu <= 0.0) return 0.0;
    double penalty = 0.0;
    for (int n = HIDDEN_WEIGHT_COUNT; n < NET_WEIGHT_COUNT; ++n) {
        penalty += mu * u[n] * u[n];
        gu[n] += 2.0 * mu * u[n];
    }
    return penalty;
}

}  // namespace training
