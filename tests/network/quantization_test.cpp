#include <gtest/gtest.h>

#include <cmath>
#include <random>
#include <sstream>

#include "network/evaluators.h"
#include "network/quantization.h"

namespace {

// Known differences: out1 float 186 / int 183 (bias v = 1), out2 68 / 72 (v = -1),
// the rest 127 / 128; hidden 1 float 186.4 / int 183 in byte units (bias v = 1);
// hidden 4 past the table when input 1 is 255; one weight lost in the module form
// on an input that stays 0.
FileWeights KnownNet() {
    FileWeights w{};
    w[OutputWeightIndex(NET_HIDDEN_COUNT, 0)] = 10'000'000;
    w[OutputWeightIndex(NET_HIDDEN_COUNT, 1)] = -10'000'000;
    w[HiddenWeightIndex(NET_INPUT_COUNT, 0)] = 10'000'000;
    w[HiddenWeightIndex(0, 3)] = 300'000'000;
    w[HiddenWeightIndex(1, 5)] = 1'999'999;  // module 0
    w[HiddenWeightIndex(1, 6)] = 2'000'001;  // module 1
    return w;
}

QuantizationReport KnownReport() {
    QuantizationAccumulator acc(KnownNet());
    acc.Add(NetInputs{});
    acc.Add(NetInputs{255, 0, 0, 0, 0, 0, 0, 0});
    return acc.Report();
}

TEST(Quantization, OutputErrorsOfAKnownNet) {
    const QuantizationReport r = KnownReport();
    ASSERT_EQ(r.vectors, 2u);
    struct Row {
        int output;
        int max;
        double exact, withinOne;
    };
    for (const Row& row :
         {Row{0, 3, 0.0, 0.0}, Row{1, 4, 0.0, 0.0}, Row{2, 1, 0.0, 1.0}, Row{7, 1, 0.0, 1.0}}) {
        SCOPED_TRACE(row.output);
        const OutputError& e = r.outputs[row.output];
        EXPECT_EQ(e.maxError, row.max);
        EXPECT_EQ(e.meanError, row.max);
        EXPECT_EQ(e.rmse, row.max);
        EXPECT_EQ(e.shareExact, row.exact);
        EXPECT_EQ(e.shareWithinOne, row.withinOne);
    }
    EXPECT_EQ(r.all.maxError, 4);
    EXPECT_EQ(r.all.meanError, 13.0 / 8);
    EXPECT_EQ(r.all.rmse, std::sqrt(31.0 / 8));
    EXPECT_EQ(r.all.shareWithinOne, 0.75);
}

TEST(Quantization, HiddenNeuronsAndWeightsOfAKnownNet) {
    const QuantizationReport r = KnownReport();
    for (int j = 0; j < NET_HIDDEN_COUNT; ++j) {
        SCOPED_TRACE(j);
        // Hidden 4 at 255 is saturated in both evaluators, so the values agree.
        EXPECT_EQ(r.hidden[j].shareSaturated, j == 3 ? 0.5 : 0.0);
        // All weights zero gives 127.5 against 128: within 1.
        EXPECT_EQ(r.hidden[j].shareDiffering, j == 0 ? 1.0 : 0.0);
    }
    EXPECT_EQ(r.weightsLost, 1);
    EXPECT_EQ(r.largestWeightError, 1'999'999);

    std::ostringstream text;
    WriteQuantizationReport(text, r);
    const std::string s = text.str();
    EXPECT_NE(s.find("\nall                4      1.6250      1.9685       0.00%      75.00%\n"),
              std::string::npos)
        << s;
    EXPECT_NE(s.find("\nh4            50.00%       0.00%\n"), std::string::npos) << s;
    EXPECT_NE(s.find("zero in the module: 1 of 280\n"), std::string::npos);
    EXPECT_NE(s.find("(float units):      0.00001999999\n"), std::string::npos);
}

TEST(Quantization, NoVectorsGivesDashesNotNaN) {
    std::ostringstream text;
    WriteQuantizationReport(text, QuantizationAccumulator(FileWeights{}).Report());
    EXPECT_EQ(text.str().find("nan"), std::string::npos);
    EXPECT_NE(text.str().find("\nall                -"), std::string::npos);
}

TEST(Quantization, RandomInputsAreTheStandardSequence) {
    // The standard fixes the 10000th draw of mt19937_64 seeded 5489.
    UniformInputs inputs(5489);
    for (int n = 1; n < 10000; ++n) (void)inputs.Next();
    const NetInputs in = inputs.Next();
    const std::uint64_t draw = 9981545732273789042ULL;
    for (int i = 0; i < NET_INPUT_COUNT; ++i) EXPECT_EQ(in[i], (draw >> (8 * i)) & 0xFF);
}

TEST(Quantization, DetailedEvaluationsGiveThePlainResults) {
    std::mt19937 rng(42);
    std::uniform_int_distribution<std::int32_t> weight(-400'000'000, 400'000'000);
    for (int net = 0; net < 20; ++net) {
        FileWeights fw;
        for (auto& v : fw) v = weight(rng);
        const ModuleWeights mw = DeriveModuleWeights(fw);
        UniformInputs inputs(net);
        for (int v = 0; v < 200; ++v) {
            const NetInputs in = inputs.Next();
            const FloatEvaluation f = EvaluateFloatDetailed(in, fw);
            const IntEvaluation n = EvaluateIntDetailed(in, mw);
            ASSERT_EQ(f.outputs, EvaluateFloat(in, fw));
            ASSERT_EQ(n.outputs, EvaluateInt(in, mw));
            for (int j = 0; j < NET_HIDDEN_COUNT; ++j) {
                ASSERT_EQ(n.hidden[j], SigmoidLookup(n.hiddenQuotient[j]));
                ASSERT_EQ(f.hidden[j], kNeuronScale * FloatActivation(f.hiddenSum[j]));
            }
        }
    }
}

}  // namespace
