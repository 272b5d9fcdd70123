#pragma once
// Shape of the network and its weight set in the two forms the system uses.
// Pure data and pure functions: no locks, no shared state. Safe from any thread.

#include <array>
#include <cstdint>

constexpr int NET_INPUT_COUNT = 8;    // the bias is input index 8
constexpr int NET_HIDDEN_COUNT = 16;  // the bias is hidden index 16
constexpr int NET_OUTPUT_COUNT = 8;
constexpr int HIDDEN_WEIGHT_COUNT = (NET_INPUT_COUNT + 1) * NET_HIDDEN_COUNT;   // 144
constexpr int OUTPUT_WEIGHT_COUNT = (NET_HIDDEN_COUNT + 1) * NET_OUTPUT_COUNT;  // 136
constexpr int NET_WEIGHT_COUNT = HIDDEN_WEIGHT_COUNT + OUTPUT_WEIGHT_COUNT;     // 280

// A file weight is the float weight times 10^11.
constexpr std::int64_t FILE_WEIGHT_SCALE = 100'000'000'000;
// File weight / 2,000,000 (toward zero) is the module weight: float weight x 50000.
constexpr std::int32_t MODULE_WEIGHT_DIVISOR = 2'000'000;

using FileWeights = std::array<std::int32_t, NET_WEIGHT_COUNT>;
using ModuleWeights = std::array<std::int16_t, NET_WEIGHT_COUNT>;
using NetInputs = std::array<std::uint16_t, NET_INPUT_COUNT>;
using NetOutputs = std::array<std::uint16_t, NET_OUTPUT_COUNT>;

// Entry of the weight from input i (0..8, 8 = bias) to hidden neuron j (0..15).
[[nodiscard]] constexpr int HiddenWeightIndex(int i, int j) {
    return NET_HIDDEN_COUNT * i + j;
}
// Entry of the weight from hidden neuron k (0..16, 16 = bias) to output m (0..7).
[[nodiscard]] constexpr int OutputWeightIndex(int k, int m) {
    return HIDDEN_WEIGHT_COUNT + NET_OUTPUT_COUNT * k + m;
}

// Integer division truncates toward zero in C++, which is the module's rule;
// every 32-bit value gives -1073..1073, so the cast cannot lose anything.
[[nodiscard]] constexpr std::int16_t DeriveModuleWeight(std::int32_t fileWeight) {
    return static_cast<std::int16_t>(fileWeight / MODULE_WEIGHT_DIVISOR);
}

[[nodiscard]] ModuleWeights DeriveModuleWeights(const FileWeights& fileWeights);
