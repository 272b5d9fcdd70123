#pragma once
// Where two weight sets differ, in the operator's words: what verify lists when a
// flash image holds other weights than a net. Qt-free.
//
// Thread rules: pure functions; the caller copies the module weights it compares
// against under whatever lock guards them (the window: the engine's hMutex).

#include <cstdint>
#include <string>
#include <vector>

#include "network/weights.h"

struct WeightDifference {
    int index = 0;  // 0..279, the entry in the weight set
    std::int16_t imageWeight = 0;
    std::int16_t netWeight = 0;
};

// Every entry where the two sets differ, in index order.
[[nodiscard]] std::vector<WeightDifference> CompareWeights(const ModuleWeights& image,
                                                           const ModuleWeights& net);
// Where entry `index` sits, counted from 1 as the file-format notice does:
// "hidden layer, neuron 3, input 5", "output layer, neuron 2, bias".
[[nodiscard]] std::string WeightPlaceText(int index);
// Entry `index` as the operator counts it, from 1: the line of the net file that
// holds it ("weight 17" for entry 16).
[[nodiscard]] std::string WeightNameText(int index);
// "weight 38 (hidden layer, neuron 6, input 3): image 12, net -4"
[[nodiscard]] std::string WeightDifferenceText(const WeightDifference& difference);
