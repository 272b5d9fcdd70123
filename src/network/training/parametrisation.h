#pragma once
// How the trainer holds the 280 weights: in module units u (float weight x 50000,
// the module's weight as a real number), converted to the integers a net file
// holds, and the centred parameters the optimiser works on.
//
// Thread rules: pure functions; RandomStart advances only the generator it is given.

#include <Eigen/Core>
#include <cstdint>
#include <random>

#include "network/training/trainer.h"
#include "network/weights.h"

namespace training {

using Vector = Eigen::VectorXd;

// In module units u (float weight x 50000) a neuron of the double-precision network
// sums u x a / 1275 with a its 0..255 sources; the module's sum S / 80 looks up a
// table of 16 steps per unit, i.e. S / 1280.
constexpr double kFloatDivisor = 1275.0;
constexpr double kModuleDivisor = 1280.0;

// A module weight within what a net file holds, from module units (truncated).
std::int16_t ClampWeight(double u);
// Every weight rounded to the nearest integer / truncated toward zero (what
// converting a float network by hand gives), within bounds.
ModuleWeights Rounded(const Vector& u);
ModuleWeights Truncated(const Vector& u);

// Uniform double in [-1, 1) from the generator's bits: the standard fixes
// mt19937_64's sequence, and this mapping is ours, so every platform agrees.
double Symmetric(std::mt19937_64& rng);

// Centred parameters p, in which the optimiser sees a well-conditioned problem: a
// neuron's pre-activation is the sum of p x (source / 127.5 - 1) plus its bias p,
// so every source spans -1..1 instead of 0..255. In module units that is
// u = 10 p for a source weight and u = 5 p_bias - 5 x (sum of the neuron's p) for
// the bias (1275 / 127.5 = 10).
template <typename Fn>
void ForEachNeuron(Fn fn) {
    for (int j = 0; j < NET_HIDDEN_COUNT; ++j) {
        fn(NET_INPUT_COUNT, [j](int i) { return HiddenWeightIndex(i, j); });
    }
    for (int m = 0; m < NET_OUTPUT_COUNT; ++m) {
        fn(NET_HIDDEN_COUNT, [m](int k) { return OutputWeightIndex(k, m); });
    }
}

void ToModuleUnits(const Vector& p, Vector& u);
void FromModuleUnits(const Vector& u, Vector& p);
// A gradient by module units as one by centred parameters.
void GradientToCentred(const Vector& gu, Vector& gp);

// Bounds of the centred parameters: a source weight within the module's range; a
// bias loose, held by the penalty (see BiasPenalty).
void CentredBounds(Vector& lb, Vector& ub);
// The same bound for every weight, in module units.
Vector UniformBounds(double value);

// A random start in centred parameters, converted to module units: every neuron
// begins near the middle of its slope.
Vector RandomStart(std::mt19937_64& rng, double scale);

}  // namespace training
