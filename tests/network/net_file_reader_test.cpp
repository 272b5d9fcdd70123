#include <gtest/gtest.h>

#include <cstdint>
#include <sstream>
#include <string>

#include "network/net_file_reader.h"

namespace {

std::string Ones(int count) {
    std::string text;
    for (int n = 0; n < count; ++n) text += "1\n";
    return text;
}

// 279 ones then `tail`: the tail decides the 280th value and what follows.
std::string WithTail(const std::string& tail) {
    return Ones(NET_WEIGHT_COUNT - 1) + tail;
}

NetReadResult Read(const std::string& text, FileWeights& w) {
    std::istringstream in(text);
    return ReadAsciiNet(in, w);
}

struct LastValueCase {
    const char* tail;
    NetReadStatus status;
    std::int32_t value;  // the 280th value when status is Ok
};

class LastValueTest : public ::testing::TestWithParam<LastValueCase> {};

TEST_P(LastValueTest, ReadsTheLiteralRules) {
    const LastValueCase& c = GetParam();
    FileWeights w{};
    const NetReadResult r = Read(WithTail(c.tail), w);
    EXPECT_EQ(r.status, c.status) << "tail: " << c.tail;
    if (c.status == NetReadStatus::Ok) {
        EXPECT_EQ(r.valuesRead, NET_WEIGHT_COUNT);
        EXPECT_EQ(w[279], c.value) << "tail: " << c.tail;
    } else {
        EXPECT_EQ(r.valuesRead, NET_WEIGHT_COUNT - 1);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Literals, LastValueTest,
    ::testing::Values(
        LastValueCase{"42", NetReadStatus::Ok, 42},  // no line end after the last value
        LastValueCase{"-42\n", NetReadStatus::Ok, -42},
        LastValueCase{"+42\n", NetReadStatus::Ok, 42}, LastValueCase{"010", NetReadStatus::Ok, 8},
        LastValueCase{"0x10", NetReadStatus::Ok, 16}, LastValueCase{"0XfF", NetReadStatus::Ok, 255},
        LastValueCase{"-0x10", NetReadStatus::Ok, -16}, LastValueCase{"0", NetReadStatus::Ok, 0},
        LastValueCase{"0x1F", NetReadStatus::Ok, 31},
        // A value ends at whitespace or the end, never inside a token.
        LastValueCase{"09", NetReadStatus::NotANumber, 0},
        LastValueCase{"08\n", NetReadStatus::NotANumber, 0},
        LastValueCase{"1-2", NetReadStatus::NotANumber, 0},
        LastValueCase{"12abc", NetReadStatus::NotANumber, 0},
        LastValueCase{"1.5", NetReadStatus::NotANumber, 0},
        LastValueCase{"0x1Fg", NetReadStatus::NotANumber, 0},
        LastValueCase{"2147483647", NetReadStatus::Ok, 2147483647},
        LastValueCase{"-2147483648", NetReadStatus::Ok, -2147483647 - 1},
        LastValueCase{"0x7FFFFFFF", NetReadStatus::Ok, 2147483647},
        LastValueCase{"017777777777", NetReadStatus::Ok, 2147483647},
        LastValueCase{"\t\v\f\r  7 ", NetReadStatus::Ok, 7},
        LastValueCase{"5 garbage after the last value", NetReadStatus::Ok, 5},
        LastValueCase{"2147483648", NetReadStatus::OutOfRange, 0},
        LastValueCase{"-2147483649", NetReadStatus::OutOfRange, 0},
        LastValueCase{"99999999999999999999999999", NetReadStatus::OutOfRange, 0},
        LastValueCase{"0x80000000", NetReadStatus::OutOfRange, 0},
        LastValueCase{"0x", NetReadStatus::NotANumber, 0},
        LastValueCase{"0xg", NetReadStatus::NotANumber, 0},
        LastValueCase{"-", NetReadStatus::NotANumber, 0},
        LastValueCase{"- 5", NetReadStatus::NotANumber, 0},
        LastValueCase{"+-5", NetReadStatus::NotANumber, 0},
        LastValueCase{"abc", NetReadStatus::NotANumber, 0},
        LastValueCase{".5", NetReadStatus::NotANumber, 0},
        LastValueCase{"", NetReadStatus::EndOfFile, 0},
        LastValueCase{"   \n\n", NetReadStatus::EndOfFile, 0}));

TEST(NetFileReader, ATokenThatIsNoWholeValueFailsWhereItStands) {
    // Read as two values, "08" or "1-2" would shift every later weight by one.
    struct Case {
        std::string text;
        NetReadStatus status;
        int valuesRead;
    } cases[] = {
        {Ones(100) + "08\n" + Ones(200), NetReadStatus::NotANumber, 100},
        {Ones(100) + "1-2\n" + Ones(200), NetReadStatus::NotANumber, 100},
        {Ones(100) + "010 0x1F\n" + Ones(178), NetReadStatus::Ok, 280},
        {WithTail("7 08 1-2"), NetReadStatus::Ok, 280},  // after the 280th: never read
        {"1.5", NetReadStatus::NotANumber, 0},
        {"", NetReadStatus::EndOfFile, 0},
    };
    for (std::size_t n = 0; n < std::size(cases); ++n) {
        FileWeights w{};
        const NetReadResult r = Read(cases[n].text, w);
        EXPECT_EQ(r.status, cases[n].status) << "case " << n;
        EXPECT_EQ(r.valuesRead, cases[n].valuesRead) << "case " << n;
    }
    FileWeights w{};
    ASSERT_EQ(Read(Ones(100) + "010 0x1F\n" + Ones(178), w).status, NetReadStatus::Ok);
    EXPECT_EQ(w[100], 8);
    EXPECT_EQ(w[101], 31);
}

TEST(NetFileReader, AFailureSaysItsLineAndReason) {
    struct Case {
        std::string text;
        std::string message;
    } cases[] = {
        {Ones(50) + "3.5\n" + Ones(229), "line 51: '3.5' is not a number"},
        {Ones(2) + "7 12abc 9\n", "line 3: '12abc' is not a number"},
        {"\xEF\xBB\xBF" + Ones(4) + "99999999999\n",
         "line 5: '99999999999' is outside the signed 32-bit range"},
        {Ones(279), "line 280: the file ends after 279 of 280 values"},
        {"", "line 1: the file ends after 0 of 280 values"},
        {"-\n", "line 1: '-' is not a number"},
        {std::string(60, 'x'), "line 1: '" + std::string(40, 'x') + "' is not a number"},
        // A mark that is not whole is no mark: the first value fails.
        {"\xEF\xBB" + Ones(280),
         "line 1: '\xEF\xBB"
         "1' is not a number"},
    };
    for (const Case& c : cases) {
        FileWeights w{};
        EXPECT_EQ(NetReadErrorText(Read(c.text, w)), c.message) << c.text.substr(0, 20);
    }
}

TEST(NetFileReader, AByteOrderMarkAtTheStartIsSkipped) {
    FileWeights w{};
    ASSERT_EQ(Read("\xEF\xBB\xBF-5\n" + Ones(279), w).status, NetReadStatus::Ok);
    EXPECT_EQ(w[0], -5);
    EXPECT_EQ(NetReadErrorText(Read(Ones(280), w)), "");
}

TEST(NetFileReader, BlanksOnOneLineLoadLikeOneValuePerLine) {
    std::string lines, oneLine;
    for (int n = 0; n < NET_WEIGHT_COUNT; ++n) {
        lines += std::to_string(n * 7 - 900) + "\r\n";
        oneLine += std::to_string(n * 7 - 900) + (n % 3 ? " " : "\t");
    }
    FileWeights a{}, b{};
    ASSERT_EQ(Read(lines, a).status, NetReadStatus::Ok);
    ASSERT_EQ(Read(oneLine, b).status, NetReadStatus::Ok);
    EXPECT_EQ(a, b);
    EXPECT_EQ(a[0], -900);
    EXPECT_EQ(a[279], 279 * 7 - 900);
}

TEST(NetFileReader, StopsAfterTheLastValue) {
    std::istringstream in(WithTail("3 4 5"));
    FileWeights w{};
    ASSERT_EQ(ReadAsciiNet(in, w).status, NetReadStatus::Ok);
    std::string rest;
    std::getline(in, rest);
    EXPECT_EQ(rest, " 4 5");  // the reader left the tail untouched
}

TEST(ModuleWeightDerivation, TruncatesTowardZero) {
    struct {
        std::int32_t file;
        std::int16_t module;
    } cases[] = {{2000000, 1},
                 {1999999, 0},
                 {-1999999, 0},
                 {-2000000, -1},
                 {-3999999, -1},
                 {2147483647, 1073},
                 {-2147483647 - 1, -1073},
                 {10000000, 5},
                 {300000000, 150},
                 {0, 0}};
    for (const auto& c : cases) EXPECT_EQ(DeriveModuleWeight(c.file), c.module) << c.file;
}

TEST(ModuleWeightDerivation, MatchesTheDoubleProductForEveryMagnitude) {
    // The module's form is defined as value x 5e-7 truncated; the integer quotient is
    // its exact equivalent. Probe both sides of every multiple of 2,000,000.
    const double factor = 5e-7;
    for (std::int64_t v = -1074LL * 2000000; v <= 1074LL * 2000000; v += 2000000) {
        for (std::int64_t d : {-1, 0, 1}) {
            const std::int64_t x = v + d;
            if (x < INT32_MIN || x > INT32_MAX) continue;
            const auto viaDouble = static_cast<std::int16_t>(static_cast<double>(x) * factor);
            EXPECT_EQ(DeriveModuleWeight(static_cast<std::int32_t>(x)), viaDouble) << x;
        }
    }
}

}  // namespace

#include <cctype>
#include <cstdlib>

#include "network/hex_digit.h"

namespace {

// The case folding must not let any other byte through ('@', '`', 'G', 'g', 0xC1...).
TEST(HexDigitRule, EveryByte) {
    for (int b = 0; b < 256; ++b) {
        const char text[2] = {static_cast<char>(b), '\0'};
        const int expected =
            std::isxdigit(b) ? static_cast<int>(std::strtol(text, nullptr, 16)) : -1;
        EXPECT_EQ(HexDigitValue(static_cast<char>(b)), expected) << b;
    }
}

}  // namespace
