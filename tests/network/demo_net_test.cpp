// The example network that scripts/run-program feeds to the virtual module: it must
// load, and its outputs must mirror its inputs in reverse order in both arithmetics,
// as examples/README.md promises.

#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <string>

#include "network/evaluators.h"
#include "network/net_file_reader.h"

namespace {

// Output k may differ from input 9 - k by at most this much.
constexpr int kMirrorTolerance = 9;

FileWeights LoadDemoNet() {
    std::ifstream in(std::string(PELKORA_SOURCE_DIR) + "/examples/demo-net.txt");
    FileWeights weights{};
    const NetReadResult result = ReadAsciiNet(in, weights);
    EXPECT_TRUE(in.is_open());
    EXPECT_EQ(result.status, NetReadStatus::Ok);
    EXPECT_EQ(result.valuesRead, NET_WEIGHT_COUNT);
    return weights;
}

TEST(DemoNet, BothFormsHoldTheSameWeights) {
    const FileWeights file = LoadDemoNet();
    const ModuleWeights module = DeriveModuleWeights(file);
    for (int n = 0; n < NET_WEIGHT_COUNT; ++n) {
        EXPECT_EQ(std::int64_t{module[n]} * MODULE_WEIGHT_DIVISOR, file[n]) << "entry " << n;
    }
}

TEST(DemoNet, OutputsMirrorTheInputsInReverseOrder) {
    const FileWeights file = LoadDemoNet();
    const ModuleWeights module = DeriveModuleWeights(file);
    // Every level on every input, with the inputs all different so that an output
    // following the wrong input shows.
    for (int level = 0; level <= 255; ++level) {
        const auto l = static_cast<std::uint16_t>(level);
        const NetInputs inputs = {l,
                                  static_cast<std::uint16_t>(255 - l),
                                  static_cast<std::uint16_t>(l / 2),
                                  255,
                                  0,
                                  static_cast<std::uint16_t>((l + 128) % 256),
                                  128,
                                  static_cast<std::uint16_t>(255 - l / 2)};
        const struct {
            const char* arithmetic;
            NetOutputs outputs;
        } cases[] = {{"float", EvaluateFloat(inputs, file)}, {"int", EvaluateInt(inputs, module)}};
        for (const auto& c : cases) {
            for (int m = 0; m < NET_OUTPUT_COUNT; ++m) {
                const int expected = inputs[NET_INPUT_COUNT - 1 - m];
                EXPECT_LE(std::abs(c.outputs[m] - expected), kMirrorTolerance)
                    << c.arithmetic << ", level " << level << ", output " << m + 1;
            }
        }
    }
}

}  // namespace
