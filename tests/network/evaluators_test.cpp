#include <gtest/gtest.h>

#include <cmath>
#include <cstring>

#include "network/evaluators.h"

namespace {

NetOutputs All(std::uint16_t v) {
    NetOutputs o;
    o.fill(v);
    return o;
}

FileWeights OutputBiases(std::int32_t value) {
    FileWeights w{};
    for (int m = 0; m < NET_OUTPUT_COUNT; ++m) w[OutputWeightIndex(NET_HIDDEN_COUNT, m)] = value;
    return w;
}

ModuleWeights ModuleOutputBiases(std::int16_t value) {
    ModuleWeights w{};
    for (int m = 0; m < NET_OUTPUT_COUNT; ++m) w[OutputWeightIndex(NET_HIDDEN_COUNT, m)] = value;
    return w;
}

std::uint64_t Bits(double d) {
    std::uint64_t b;
    std::memcpy(&b, &d, sizeof b);
    return b;
}

TEST(FloatEvaluator, ConstantsAreTheReferenceBitPatterns) {
    EXPECT_EQ(kInputScale, 10000.0 / 255.0);
    EXPECT_EQ(kSumScale, 1e-11);
    EXPECT_EQ(Bits(0.0255), 0x3F9A1CAC083126E9ULL);
    EXPECT_EQ(kOutputScale, std::nextafter(0.0255, 1.0));
    EXPECT_EQ(255 * kInputScale, 10000.0);  // an input of 255 is exactly full scale
}

TEST(FloatEvaluator, ActivationLimitsAreInclusive) {
    EXPECT_EQ(FloatActivation(-20.000000000000004), 0.0);
    EXPECT_EQ(FloatActivation(20.000000000000004), 1.0);
    EXPECT_GT(FloatActivation(-20.0), 0.0);
    EXPECT_EQ(FloatActivation(20.0), 0.9999999979388463);
    EXPECT_EQ(FloatActivation(0.0), 0.5);
    EXPECT_EQ(10000.0 * FloatActivation(1.0), 7310.585786300049);
}

struct FloatCase {
    const char* name;
    std::int32_t outputBias;
    std::uint16_t expected;
};

class FloatBiasTest : public ::testing::TestWithParam<FloatCase> {};

TEST_P(FloatBiasTest, AllOutputsFollowTheBias) {
    const FloatCase& c = GetParam();
    NetInputs in{};
    in.fill(77);  // inputs do not matter when every hidden-to-output weight is zero
    EXPECT_EQ(EvaluateFloat(in, OutputBiases(c.outputBias)), All(c.expected)) << c.name;
}

INSTANTIATE_TEST_SUITE_P(
    Reference, FloatBiasTest,
    ::testing::Values(FloatCase{"all zero: 5000 x scale = 127.50000000000001", 0, 127},
                      FloatCase{"v = 30", 300000000, 255}, FloatCase{"v = -30", -300000000, 0},
                      FloatCase{"v = 1", 10000000, 186}, FloatCase{"v = -1", -10000000, 68},
                      FloatCase{"v = 20, computed branch", 200000000, 254},
                      FloatCase{"v just above 20", 200000001, 255},
                      FloatCase{"v = -20, computed branch", -200000000, 0}),
    [](const auto& info) { return "Case" + std::to_string(info.index); });

TEST(FloatEvaluator, SingleHiddenPath) {
    FileWeights w{};
    w[3] = 300000000;    // input 1 -> hidden 4
    w[173] = 300000000;  // hidden 4 -> output 6
    NetInputs in{};
    in[0] = 255;
    NetOutputs expected = All(127);
    expected[5] = 255;
    EXPECT_EQ(EvaluateFloat(in, w), expected);

    in[0] = 0;  // hidden 4 at 5000: v = 15
    expected[5] = 254;
    EXPECT_EQ(EvaluateFloat(in, w), expected);
}

TEST(FloatEvaluator, UsesTheWhole16BitInput) {
    // Unlike the module, the float network sees values above 255 unmasked.
    FileWeights w{};
    w[HiddenWeightIndex(0, 0)] = 1000000;
    w[OutputWeightIndex(0, 0)] = 10000000;
    NetInputs low{}, high{};
    low[0] = 0x0001;
    high[0] = 0x0101;
    EXPECT_NE(EvaluateFloat(low, w)[0], EvaluateFloat(high, w)[0]);
}

TEST(SigmoidTable, MatchesItsFormula) {
    for (int n = 0; n < 256; ++n) {
        const double exact = 255.0 / (1.0 + std::exp(-(n - 128) / 16.0));
        EXPECT_EQ(kSigmoidTable[n], static_cast<int>(std::floor(exact + 0.5))) << "entry " << n;
    }
    EXPECT_EQ(kSigmoidTable[128], 128);  // the one exact half rounds up
    for (int n = 1; n < 256; ++n) EXPECT_LE(kSigmoidTable[n - 1], kSigmoidTable[n]) << n;
    EXPECT_EQ(kSigmoidTable[28], 0);
    EXPECT_EQ(kSigmoidTable[29], 1);
    EXPECT_EQ(kSigmoidTable[227], 254);
    EXPECT_EQ(kSigmoidTable[228], 255);
}

TEST(SigmoidTable, LookupLimits) {
    struct {
        std::int32_t q;
        std::uint8_t value;
    } cases[] = {{-1000, 0}, {-129, 0},  {-128, 0},  {0, 128},  {1, 131},
                 {-1, 124},  {127, 255}, {128, 255}, {478, 255}};
    for (const auto& c : cases) EXPECT_EQ(SigmoidLookup(c.q), c.value) << c.q;
}

struct IntCase {
    std::int16_t outputBias;
    std::uint16_t expected;
};

class IntBiasTest : public ::testing::TestWithParam<IntCase> {};

TEST_P(IntBiasTest, AllOutputsFollowTheBias) {
    NetInputs in{};
    in.fill(200);
    EXPECT_EQ(EvaluateInt(in, ModuleOutputBiases(GetParam().outputBias)), All(GetParam().expected))
        << GetParam().outputBias;
}

INSTANTIATE_TEST_SUITE_P(Reference, IntBiasTest,
                         ::testing::Values(IntCase{0, 128},    // S = 0
                                           IntCase{5, 183},    // S = 1275, q = 15
                                           IntCase{-5, 72},    // q = -15, not -16
                                           IntCase{150, 255},  // q = 478
                                           IntCase{-150, 0},   // q = -478
                                           IntCase{1073, 255}, IntCase{-1073, 0}));

TEST(IntEvaluator, QuotientTruncatesTowardZero) {
    // With zero hidden weights every hidden byte is 128, so output 1 sees
    // S = 255 x bias + 128 x w1: pick (bias, w1) to land S on each boundary.
    struct {
        std::int16_t bias, w1;
        std::int32_t s;
        std::uint8_t out;
    } cases[] = {
        {1, -2, -1, 128},  // q = 0; a floored quotient would give 124
        {79, -158, -79, 128},   {80, -160, -80, 124},   {-79, 158, 79, 128},
        {-80, 160, 80, 131},    {-48, 175, 10160, 255},  // q = 127: the table's last entry
        {127, -333, -10239, 0},                          // q = -127: entry 1
        {79, -238, -10319, 0},                           // q = -128: entry 0
        {80, -240, -10320, 0},                           // q = -129: below the table
    };
    for (const auto& c : cases) {
        ASSERT_EQ(255 * c.bias + 128 * c.w1, c.s);
        ModuleWeights w{};
        w[OutputWeightIndex(NET_HIDDEN_COUNT, 0)] = c.bias;
        w[OutputWeightIndex(0, 0)] = c.w1;
        const NetInputs in{};
        EXPECT_EQ(EvaluateInt(in, w)[0], c.out) << "S = " << c.s;
    }
}

TEST(IntEvaluator, SingleHiddenPath) {
    ModuleWeights w{};
    w[3] = 150;
    w[173] = 150;
    NetInputs in{};
    in[0] = 255;
    NetOutputs expected = All(128);
    expected[5] = 255;
    EXPECT_EQ(EvaluateInt(in, w), expected);
    in[0] = 0;  // hidden 4 at 128: S = 19,200, q = 240
    EXPECT_EQ(EvaluateInt(in, w), expected);
}

TEST(IntEvaluator, InputsCountWithTheirLow8BitsOnly) {
    ModuleWeights w{};
    w[HiddenWeightIndex(0, 0)] = 80;  // hidden 1: q = input, so one step shows
    w[OutputWeightIndex(0, 0)] = 5;
    NetInputs masked{}, plain{};
    masked[0] = 0x1204;
    plain[0] = 0x04;
    EXPECT_EQ(EvaluateInt(masked, w), EvaluateInt(plain, w));
    plain[0] = 0x05;
    EXPECT_NE(EvaluateInt(masked, w)[0], EvaluateInt(plain, w)[0]);
}

TEST(IntEvaluator, WorstCaseSumsDoNotOverflow) {
    ModuleWeights w;
    w.fill(-1073);
    NetInputs in;
    in.fill(255);
    EXPECT_EQ(EvaluateInt(in, w), All(0));
    w.fill(1073);
    EXPECT_EQ(EvaluateInt(in, w), All(255));
}

}  // namespace
