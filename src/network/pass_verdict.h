#pragma once
// Whether the module computed what the host computes, for one pass: the one rule
// that `validate` and the window's "Compare with host" both judge by.
//
// The module reads its inputs at "I" and answers "O" a pause later. When two
// readings of the inputs taken around "O" agree, the outputs belong to them. When
// they differ, the module computed from inputs it saw in between:
//  - each input that moved by at most one LSB (sensor jitter) was one of its two
//    readings, so the outputs belong to one of the mixes of the readings; an output
//    is a mismatch only where it is outside the tolerance of every mix;
//  - an input that moved further may have passed values no reading saw: outputs
//    within the tolerance of one of the readings agree, but an output outside all
//    of them says nothing, and the pass is undecided.
//
// Thread rules: a pure function of its arguments; safe from any thread.

#include <array>
#include <span>

#include "network/weights.h"

// What a pass told about each output.
struct PassVerdict {
    bool decided = false;  // false: not a verdict on the module, counted apart
    // Of a decided pass, per output: outside the tolerance of every candidate.
    std::array<bool, NET_OUTPUT_COUNT> differs{};
    // The host's value nearest to the module's, per output (the readings' own
    // when they agree), and the module's value minus it.
    NetOutputs host{};
    std::array<int, NET_OUTPUT_COUNT> diff{};
    [[nodiscard]] bool AnyDiffers() const;
};

// `readings`: the pass's readings of the inputs, at least one; `outputs`: what the
// module answered to "O"; `tolerance`: the largest |module - host| that agrees.
[[nodiscard]] PassVerdict JudgePass(std::span<const NetInputs> readings, const NetOutputs& outputs,
                                    const ModuleWeights& weights, int tolerance);
