// The rule validate and the window judge a pass by: readings that agree, inputs
// that jitter by one LSB, inputs that moved further.

#include <gtest/gtest.h>

#include <vector>

#include "network/evaluators.h"
#include "network/pass_values.h"
#include "network/pass_verdict.h"

namespace {

NetInputs All(int v) {
    NetInputs in;
    in.fill(static_cast<std::uint16_t>(v));
    return in;
}

// Output 1 rises with input 1 and falls with input 2; the others are constant.
ModuleWeights Weights() {
    ModuleWeights w{};
    w[0 * NET_HIDDEN_COUNT + 0] = 400;  // input 1 to hidden 1
    w[1 * NET_HIDDEN_COUNT + 1] = 400;  // input 2 to hidden 2
    const int outputs = (NET_INPUT_COUNT + 1) * NET_HIDDEN_COUNT;
    w[outputs + 0 * NET_OUTPUT_COUNT] = 900;   // hidden 1 to output 1
    w[outputs + 1 * NET_OUTPUT_COUNT] = -900;  // hidden 2 to output 1
    return w;
}

TEST(PassVerdict, JudgesJitterAndCountsApartWhatCannotBeSaid) {
    const ModuleWeights w = Weights();
    NetInputs mixed = All(100);
    mixed[1] = 101;  // input 1 from the first reading, input 2 from the second
    NetInputs first = All(100);
    NetInputs second = All(101);
    const struct {
        const char* name;
        std::vector<NetInputs> readings;
        NetInputs computedFrom;  // what the module computed from
        int offset3;             // added to its output 3
        int tolerance;
        bool decided;
        bool differs3;
    } cases[] = {
        {"held still, right", {All(7), All(7)}, All(7), 0, 0, true, false},
        {"held still, 5 off", {All(7), All(7)}, All(7), 5, 3, true, true},
        {"held still, 3 off within 3", {All(7)}, All(7), 3, 3, true, false},
        {"jitter, from the second reading", {first, second}, second, 0, 0, true, false},
        {"jitter, from a mix of the readings", {first, second}, mixed, 0, 0, true, false},
        {"jitter, 9 off", {first, second}, first, 9, 0, true, true},
        {"jitter, 9 off within 9", {first, second}, first, 9, 9, true, false},
        {"moved far, from the first reading", {All(10), All(200)}, All(10), 0, 0, true, false},
        {"moved far, 9 off: cannot be said", {All(10), All(200)}, All(10), 9, 0, false, false},
        {"three readings, jitter", {All(4), All(5), All(5)}, All(4), 0, 0, true, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        NetOutputs module = EvaluateInt(c.computedFrom, w);
        module[2] = static_cast<std::uint16_t>(module[2] + c.offset3);
        const PassVerdict v = JudgePass(c.readings, module, w, c.tolerance);
        EXPECT_EQ(v.decided, c.decided);
        EXPECT_EQ(v.differs[2], c.differs3);
        for (int k = 0; k < NET_OUTPUT_COUNT; ++k) {
            if (k != 2) {
                EXPECT_FALSE(v.differs[k]) << k;
            }
        }
        if (c.decided) {
            EXPECT_EQ(v.diff[2], c.offset3);
        }
    }
    EXPECT_FALSE(JudgePass({}, NetOutputs{}, w, 0).decided);
}

// The one clip of the sliders, the chart, the host's markers and the virtual
// module's faults.
TEST(PassValues, ClipToByteKeepsZeroTo255) {
    const struct {
        int value;
        int clipped;
    } cases[] = {{-70000, 0}, {-1, 0},    {0, 0},     {1, 1},
                 {254, 254},  {255, 255}, {256, 255}, {65535, 255}};
    for (const auto& c : cases) EXPECT_EQ(ClipToByte(c.value), c.clipped) << c.value;
}

}  // namespace
