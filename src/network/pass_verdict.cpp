#include "network/pass_verdict.h"

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <vector>

#include "network/evaluators.h"

namespace {

// How far apart two readings of one input may be and still be jitter: the module
// can then only have seen one of the values read.
constexpr int kJitterLsb = 1;

// Keeps, per output, the host value nearest to the module's.
void Consider(const NetInputs& inputs, const NetOutputs& outputs, const ModuleWeights& weights,
              PassVerdict& v, bool first) {
    const NetOutputs host = EvaluateInt(inputs, weights);
    for (int k = 0; k < NET_OUTPUT_COUNT; ++k) {
        const int diff = int(outputs[k]) - int(host[k]);
        if (first || std::abs(diff) < std::abs(v.diff[k])) {
            v.diff[k] = diff;
            v.host[k] = host[k];
        }
    }
}

}  // namespace

bool PassVerdict::AnyDiffers() const {
    for (bool d : differs) {
        if (d) return true;
    }
    return false;
}

PassVerdict JudgePass(std::span<const NetInputs> readings, const NetOutputs& outputs,
                      const ModuleWeights& weights, int tolerance) {
    PassVerdict v;
    if (readings.empty()) return v;
    // Per input, the values the readings saw, and whether they are all jitter.
    std::array<std::vector<std::uint16_t>, NET_INPUT_COUNT> seen;
    bool jitter = true;
    for (int i = 0; i < NET_INPUT_COUNT; ++i) {
        int low = readings[0][i];
        int high = low;
        for (const NetInputs& r : readings) {
            low = std::min<int>(low, r[i]);
            high = std::max<int>(high, r[i]);
        }
        if (high - low > kJitterLsb) jitter = false;
        seen[i].push_back(static_cast<std::uint16_t>(low));
        if (high != low) seen[i].push_back(static_cast<std::uint16_t>(high));
    }
    if (jitter) {
        // Every mix of the values seen: at most 2^8 evaluations.
        std::array<std::size_t, NET_INPUT_COUNT> pick{};
        for (bool first = true;; first = false) {
            NetInputs mix{};
            for (int i = 0; i < NET_INPUT_COUNT; ++i) mix[i] = seen[i][pick[i]];
            Consider(mix, outputs, weights, v, first);
            int i = 0;
            while (i < NET_INPUT_COUNT && ++pick[i] == seen[i].size()) pick[i++] = 0;
            if (i == NET_INPUT_COUNT) break;
        }
    } else {
        for (std::size_t r = 0; r < readings.size(); ++r) {
            Consider(readings[r], outputs, weights, v, r == 0);
        }
    }
    for (int k = 0; k < NET_OUTPUT_COUNT; ++k) v.differs[k] = std::abs(v.diff[k]) > tolerance;
    // Beyond jitter an output outside every reading's tolerance may belong to
    // inputs no reading saw.
    v.decided = jitter || !v.AnyDiffers();
    if (!v.decided) v.differs = {};
    return v;
}
