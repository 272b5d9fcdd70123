#include "network/training/module_search.h"

#include <algorithm>
#include <cstdlib>
#include <utility>

#include "network/evaluators.h"

namespace {

inline std::int32_t Byte(std::int32_t sum) {
    // C++ division truncates toward zero, as the module's does.
    return SigmoidLookup(sum / NET_SUM_DIVISOR);
}

inline std::int64_t Square(std::int32_t e) {
    return std::int64_t{e} * e;
}

constexpr std::pair<int, int> kPairSteps[] = {{1, 1}, {1, -1}, {-1, 1}, {-1, -1}};

}  // namespace

ModuleSearch::ModuleSearch(const std::vector<TrainingRow>& rows,
                           const std::vector<std::size_t>& index, const TrainerTunables& tunables)
    : n_(index.size()),
      a_(n_ * kA),
      t_(n_ * NET_OUTPUT_COUNT),
      hs_(n_ * NET_HIDDEN_COUNT),
      hb_(n_ * kB),
      os_(n_ * NET_OUTPUT_COUNT),
      oc_(n_ * NET_OUTPUT_COUNT),
      maxRepeats_(tunables.maxRepeats),
      steps_(tunables.steps) {
    for (std::size_t r = 0; r < n_; ++r) {
        const TrainingRow& row = rows[index[r]];
        for (int i = 0; i < NET_INPUT_COUNT; ++i) a_[r * kA + i] = row.in[i];
        a_[r * kA + NET_INPUT_COUNT] = 255;
        for (int m = 0; m < NET_OUTPUT_COUNT; ++m) t_[r * NET_OUTPUT_COUNT + m] = row.out[m];
    }
}

// Counts no work: one object may serve several threads here.
std::int64_t ModuleSearch::SquaredError(const ModuleWeights& weights) const {
    std::int64_t sum = 0;
    for (std::size_t r = 0; r < n_; ++r) {
        NetInputs in{};
        for (int i = 0; i < NET_INPUT_COUNT; ++i)
            in[i] = static_cast<std::uint16_t>(a_[r * kA + i]);
        const NetOutputs out = EvaluateInt(in, weights);
        for (int m = 0; m < NET_OUTPUT_COUNT; ++m) {
            sum += Square(out[m] - t_[r * NET_OUTPUT_COUNT + m]);
        }
    }
    return sum;
}

void ModuleSearch::Reset(const ModuleWeights& weights) {
    work_ += n_;
    std::copy(weights.begin(), weights.end(), w_.begin());
    error_ = 0;
    for (std::size_t r = 0; r < n_; ++r) {
        const std::int32_t* a = &a_[r * kA];
        std::int32_t* hs = &hs_[r * NET_HIDDEN_COUNT];
        std::int32_t* hb = &hb_[r * kB];
        for (int j = 0; j < NET_HIDDEN_COUNT; ++j) {
            std::int32_t s = 0;
            for (int i = 0; i < kA; ++i) s += a[i] * w_[HiddenWeightIndex(i, j)];
            hs[j] = s;
            hb[j] = Byte(s);
        }
        hb[NET_HIDDEN_COUNT] = 255;
        for (int m = 0; m < NET_OUTPUT_COUNT; ++m) {
            std::int32_t s = 0;
            for (int k = 0; k < kB; ++k) s += hb[k] * w_[OutputWeightIndex(k, m)];
            os_[r * NET_OUTPUT_COUNT + m] = s;
            oc_[r * NET_OUTPUT_COUNT + m] = Byte(s);
            error_ += Square(oc_[r * NET_OUTPUT_COUNT + m] - t_[r * NET_OUTPUT_COUNT + m]);
        }
    }
}

ModuleWeights ModuleSearch::Weights() const {
    ModuleWeights w{};
    for (int n = 0; n < NET_WEIGHT_COUNT; ++n) w[n] = static_cast<std::int16_t>(w_[n]);
    return w;
}

std::int64_t ModuleSearch::OutputDelta(int m, int k, int d, int k2, int e) const {
    work_ += n_;
    std::int64_t delta = 0;
    for (std::size_t r = 0; r < n_; ++r) {
        const std::int32_t change = d * hb_[r * kB + k] + e * hb_[r * kB + k2];
        if (change == 0) continue;
        const std::size_t o = r * NET_OUTPUT_COUNT + m;
        const std::int32_t c = Byte(os_[o] + change);
        if (c == oc_[o]) continue;
        delta += Square(c - t_[o]) - Square(oc_[o] - t_[o]);
    }
    return delta;
}

std::int64_t ModuleSearch::HiddenDelta(int j, int i, int d, int i2, int e) const {
    work_ += n_;
    std::int64_t delta = 0;
    const std::int32_t* out = &w_[OutputWeightIndex(j, 0)];
    for (std::size_t r = 0; r < n_; ++r) {
        const std::int32_t change = d * a_[r * kA + i] + e * a_[r * kA + i2];
        if (change == 0) continue;
        const std::int32_t b = Byte(hs_[r * NET_HIDDEN_COUNT + j] + change);
        const std::int32_t db = b - hb_[r * kB + j];
        if (db == 0) continue;
        const std::size_t o = r * NET_OUTPUT_COUNT;
        for (int m = 0; m < NET_OUTPUT_COUNT; ++m) {
            const std::int32_t c = Byte(os_[o + m] + db * out[m]);
            if (c == oc_[o + m]) continue;
            delta += Square(c - t_[o + m]) - Square(oc_[o + m] - t_[o + m]);
        }
    }
    return delta;
}

void ModuleSearch::TryMove(int n, int step, std::int64_t& up, std::int64_t& down) const {
    const bool canUp = w_[n] + step <= kMaxModuleWeight;
    const bool canDown = w_[n] - step >= -kMaxModuleWeight;
    up = down = 0;
    if (n < HIDDEN_WEIGHT_COUNT) {
        const int i = n / NET_HIDDEN_COUNT, j = n % NET_HIDDEN_COUNT;
        if (canUp) up = HiddenDelta(j, i, step, i, 0);
        if (canDown) down = HiddenDelta(j, i, -step, i, 0);
    } else {
        const int k = (n - HIDDEN_WEIGHT_COUNT) / NET_OUTPUT_COUNT;
        const int m = (n - HIDDEN_WEIGHT_COUNT) % NET_OUTPUT_COUNT;
        if (canUp) up = OutputDelta(m, k, step, k, 0);
        if (canDown) down = OutputDelta(m, k, -step, k, 0);
    }
}

void ModuleSearch::Apply(int n, int delta) {
    if (n < HIDDEN_WEIGHT_COUNT) {
        const int i = n / NET_HIDDEN_COUNT, j = n % NET_HIDDEN_COUNT;
        ApplyHidden(j, i, delta, i, 0);
    } else {
        const int k = (n - HIDDEN_WEIGHT_COUNT) / NET_OUTPUT_COUNT;
        const int m = (n - HIDDEN_WEIGHT_COUNT) % NET_OUTPUT_COUNT;
        ApplyOutput(m, k, delta, k, 0);
    }
}

void ModuleSearch::ApplyOutput(int m, int k, int d, int k2, int e) {
    work_ += n_;
    w_[OutputWeightIndex(k, m)] += d;
    w_[OutputWeightIndex(k2, m)] += e;
    for (std::size_t r = 0; r < n_; ++r) {
        const std::size_t o = r * NET_OUTPUT_COUNT + m;
        os_[o] += d * hb_[r * kB + k] + e * hb_[r * kB + k2];
        const std::int32_t c = Byte(os_[o]);
        error_ += Square(c - t_[o]) - Square(oc_[o] - t_[o]);
        oc_[o] = c;
    }
}

void ModuleSearch::ApplyHidden(int j, int i, int d, int i2, int e) {
    work_ += n_;
    w_[HiddenWeightIndex(i, j)] += d;
    w_[HiddenWeightIndex(i2, j)] += e;
    const std::int32_t* out = &w_[OutputWeightIndex(j, 0)];
    for (std::size_t r = 0; r < n_; ++r) {
        const std::int32_t change = d * a_[r * kA + i] + e * a_[r * kA + i2];
        if (change == 0) continue;
        std::int32_t& s = hs_[r * NET_HIDDEN_COUNT + j];
        s += change;
        const std::int32_t b = Byte(s);
        const std::int32_t db = b - hb_[r * kB + j];
        if (db == 0) continue;
        hb_[r * kB + j] = b;
        const std::size_t o = r * NET_OUTPUT_COUNT;
        for (int m = 0; m < NET_OUTPUT_COUNT; ++m) {
            os_[o + m] += db * out[m];
            const std::int32_t c = Byte(os_[o + m]);
            error_ += Square(c - t_[o + m]) - Square(oc_[o + m] - t_[o + m]);
            oc_[o + m] = c;
        }
    }
}

bool ModuleSearch::PairMoves(int i, int j) {
    // A steeper or flatter slope about the same middle: the input weight by two
    // steps, the bias by one the other way (the bias input is 255, the middle of
    // an input about 127).
    bool moved = false;
    const int n = HiddenWeightIndex(i, j), bias = HiddenWeightIndex(NET_INPUT_COUNT, j);
    for (int sign : {1, -1}) {
        for (int repeat = 0; repeat < maxRepeats_; ++repeat) {
            const int d = 2 * sign, e = -sign;
            if (std::abs(w_[n] + d) > kMaxModuleWeight || std::abs(w_[bias] + e) > kMaxModuleWeight)
                break;
            if (HiddenDelta(j, i, d, NET_INPUT_COUNT, e) >= 0) break;
            ApplyHidden(j, i, d, NET_INPUT_COUNT, e);
            moved = true;
        }
    }
    return moved;
}

bool ModuleSearch::NeuronPairs(const std::function<bool()>& stop) {
    const std::int64_t before = error_;
    using Delta = std::int64_t (ModuleSearch::*)(int, int, int, int, int) const;
    using Move = void (ModuleSearch::*)(int, int, int, int, int);
    // Every two sources of each neuron; a move that lowers the error is taken at once.
    auto pairs = [&](int neurons, int sources, int (*index)(int, int), Delta delta, Move apply) {
        for (int u = 0; u < neurons; ++u) {
            if (stop && stop()) return false;
            for (int a = 0; a < sources; ++a) {
                for (int b = a + 1; b < sources; ++b) {
                    for (const auto& [d, e] : kPairSteps) {
                        if (std::abs(w_[index(a, u)] + d) > kMaxModuleWeight ||
                            std::abs(w_[index(b, u)] + e) > kMaxModuleWeight)
                            continue;
                        if ((this->*delta)(u, a, d, b, e) < 0) (this->*apply)(u, a, d, b, e);
                    }
                }
            }
        }
        return true;
    };
    if (pairs(NET_HIDDEN_COUNT, NET_INPUT_COUNT + 1, &HiddenWeightIndex, &ModuleSearch::HiddenDelta,
              &ModuleSearch::ApplyHidden)) {
        pairs(NET_OUTPUT_COUNT, NET_HIDDEN_COUNT + 1, &OutputWeightIndex,
              &ModuleSearch::OutputDelta, &ModuleSearch::ApplyOutput);
    }
    return error_ < before;
}

int ModuleSearch::BestMove(int n, std::int64_t& gain) const {
    // A step of one can fall between two of the table's steps for most rows;
    // longer steps get across such plateaus.
    for (int step : steps_) {
        std::int64_t up = 0, down = 0;
        TryMove(n, step, up, down);
        if (up >= 0 && down >= 0) continue;
        gain = std::min(up, down);
        return up < down ? step : -step;
    }
    return 0;
}

void ModuleSearch::LargestGainsFirst(const std::function<bool()>& stop) {
    struct Move {
        std::int64_t gain;
        int n;
        int delta;
    };
    std::vector<Move> moves;
    for (int n = 0; n < NET_WEIGHT_COUNT; ++n) {
        if (stop && stop()) return;
        std::int64_t gain = 0;
        if (const int delta = BestMove(n, gain); delta != 0) moves.push_back(Move{gain, n, delta});
    }
    std::stable_sort(moves.begin(), moves.end(),
                     [](const Move& x, const Move& y) { return x.gain < y.gain; });
    for (const Move& move : moves) {
        if (stop && stop()) return;
        // The moves taken before may have done this one's work: tried again.
        std::int64_t up = 0, down = 0;
        TryMove(move.n, std::abs(move.delta), up, down);
        if ((move.delta > 0 ? up : down) < 0) Apply(move.n, move.delta);
    }
}

bool ModuleSearch::Sweep(const std::function<bool()>& stop) {
    const std::int64_t before = error_;
    LargestGainsFirst(stop);
    for (int n = 0; n < NET_WEIGHT_COUNT; ++n) {
        if (stop && stop()) break;
        std::int64_t gain = 0;
        if (const int direction = BestMove(n, gain); direction != 0) {
            const int step = std::abs(direction);
            Apply(n, direction);
            for (int repeat = 1; repeat < maxRepeats_; ++repeat) {
                std::int64_t up = 0, down = 0;
                TryMove(n, step, up, down);
                if ((direction > 0 ? up : down) >= 0) break;
                Apply(n, direction);
            }
        }
        if (n < HIDDEN_WEIGHT_COUNT && n / NET_HIDDEN_COUNT < NET_INPUT_COUNT) {
            PairMoves(n / NET_HIDDEN_COUNT, n % NET_HIDDEN_COUNT);
        }
    }
    return error_ < before;
}
