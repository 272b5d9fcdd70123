#pragma once
// The second stage of training: a search over the module's integer weights that
// lowers the squared error of the module's own arithmetic (that of EvaluateInt) on
// the training rows. Every row's sums and neuron bytes are kept, so trying one
// weight one step up or down costs one pass over the rows, and a hidden weight
// touches the outputs only where its neuron's byte changes.
//
// Thread rules: one object per thread; it reads the rows it was given and touches
// nothing else.

#include <array>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <vector>

#include "network/training/trainer.h"
#include "network/training/trainer_tunables.h"

class ModuleSearch {
public:
    // `rows` must outlive the object; `index` chooses the rows searched on;
    // `tunables` gives the steps tried and how often a move is repeated.
    ModuleSearch(const std::vector<TrainingRow>& rows, const std::vector<std::size_t>& index,
                 const TrainerTunables& tunables = {});

    // The squared error of `weights` over the rows, summed over the outputs.
    [[nodiscard]] std::int64_t SquaredError(const ModuleWeights& weights) const;

    // Starts the search from `weights`.
    void Reset(const ModuleWeights& weights);

    // Takes, of every weight's best single move, those that still lower the error,
    // the largest gain first; then tries every weight once more in index order, one
    // step up and down and further while that helps. True when the error fell.
    // `stop` is asked between weights.
    bool Sweep(const std::function<bool()>& stop);

    // Tries every two weights of one neuron a step each, together: two inputs that
    // move alike can shift a neuron's middle or slope where each alone finds no
    // way. True when the error fell.
    bool NeuronPairs(const std::function<bool()>& stop);

    [[nodiscard]] ModuleWeights Weights() const;
    [[nodiscard]] std::int64_t Error() const { return error_; }
    [[nodiscard]] std::size_t Rows() const { return n_; }
    // Rows visited by the search so far (not by SquaredError, which is safe to call
    // from several threads): a count of the work done, the same on every machine.
    [[nodiscard]] std::uint64_t Work() const { return work_; }

private:
    static constexpr int kA = NET_INPUT_COUNT + 1;   // inputs and bias per row
    static constexpr int kB = NET_HIDDEN_COUNT + 1;  // hidden bytes and bias per row

    // The change of the error if weight n moved by +step and by -step.
    void TryMove(int n, int step, std::int64_t& up, std::int64_t& down) const;
    // Weight n's move by the shortest step that lowers the error, in the better
    // direction (0: none does), and the change of the error it brings.
    [[nodiscard]] int BestMove(int n, std::int64_t& gain) const;
    // In index order the first weights make up for an error that a later one would
    // mend at its source; ordered by gain, the source goes first.
    void LargestGainsFirst(const std::function<bool()>& stop);
    void Apply(int n, int delta);
    // The weights of output m from sources k and k2 (16: the bias) by d and e;
    // the same source twice moves one weight.
    [[nodiscard]] std::int64_t OutputDelta(int m, int k, int d, int k2, int e) const;
    void ApplyOutput(int m, int k, int d, int k2, int e);
    // The weights of hidden neuron j from inputs i and i2 (8: the bias) by d and e.
    [[nodiscard]] std::int64_t HiddenDelta(int j, int i, int d, int i2, int e) const;
    void ApplyHidden(int j, int i, int d, int i2, int e);
    bool PairMoves(int i, int j);

    std::size_t n_ = 0;
    std::vector<std::int32_t> a_;   // n_ x kA: inputs 0..255, then 255
    std::vector<std::int32_t> t_;   // n_ x 8: wanted outputs
    std::vector<std::int32_t> hs_;  // n_ x 16: hidden sums S
    std::vector<std::int32_t> hb_;  // n_ x kB: hidden bytes, then 255
    std::vector<std::int32_t> os_;  // n_ x 8: output sums S
    std::vector<std::int32_t> oc_;  // n_ x 8: output bytes
    std::vector<std::int32_t> w_ = std::vector<std::int32_t>(NET_WEIGHT_COUNT, 0);
    std::int64_t error_ = 0;
    mutable std::uint64_t work_ = 0;
    int maxRepeats_;
    std::array<int, 3> steps_;
};
