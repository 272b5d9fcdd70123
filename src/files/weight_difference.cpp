#include "files/weight_difference.h"

std::vector<WeightDifference> CompareWeights(const ModuleWeights& image, const ModuleWeights& net) {
    std::vector<WeightDifference> differences;
    for (int n = 0; n < NET_WEIGHT_COUNT; ++n) {
        if (image[n] != net[n]) differences.push_back({n, image[n], net[n]});
    }
    return differences;
}

std::string WeightPlaceText(int index) {
    if (index < 0 || index >= NET_WEIGHT_COUNT) return "no weight";
    if (index < HIDDEN_WEIGHT_COUNT) {
        const int input = index / NET_HIDDEN_COUNT;
        const int neuron = index % NET_HIDDEN_COUNT;
        return "hidden layer, neuron " + std::to_string(neuron + 1) + ", " +
               (input == NET_INPUT_COUNT ? std::string("bias")
                                         : "input " + std::to_string(input + 1));
    }
    const int hidden = (index - HIDDEN_WEIGHT_COUNT) / NET_OUTPUT_COUNT;
    const int neuron = (index - HIDDEN_WEIGHT_COUNT) % NET_OUTPUT_COUNT;
    return "output layer, neuron " + std::to_string(neuron + 1) + ", " +
           (hidden == NET_HIDDEN_COUNT ? std::string("bias")
                                       : "hidden neuron " + std::to_string(hidden + 1));
}

std::string WeightNameText(int index) {
    // Neurons and inputs are counted from 1; so is the weight, or "weight 16
    // (neuron 1, input 2)" would name two different lines of the net file.
    return "weight " + std::to_string(index + 1);
}

std::string WeightDifferenceText(const WeightDifference& difference) {
    return WeightNameText(difference.index) + " (" + WeightPlaceText(difference.index) +
           "): image " + std::to_string(difference.imageWeight) + ", net " +
           std::to_string(difference.netWeight);
}
