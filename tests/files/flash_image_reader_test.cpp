#include "files/flash_image_reader.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "files/weight_difference.h"
#include "files_test_support.h"
#include "network/net_file_reader.h"
#include "network/net_file_writer.h"

namespace {

namespace fs = std::filesystem;
using files_test::HaveSrecCat;
using files_test::Image;
using files_test::ScratchDirTest;
using files_test::VariedWeights;

std::uint16_t BankStart(int bank) {
    return static_cast<std::uint16_t>(FLASH_BANK_FIRST + bank * FLASH_BANK_SIZE);
}

std::vector<std::string> Lines(const std::string& text) {
    std::vector<std::string> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        lines.push_back(line);
    }
    return lines;
}

std::string Join(const std::vector<std::string>& lines) {
    std::string text;
    for (const std::string& line : lines) text += line + "\n";
    return text;
}

char OtherDigit(char c) {
    return c == '0' ? '1' : '0';
}

// A record with its count and checksum computed: "S<type>" or ":" then the bytes
// (S-record: address and data; Intel HEX: address, type and data).
std::string Record(const std::string& start, const std::vector<int>& bytes) {
    const bool srec = start[0] == 'S';
    std::vector<int> all{static_cast<int>(bytes.size()) + (srec ? 1 : -3)};
    all.insert(all.end(), bytes.begin(), bytes.end());
    int sum = 0;
    std::string text = start;
    char hex[3];
    for (int b : all) {
        sum += b;
        std::snprintf(hex, sizeof hex, "%02X", b & 0xFF);
        text += hex;
    }
    std::snprintf(hex, sizeof hex, "%02X", (srec ? ~sum : -sum) & 0xFF);
    return text + hex;
}

TEST(FlashImageReaderTest, ReadsBackEveryBankInBothFormats) {
    const ModuleWeights weights = VariedWeights();
    for (int bank = 0; bank < FLASH_BANK_COUNT; ++bank) {
        for (HexFileFormat format : {FORMAT_S19, FORMAT_HEX}) {
            const FlashImageRead read = ReadFlashImage(Image(weights, BankStart(bank), format));
            ASSERT_TRUE(read.Ok()) << bank << " " << format << ": " << FlashImageErrorText(read);
            EXPECT_EQ(read.image.format, format);
            EXPECT_EQ(read.image.wStartAddress, BankStart(bank));
            EXPECT_EQ(read.image.recordCount, HEX_LINE_COUNT);
            EXPECT_EQ(read.image.weights, weights);
        }
    }
}

using FlashImageShapesTest = ScratchDirTest;

// The same image as other tools write it must give the same weights.
TEST_F(FlashImageShapesTest, ImagesRewrittenBySrecCatGiveTheSameWeights) {
    if (!HaveSrecCat()) GTEST_SKIP() << "srec_cat not installed";
    const ModuleWeights weights = VariedWeights();
    const struct {
        HexFileFormat input;
        const char* options;
        HexFileFormat shown;
    } cases[] = {
        {FORMAT_S19, "-obs=1", FORMAT_S19},
        {FORMAT_S19, "-obs=252 -line-length=600", FORMAT_S19},
        {FORMAT_S19, "-obs=5 -address-length=3", FORMAT_S19},
        {FORMAT_S19, "-address-length=4 -header=Pelkora -enable=data-count", FORMAT_S19},
        {FORMAT_S19, "-address-length=3 -enable=data-count -crlf", FORMAT_S19},
        {FORMAT_S19, "-intel", FORMAT_HEX},
        {FORMAT_HEX, "-intel -address-length=3 -obs=3", FORMAT_HEX},
        {FORMAT_HEX, "-intel -address-length=2 -obs=255 -line-length=600", FORMAT_HEX},
        {FORMAT_HEX, "-header=x -enable=data-count -execution-start-address=0", FORMAT_S19},
    };
    for (int bank : {0, 7, 11}) {
        const fs::path in = Write("in", Image(weights, BankStart(bank), FORMAT_S19));
        const fs::path inHex = Write("in.hex", Image(weights, BankStart(bank), FORMAT_HEX));
        for (const auto& c : cases) {
            for (bool lower : {false, true}) {
                const fs::path out = dir_ / "out";
                const std::string cmd =
                    "srec_cat " + ShellQuote((c.input == FORMAT_HEX ? inHex : in).string()) +
                    (c.input == FORMAT_HEX ? " -intel" : "") + " -o - " + c.options +
                    " 2>/dev/null" + (lower ? " | tr A-Z a-z" : "") + " >" +
                    ShellQuote(out.string());
                ASSERT_EQ(std::system(cmd.c_str()), 0) << cmd;
                const FlashImageRead read = ReadFlashImage(ReadWholeFile(out));
                ASSERT_TRUE(read.Ok()) << cmd << ": " << FlashImageErrorText(read);
                EXPECT_EQ(read.image.format, c.shown) << cmd;
                EXPECT_EQ(read.image.wStartAddress, BankStart(bank)) << cmd;
                EXPECT_EQ(read.image.weights, weights) << cmd;
            }
        }
    }
}

TEST(FlashImageReaderTest, RefusesEachMalformationWithItsLine) {
    const std::vector<std::string> s19 = Lines(Image(VariedWeights(), 0xB000, FORMAT_S19));
    const std::vector<std::string> hex = Lines(Image(VariedWeights(), 0xB000, FORMAT_HEX));
    const auto edit = [](std::vector<std::string> lines, auto change) {
        change(lines);
        return Join(lines);
    };
    const auto insertBeforeEnd = [&edit](const std::vector<std::string>& lines,
                                         const std::string& record) {
        return edit(lines, [&](auto& l) { l.insert(l.end() - 1, record); });
    };
    const struct {
        const char* what;
        std::string text;
        ImageError error;
        int line;
        std::uint32_t address;
    } cases[] = {
        {"checksum", edit(s19, [](auto& l) { l[2][5] = OtherDigit(l[2][5]); }),
         ImageError::BadChecksum, 3, 0},
        {"hex checksum", edit(hex, [](auto& l) { l[70][12] = OtherDigit(l[70][12]); }),
         ImageError::BadChecksum, 71, 0},
        {"character", edit(s19, [](auto& l) { l[4][9] = 'G'; }), ImageError::BadCharacter, 5, 0},
        {"inner blank", edit(hex, [](auto& l) { l[4][9] = ' '; }), ImageError::BadCharacter, 5, 0},
        {"lone CR", edit(s19, [](auto& l) { l[4].insert(6, "\r"); }), ImageError::BadCharacter, 5,
         0},
        {"foreign record", edit(s19, [](auto& l) { l[9] = ":00000001FF"; }),
         ImageError::BadCharacter, 10, 0},
        {"text first", "hello\n" + Join(s19), ImageError::BadCharacter, 1, 0},
        {"short", edit(s19, [](auto& l) { l[3].resize(l[3].size() - 2); }), ImageError::ShortRecord,
         4, 0},
        {"short type", edit(s19, [](auto& l) { l[3] = "S"; }), ImageError::ShortRecord, 4, 0},
        {"long", edit(hex, [](auto& l) { l[3] += "00"; }), ImageError::LongRecord, 4, 0},
        {"count", insertBeforeEnd(s19, Record("S5", {0x00, 0x46})), ImageError::BadCount, 72, 0},
        {"S6 count", insertBeforeEnd(s19, Record("S6", {0x00, 0x00, 0x48})), ImageError::BadCount,
         72, 0},
        {"after end", Join(s19) + s19[5] + "\n", ImageError::DataAfterEnd, 73, 0},
        {"second end", Join(hex) + "\n" + hex[71] + "\n", ImageError::DataAfterEnd, 74, 0},
        {"no end", edit(s19, [](auto& l) { l.pop_back(); }), ImageError::NoEndRecord, 71, 0},
        {"empty", "", ImageError::NoEndRecord, 1, 0},
        {"conflict", insertBeforeEnd(s19, Record("S1", {0xB0, 0x04, 0x12})),
         ImageError::ConflictingData, 72, 0xB004},
        {"hex conflict", insertBeforeEnd(hex, Record(":", {0xB0, 0x00, 0x00, 0xAB})),
         ImageError::ConflictingData, 72, 0xB000},
        {"outside bank", insertBeforeEnd(s19, Record("S1", {0xB2, 0x31, 0x00})),
         ImageError::OutsideImage, 72, 0xB231},
        {"other bank", insertBeforeEnd(hex, Record(":", {0xD0, 0x00, 0x00, 0xAA})),
         ImageError::OutsideImage, 72, 0xD000},
        {"below banks",
         edit(s19,
              [](auto& l) {
                  l.insert(l.begin(), Record("S1", {0, 0, 1}));
              }),
         ImageError::OutsideImage, 1, 0},
        {"above 16 bits", insertBeforeEnd(s19, Record("S2", {0x01, 0xB0, 0x00, 0xAA})),
         ImageError::OutsideImage, 72, 0x1B000},
        {"linear base",
         edit(hex,
              [](auto& l) {
                  l.insert(l.begin(), Record(":", {0, 0, 4, 0, 1}));
              }),
         ImageError::OutsideImage, 2, 0x1B000},
        {"no marker",
         edit(s19,
              [](auto& l) {
                  l[0] = Record("S1", {0xB0, 0x00, 0x55});
              }),
         ImageError::NoMarker, 1, 0xB000},
        {"no data", edit(hex, [](auto& l) { l.erase(l.begin(), l.end() - 1); }),
         ImageError::NoMarker, 1, 0},
        {"incomplete", edit(hex, [](auto& l) { l.erase(l.begin() + 39); }),
         ImageError::IncompleteImage, 1, 0xB001 + 8 * 38},
        {"unknown S4", insertBeforeEnd(s19, Record("S4", {0, 0})), ImageError::UnknownRecord, 72,
         0},
        {"unknown 06", insertBeforeEnd(hex, Record(":", {0, 0, 6})), ImageError::UnknownRecord, 72,
         0},
        {"end with data",
         edit(s19,
              [](auto& l) {
                  l[71] = Record("S9", {0, 0, 1});
              }),
         ImageError::BadRecord, 72, 0},
        {"S1 without address", edit(s19, [](auto& l) { l[5] = "S101FE"; }), ImageError::BadRecord,
         6, 0},
        {"hex end with data",
         edit(hex,
              [](auto& l) {
                  l[71] = Record(":", {0, 0, 1, 0});
              }),
         ImageError::BadRecord, 72, 0},
        {"short base", insertBeforeEnd(hex, Record(":", {0, 0, 2, 0})), ImageError::BadRecord, 72,
         0},
    };
    for (const auto& c : cases) {
        const FlashImageRead read = ReadFlashImage(c.text);
        EXPECT_EQ(read.error, c.error) << c.what << ": " << FlashImageErrorText(read);
        EXPECT_EQ(read.line, c.line) << c.what;
        if (c.address != 0) {
            EXPECT_EQ(read.address, c.address) << c.what;
        }
        EXPECT_NE(FlashImageErrorText(read).find("line " + std::to_string(c.line) + ": "),
                  std::string::npos)
            << c.what;
    }
}

TEST(FlashImageReaderTest, AcceptsWhatLeavesTheBytesAlone) {
    const ModuleWeights weights = VariedWeights();
    std::vector<std::string> lines = Lines(Image(weights, 0xC800, FORMAT_HEX));
    const std::string again = lines[10];
    lines.insert(lines.begin() + 10, again);  // the same value twice is no conflict
    lines[3] += " \t";
    lines.insert(lines.begin() + 20, "");
    lines.insert(lines.begin() + 5, Record(":", {0, 0, 5, 0, 0, 0, 0}));
    const FlashImageRead read = ReadFlashImage(Join(lines) + "\n\n");
    ASSERT_TRUE(read.Ok()) << FlashImageErrorText(read);
    EXPECT_EQ(read.image.weights, weights);
    EXPECT_EQ(read.image.recordCount, HEX_LINE_COUNT + 2);
}

// Random damage must never crash the reader, nor pass with other weights.
TEST(FlashImageReaderTest, RandomCorruptionIsRefusedOrHarmless) {
    const ModuleWeights weights = VariedWeights();
    std::mt19937 rng(12345);
    constexpr char kAlphabet[] = "0123456789ABCDEFabcdefS:\r\n \0\xff";
    const std::string_view alphabet(kAlphabet, sizeof kAlphabet - 1);
    int accepted = 0;
    for (int iteration = 0; iteration < 4000; ++iteration) {
        const auto format = static_cast<HexFileFormat>(iteration % 2);
        const std::uint16_t start = BankStart(iteration % FLASH_BANK_COUNT);
        std::string text = Image(weights, start, format);
        const int edits = 1 + static_cast<int>(rng() % 3);
        for (int e = 0; e < edits; ++e) {
            const std::size_t at = rng() % text.size();
            const char c = alphabet[rng() % alphabet.size()];
            switch (rng() % 4) {
                case 0:
                    text[at] = c;
                    break;
                case 1:
                    text.insert(at, 1, c);
                    break;
                case 2:
                    text.erase(at, 1 + rng() % 3);
                    break;
                default:
                    text = text.substr(0, at);
                    break;
            }
            if (text.empty()) text = "S";
        }
        const FlashImageRead read = ReadFlashImage(text);
        if (!read.Ok()) {
            EXPECT_GE(read.line, 1) << text;
            continue;
        }
        ++accepted;
        EXPECT_EQ(read.image.weights, weights) << text;
        EXPECT_EQ(read.image.wStartAddress, start) << text;
    }
    EXPECT_LT(accepted, 1000);  // most damage must show
}

TEST(FlashImageReaderTest, DifferencesNameTheWeightsPlace) {
    ModuleWeights image{};
    ModuleWeights net{};
    const struct {
        int index;
        const char* text;
    } cases[] = {
        {0, "weight 1 (hidden layer, neuron 1, input 1): image 1, net 0"},
        {17, "weight 18 (hidden layer, neuron 2, input 2): image 18, net 0"},
        {143, "weight 144 (hidden layer, neuron 16, bias): image 144, net 0"},
        {144, "weight 145 (output layer, neuron 1, hidden neuron 1): image 145, net 0"},
        {271, "weight 272 (output layer, neuron 8, hidden neuron 16): image 272, net 0"},
        {279, "weight 280 (output layer, neuron 8, bias): image 280, net 0"},
    };
    for (const auto& c : cases) image[c.index] = static_cast<std::int16_t>(c.index + 1);
    const std::vector<WeightDifference> differences = CompareWeights(image, net);
    ASSERT_EQ(differences.size(), std::size(cases));
    for (std::size_t n = 0; n < differences.size(); ++n) {
        EXPECT_EQ(WeightDifferenceText(differences[n]), cases[n].text);
    }
    EXPECT_TRUE(CompareWeights(net, net).empty());
}

TEST(FlashImageReaderTest, TheNetFileLoadsBackToTheSameModuleWeights) {
    ModuleWeights weights{};
    for (int n = 0; n < NET_WEIGHT_COUNT; ++n) {
        weights[n] = static_cast<std::int16_t>((n * 37) % 2147 - 1073);
    }
    weights[0] = 1073;
    std::ostringstream out;
    ASSERT_TRUE(WriteModuleNetFile(out, weights));
    EXPECT_EQ(out.str().substr(0, 12), "2146000000\r\n");
    std::istringstream in(out.str());
    FileWeights fileWeights{};
    ASSERT_EQ(ReadAsciiNet(in, fileWeights).status, NetReadStatus::Ok);
    EXPECT_EQ(DeriveModuleWeights(fileWeights), weights);

    for (const std::int16_t tooLarge :
         {std::int16_t{1074}, std::int16_t{-1074}, std::int16_t{-32768}}) {
        weights[200] = tooLarge;
        std::ostringstream none;
        EXPECT_EQ(FirstUnwritableWeight(weights), 200);
        EXPECT_FALSE(WriteModuleNetFile(none, weights));
        EXPECT_EQ(none.str(), "");
    }
}

}  // namespace
