#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <string>

#include "cli/virtual_module.h"
#include "engine/wire_codec.h"
#include "network/evaluators.h"

namespace {

TEST(HexPair, TakesTwoHexDigitsOfEitherCaseAndNothingElse) {
    const struct {
        char first, second;
        std::int32_t value;
    } cases[] = {
        {'0', '0', 0},  {'F', 'F', 255}, {'f', 'f', 255}, {'a', 'B', 171}, {'1', '0', 16},
        {'7', ' ', -1}, {' ', '7', -1},  {'-', '1', -1},  {'+', 'f', -1},  {'7', 'G', -1},
        {'G', 'G', -1}, {'Z', 'Z', -1},  {'\0', '5', -1}, {'0', 'x', -1},  {'I', '0', -1},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(HexPairToValue(c.first, c.second), c.value)
            << "'" << c.first << "' '" << c.second << "'";
    }
}

TEST(Reply, KeepsValidValuesExactlyAndRefusesAnythingElse) {
    const NetInputs expected{0, 255, 16, 1, 128, 127, 10, 200};
    const struct {
        const char* name;
        std::string reply;
        bool valid;
    } cases[] = {
        {"upper case", "00FF1001807F0AC8", true},
        {"lower case", "00ff1001807f0ac8", true},
        {"letters beyond F", "00FF1001807F0AZZ", false},
        {"a minus sign", "-1FF1001807F0AC8", false},
        {"blanks", std::string(16, ' '), false},
        {"NUL bytes", std::string(16, '\0'), false},
        {"a stray byte before it", "\n00FF1001807F0AC", false},
        {"the command echoed", "I00FF1001807F0AC", false},
    };
    const NetInputs untouched{9, 9, 9, 9, 9, 9, 9, 9};
    for (const auto& c : cases) {
        NetInputs values = untouched;
        EXPECT_EQ(DecodeReply(c.reply.data(), values), c.valid) << c.name;
        EXPECT_EQ(values, c.valid ? expected : untouched) << c.name;
    }
}

TEST(OutputFrame, IsTheLetterPAndEightUpperCasePairs) {
    const OutputFrame frame = FormatOutputFrame({0, 255, 16, 1, 128, 127, 10, 200});
    EXPECT_STREQ(frame.text, "P00FF1001807F0AC8");
    EXPECT_EQ(std::strlen(frame.text), kFrameSize);
    // Out-of-range values (never from the evaluator) widen the frame but stay in bounds.
    const OutputFrame wide =
        FormatOutputFrame({65535, 65535, 65535, 65535, 65535, 65535, 65535, 65535});
    EXPECT_STREQ(wide.text, "PFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFF");
}

// ---- The virtual module behind `pelkora-cli target` -------------------------------

std::string Feed(VirtualModule& m, const std::string& bytes, const NetInputs& in) {
    std::string reply;
    for (char b : bytes) m.Receive(b, in, reply, nullptr);
    return reply;
}

TEST(VirtualModule, AnswersIAndOOnlyAndEmulatesAfterS) {
    const NetInputs in{0, 255, 16, 1, 128, 127, 10, 200};
    VirtualModule m(ModuleWeights{});
    const struct {
        std::string sent;
        std::string reply;
    } steps[] = {
        {"R", ""},
        {"I", "00FF1001807F0AC8"},
        {"O", "8080808080808080"},  // all-zero weights: every output 128
        {"S", ""},
        {"P0102030405060708", ""},
        {"O", "0102030405060708"},      // emulated: the last frame
        {"P01zI", "00FF1001807F0AC8"},  // a broken frame is dropped; the I is a command
        {"O", "0102030405060708"},
        {"R", ""},
        {"O", "8080808080808080"},  // R ends the emulation
        {"x\n\r\0", ""},
    };
    for (const auto& s : steps) EXPECT_EQ(Feed(m, s.sent, in), s.reply) << s.sent;
}

TEST(VirtualModule, ComputesOutputsWithTheModuleArithmetic) {
    ModuleWeights w{};
    w[3] = 150;    // input 1 to hidden 4
    w[173] = 150;  // hidden 4 to output 6
    VirtualModule m(w);
    const NetInputs in{255, 0, 0, 0, 0, 0, 0, 0};
    EXPECT_EQ(Feed(m, "O", in), "8080808080FF8080");
    EXPECT_EQ(Feed(m, "O", NetInputs{}), "8080808080FF8080");  // hidden 4 at 128 still saturates
}

TEST(VirtualModule, VerboseLogNamesEachCommand) {
    VirtualModule m(ModuleWeights{});
    std::string reply, log;
    for (char b : std::string("RIS\x01P0000000000000000")) m.Receive(b, NetInputs{}, reply, &log);
    EXPECT_EQ(log, "R\nI -> 0000000000000000\nS\nignored byte 0x01\nP0000000000000000\n");
}

TEST(InputList, ParsesEightValuesOrSaysWhatIsWrong) {
    const struct {
        const char* text;
        bool ok;
    } cases[] = {
        {"1,2,3,4,5,6,7,8", true},    {"0,0,0,0,0,0,0,255", true},  {"1,2,3,4,5,6,7", false},
        {"1,2,3,4,5,6,7,8,9", false}, {"1,2,3,4,5,6,7,256", false}, {"1,2,,4,5,6,7,8", false},
        {"1,2,3,4,5,6,7,-8", false},  {"1,2,3,4,5,6,7,8x", false},  {"", false},
    };
    for (const auto& c : cases) {
        NetInputs in{};
        std::string error;
        EXPECT_EQ(ParseInputList(c.text, in, error), c.ok) << c.text;
        if (!c.ok) {
            EXPECT_FALSE(error.empty()) << c.text;
        }
    }
    NetInputs in{};
    std::string error;
    ASSERT_TRUE(ParseInputList("9,8,7,6,5,4,3,2", in, error));
    EXPECT_EQ(in, (NetInputs{9, 8, 7, 6, 5, 4, 3, 2}));
}

TEST(SweepInputs, StaysInRangeMovesAndHoldsEachStep) {
    EXPECT_NE(SweepInputs(0.0), SweepInputs(1.0));
    for (double t = 0; t < 20; t += 0.37) {
        for (std::uint16_t v : SweepInputs(t)) EXPECT_LE(v, 255);
        // Held for the whole step, so that several passes see the same inputs.
        const double step = std::floor(t / kSweepStepSeconds) * kSweepStepSeconds;
        EXPECT_EQ(SweepInputs(t), SweepInputs(step)) << t;
        EXPECT_EQ(SweepInputs(t), SweepInputs(step + kSweepStepSeconds * 0.99)) << t;
    }
}

}  // namespace
