#pragma once
// What the optimiser minimises: the mean squared error per output value of the
// network over a set of rows, in the double-precision network's arithmetic or in a
// smooth stand-in for the module's, with its gradient by the weights (module
// units); and the penalties added to it.
//
// Thread rules: an objective only reads the rows it was given; one may serve
// several threads.

#include <cmath>
#include <cstddef>
#include <vector>

#include "network/evaluators.h"
#include "network/training/parametrisation.h"
#include "network/training/trainer.h"

namespace training {

// How a neuron's sum S (module units x source bytes) becomes its 0..255 byte.
enum class Arithmetic {
    Float,   // the double-precision network: 255 / (1 + e^(-S / 1275))
    Module,  // a smooth stand-in for the module: the quotient S / 80 truncated toward
             // zero, taken as x - tanh(2x) / 2 (half a step on average, none near 0),
             // then the table's sigmoid 255 / (1 + e^(-q / 16))
};

// A neuron's byte and its derivative by the sum.
inline double Activate(Arithmetic arithmetic, double s, double& derivative) {
    if (arithmetic == Arithmetic::Float) {
        constexpr double inv = 1.0 / kFloatDivisor;
        const double y = 255.0 / (1.0 + std::exp(-s * inv));
        derivative = y * (255.0 - y) * (inv / 255.0);
        return y;
    }
    const double x = s / NET_SUM_DIVISOR;
    const double t = std::tanh(2.0 * x);
    const double y = 255.0 / (1.0 + std::exp(-(x - 0.5 * t) / 16.0));
    derivative = y * (255.0 - y) / (255.0 * kModuleDivisor) * t * t;
    return y;
}

// A loss summed over `rows` rows as the mean squared error per output value, the
// same scale for any row count; the gradient likewise.
inline double MeanPerOutput(double loss, std::size_t rows, Vector* gradient) {
    const double scale = 1.0 / (static_cast<double>(rows) * NET_OUTPUT_COUNT);
    if (gradient) *gradient *= scale;
    return loss * scale;
}

// The network over a set of rows, in either arithmetic.
class FloatObjective {
public:
    FloatObjective(const std::vector<TrainingRow>& rows, const std::vector<std::size_t>& index,
                   Arithmetic arithmetic)
        : rows_(rows), index_(index), arithmetic_(arithmetic) {}

    [[nodiscard]] std::size_t Rows() const { return index_.size(); }

    double Loss(const Vector& u, Vector* gradient) const;

private:
    const std::vector<TrainingRow>& rows_;
    const std::vector<std::size_t>& index_;
    Arithmetic arithmetic_;
};

// The output layer alone, in the module's smooth stand-in, fed with the module's own
// hidden bytes of fixed integer hidden weights: the optimiser can fit it closely, so
// that rounding it loses little.
class OutputLayerObjective {
public:
    OutputLayerObjective(const std::vector<TrainingRow>& rows,
                         const std::vector<std::size_t>& index, const ModuleWeights& weights);

    [[nodiscard]] std::size_t Rows() const { return index_.size(); }

    // `u` holds all 280 weights in module units; only the output layer's count.
    double Loss(const Vector& u, Vector* gradient) const;

    // The curvature of output m's squared error by its 17 weights at `u`, in the
    // sigmoid of S / 1280 (Gauss-Newton: the sum over the rows of slope^2 x b b',
    // b the row's hidden bytes and 255): how far an integer output layer is from
    // `u` in what it costs.
    [[nodiscard]] Eigen::MatrixXd OutputCurvature(const Vector& u, int m) const;

private:
    const std::vector<TrainingRow>& rows_;
    const std::vector<std::size_t>& index_;
    std::vector<double> hidden_;
};

// A bias beyond what the module holds costs `weight` x the excess squared, added
// to `gu`: a bias is a free combination in centred parameters, and this keeps it
// within what the module can hold (a weight within bounds costs nothing).
double BiasPenalty(double weight, const Vector& u, Vector& gu);

// The decay of the source weights, in centred units (p = u / 10): lambda x the sum
// of p^2, added to `gu`. Biases are free: a neuron's middle costs nothing.
double Decay(double lambda, const Vector& u, Vector& gu);

// mu x the sum of the squared output weights (biases included), in module units.
double OutputDecay(double mu, const Vector& u, Vector& gu);

}  // namespace training
