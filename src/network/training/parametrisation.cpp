#include "network/training/parametrisation.h"

#include <algorithm>
#include <cmath>

namespace training {

std::int16_t ClampWeight(double u) {
    return static_cast<std::int16_t>(std::clamp(u, static_cast<double>(-kMaxModuleWeight),
                                                static_cast<double>(kMaxModuleWeight)));
}

ModuleWeights Rounded(const Vector& u) {
    ModuleWeights w{};
    for (int n = 0; n < NET_WEIGHT_COUNT; ++n) w[n] = ClampWeight(std::nearbyint(u[n]));
    return w;
}

ModuleWeights Truncated(const Vector& u) {
    ModuleWeights w{};
    for (int n = 0; n < NET_WEIGHT_COUNT; ++n) w[n] = ClampWeight(std::trunc(u[n]));
    return w;
}

// Uniform double in [-1, 1) from the generator's bits: the standard fixes
// mt19937_64's sequence, and this mapping is ours, so every platform agrees.
double Symmetric(std::mt19937_64& rng) {
    return static_cast<double>(rng() >> 11) * 0x1.0p-52 - 1.0;
}

void ToModuleUnits(const Vector& p, Vector& u) {
    ForEachNeuron([&](int sources, auto index) {
        double sum = 0.0;
        for (int i = 0; i < sources; ++i) {
            u[index(i)] = 10.0 * p[index(i)];
            sum += p[index(i)];
        }
        u[index(sources)] = 5.0 * p[index(sources)] - 5.0 * sum;
    });
}

void FromModuleUnits(const Vector& u, Vector& p) {
    ForEachNeuron([&](int sources, auto index) {
        double sum = 0.0;
        for (int i = 0; i < sources; ++i) {
            p[index(i)] = 0.1 * u[index(i)];
            sum += p[index(i)];
        }
        p[index(sources)] = 0.2 * u[index(sources)] + sum;
    });
}

void GradientToCentred(const Vector& gu, Vector& gp) {
    ForEachNeuron([&](int sources, auto index) {
        const double gBias = gu[index(sources)];
        for (int i = 0; i < sources; ++i) gp[index(i)] = 10.0 * gu[index(i)] - 5.0 * gBias;
        gp[index(sources)] = 5.0 * gBias;
    });
}

// Bounds of the centred parameters: a source weight within the module's range; a
// bias loose, held by the penalty.
void CentredBounds(Vector& lb, Vector& ub) {
    lb = Vector::Constant(NET_WEIGHT_COUNT, -kMaxModuleWeight / 10.0);
    ub = -lb;
    ForEachNeuron([&](int sources, auto index) {
        lb[index(sources)] = -1000.0;
        ub[index(sources)] = 1000.0;
    });
}

// A random start in centred parameters, converted to module units: every neuron
// begins near the middle of its slope.
Vector RandomStart(std::mt19937_64& rng, double scale) {
    Vector p(NET_WEIGHT_COUNT);
    ForEachNeuron([&](int sources, auto index) {
        const double span = scale * 2.0 / std::sqrt(static_cast<double>(sources));
        for (int i = 0; i < sources; ++i) p[index(i)] = span * Symmetric(rng);
        p[index(sources)] = 0.25 * span * Symmetric(rng);
    });
    Vector u(NET_WEIGHT_COUNT);
    ToModuleUnits(p, u);
    return u;
}

Vector UniformBounds(double value) {
    return Vector::Constant(NET_WEIGHT_COUNT, value);
}

}  // namespace training
