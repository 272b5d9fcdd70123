#include <gtest/gtest.h>

#include <sstream>
#include <string>
#include <vector>

#include "files/hex_net_file.h"
#include "files_test_support.h"

namespace {

using files_test::DecodeImage;
using files_test::ExpectedImage;
using files_test::HaveSrecCat;
using files_test::Image;
using files_test::ScratchDirTest;
using files_test::VariedWeights;

// The lines without their CR LF; fails the test on a line without one.
std::vector<std::string> Lines(const std::string& text) {
    std::vector<std::string> lines;
    std::size_t begin = 0;
    while (begin < text.size()) {
        const std::size_t end = text.find("\r\n", begin);
        if (end == std::string::npos) {
            ADD_FAILURE() << "line without CR LF at byte " << begin;
            break;
        }
        lines.push_back(text.substr(begin, end - begin));
        begin = end + 2;
    }
    return lines;
}

ModuleWeights FirstFour(std::int16_t a, std::int16_t b, std::int16_t c, std::int16_t d) {
    ModuleWeights weights{};
    weights[0] = a;
    weights[1] = b;
    weights[2] = c;
    weights[3] = d;
    return weights;
}

TEST(WriteHexByte, UppercaseTwoDigitsAndChecksumModulo256) {
    struct {
        std::uint8_t byte;
        std::uint8_t checksumBefore;
        const char* text;
        std::uint8_t checksumAfter;
    } cases[] = {
        {0x00, 0x00, "00", 0x00}, {0x0A, 0x01, "0A", 0x0B}, {0xAA, 0x00, "AA", 0xAA},
        {0xFF, 0x01, "FF", 0x00}, {0x20, 0xF0, "20", 0x10}, {0xBC, 0xFF, "BC", 0xBB},
    };
    for (const auto& c : cases) {
        std::ostringstream out;
        std::uint8_t checksum = c.checksumBefore;
        WriteHexByte(out, c.byte, checksum);
        EXPECT_EQ(out.str(), c.text);
        EXPECT_EQ(checksum, c.checksumAfter) << c.text;
    }
}

TEST(HexNetFile, WorkedLines) {
    const ModuleWeights zero{};
    const ModuleWeights mixed = FirstFour(1, -1, 256, -1073);
    struct {
        const ModuleWeights& weights;
        std::uint16_t start;
        HexFileFormat format;
        std::size_t line;
        const char* text;
    } cases[] = {
        {zero, 0xB000, FORMAT_S19, 0, "S104B000AAA1"},
        {zero, 0xB000, FORMAT_S19, 1, "S10BB001000000000000000043"},
        {mixed, 0xB000, FORMAT_S19, 1, "S10BB0010001FFFF0100FBCF79"},
        {zero, 0xB000, FORMAT_S19, 70, "S10BB229000000000000000019"},
        {zero, 0xB000, FORMAT_S19, 71, "S9030000FC"},
        {zero, 0xDC00, FORMAT_S19, 0, "S104DC00AA75"},
        {zero, 0xB000, FORMAT_HEX, 0, ":01B00000AAA5"},
        {zero, 0xB000, FORMAT_HEX, 1, ":08B00100000000000000000047"},
        {mixed, 0xB000, FORMAT_HEX, 1, ":08B001000001FFFF0100FBCF7D"},
        {zero, 0xB000, FORMAT_HEX, 70, ":08B2290000000000000000001D"},
        {zero, 0xB000, FORMAT_HEX, 71, ":00000001FF"},
        {zero, 0xDC00, FORMAT_HEX, 0, ":01DC0000AA79"},
    };
    for (const auto& c : cases) {
        const std::vector<std::string> lines = Lines(Image(c.weights, c.start, c.format));
        ASSERT_EQ(lines.size(), static_cast<std::size_t>(HEX_LINE_COUNT));
        EXPECT_EQ(lines[c.line], c.text) << "line " << c.line;
    }
}

TEST(HexNetFile, SizeAndShapeDoNotDependOnTheWeights) {
    for (const ModuleWeights& weights : {ModuleWeights{}, VariedWeights()}) {
        for (const std::uint16_t start : {std::uint16_t{0xB000}, std::uint16_t{0xDC00}}) {
            const std::string s19 = Image(weights, start, FORMAT_S19);
            const std::string hex = Image(weights, start, FORMAT_HEX);
            EXPECT_EQ(s19.size(), HEX_S19_FILE_SIZE);
            EXPECT_EQ(hex.size(), HEX_INTEL_FILE_SIZE);
            for (const std::string& text : {s19, hex}) {
                // CR and LF only as pairs, hex digits only in uppercase.
                EXPECT_EQ(text.find_first_of("abcdef"), std::string::npos);
                std::size_t lineEnds = 0;
                for (std::size_t n = 0; n < text.size(); ++n) {
                    if (text[n] == '\n') {
                        ASSERT_GT(n, 0u);
                        EXPECT_EQ(text[n - 1], '\r');
                        ++lineEnds;
                    }
                }
                EXPECT_EQ(lineEnds, static_cast<std::size_t>(HEX_LINE_COUNT));
                EXPECT_EQ(text.find("\r\n\r\n"), std::string::npos);
            }
            for (const std::string& line : Lines(s19)) EXPECT_EQ(line.rfind('S', 0), 0u);
            for (const std::string& line : Lines(hex)) EXPECT_EQ(line.rfind(':', 0), 0u);
        }
    }
}

TEST(HexNetFile, TwosComplementHighByteFirst) {
    struct {
        std::int16_t weight;
        const char* text;
    } cases[] = {
        {-1, "FFFF"},    {-1073, "FBCF"}, {256, "0100"},    {-32768, "8000"},
        {32767, "7FFF"}, {1, "0001"},     {0x1234, "1234"}, {-256, "FF00"},
    };
    for (const auto& c : cases) {
        for (const HexFileFormat format : {FORMAT_S19, FORMAT_HEX}) {
            // Weight 279 is the last word of the last record, just before the checksum.
            ModuleWeights weights{};
            weights[NET_WEIGHT_COUNT - 1] = c.weight;
            const std::vector<std::string> lines = Lines(Image(weights, 0xB000, format));
            const std::string& last = lines[HEX_WEIGHT_RECORD_COUNT];
            EXPECT_EQ(last.substr(last.size() - 6, 4), c.text) << c.weight;
        }
    }
}

TEST(FlashBanks, NamesParseToTheirAddressesInAnyCase) {
    for (int n = 0; n < FLASH_BANK_COUNT; ++n) {
        std::uint16_t address = 0;
        ASSERT_TRUE(ParseFlashBank(FLASH_BANK_NAMES[n], address)) << FLASH_BANK_NAMES[n];
        EXPECT_EQ(address, 0xB000 + 0x400 * n);
        std::string lower = FLASH_BANK_NAMES[n];
        for (char& ch : lower) ch = static_cast<char>(std::tolower(static_cast<unsigned char>(ch)));
        address = 0;
        EXPECT_TRUE(ParseFlashBank(lower, address));
        EXPECT_EQ(address, 0xB000 + 0x400 * n);
    }
    EXPECT_STREQ(FLASH_BANK_NAMES.back(), "DC00");
    for (const char* bad :
         {"", "B00", "B0000", "0xB000", "E000", "AC00", "B001", " B000", "B000 "}) {
        std::uint16_t address = 0x1234;
        EXPECT_FALSE(ParseFlashBank(bad, address)) << '"' << bad << '"';
        EXPECT_EQ(address, 0x1234);
    }
}

// Every bank's image decodes, with its checksums verified by a decoder that is not
// ours, to the marker and the weights from the bank's first address on.
TEST(HexNetFileDecoded, EveryBankBothFormats) {
    if (!HaveSrecCat()) GTEST_SKIP() << "srec_cat not installed";
    const ModuleWeights weights = VariedWeights();
    const std::string expected = ExpectedImage(weights);
    ASSERT_EQ(expected.size(), static_cast<std::size_t>(FLASH_IMAGE_SIZE));
    const auto dir =
        std::filesystem::temp_directory_path() / ("pelkora-banks-" + std::to_string(::getpid()));
    std::filesystem::create_directories(dir);
    for (const char* bank : FLASH_BANK_NAMES) {
        std::uint16_t start = 0;
        ASSERT_TRUE(ParseFlashBank(bank, start));
        for (const HexFileFormat format : {FORMAT_S19, FORMAT_HEX}) {
            const std::string text = Image(weights, start, format);
            const auto path = dir / (std::string(bank) + "." + HexFileSuffix(format));
            std::ofstream(path, std::ios::binary) << text;
            std::string bytes;
            ASSERT_TRUE(DecodeImage(path, format, start, bytes)) << path;
            EXPECT_EQ(bytes, expected) << bank << " " << HexFileSuffix(format);

            // The first and the last record sit at A and A + 0x229, the image ends
            // at A + 0x230, inside the bank.
            const std::vector<std::string> lines = Lines(text);
            char first[8], last[8];
            std::snprintf(first, sizeof first, "%4.4X", start);
            std::snprintf(last, sizeof last, "%4.4X", start + 0x229);
            const std::size_t at = format == FORMAT_S19 ? 4 : 3;
            EXPECT_EQ(lines.front().substr(at, 4), first);
            EXPECT_EQ(lines[HEX_WEIGHT_RECORD_COUNT].substr(at, 4), last);
            EXPECT_LT(start + FLASH_IMAGE_SIZE - 1, start + FLASH_BANK_SIZE);
        }
    }
    std::filesystem::remove_all(dir);
}

// Guards the test above: the decoder does refuse a wrong checksum.
TEST_F(ScratchDirTest, DecoderRejectsABadChecksum) {
    if (!HaveSrecCat()) GTEST_SKIP() << "srec_cat not installed";
    for (const HexFileFormat format : {FORMAT_S19, FORMAT_HEX}) {
        std::string text = Image(ModuleWeights{}, 0xB000, format);
        std::string bytes;
        const auto good = Write("good.img", text);
        EXPECT_TRUE(DecodeImage(good, format, 0xB000, bytes));
        const std::size_t checksumOfSecondLine = text.find("\r\n", text.find("\r\n") + 2) - 1;
        text[checksumOfSecondLine] = text[checksumOfSecondLine] == '0' ? '1' : '0';
        const auto bad = Write("bad.img", text);
        EXPECT_FALSE(DecodeImage(bad, format, 0xB000, bytes)) << HexFileSuffix(format);
    }
}

// A stream buffer that takes `room` characters and then fails every write.
class FailingBuf : public std::streambuf {
public:
    explicit FailingBuf(std::size_t room) : room_(room) {}
    std::string taken;

protected:
    int_type overflow(int_type ch) override {
        if (taken.size() >= room_) return traits_type::eof();
        taken += traits_type::to_char_type(ch);
        return ch;
    }

private:
    std::size_t room_;
};

TEST(HexNetFile, StopsAtTheFirstStreamError) {
    struct {
        std::size_t room;
        bool recordsOk;
    } cases[] = {
        {0, false},
        {10, false},
        {HEX_S19_FILE_SIZE - 13, false},  // fails in the last weight record
        {HEX_S19_FILE_SIZE - 12, true},   // records fit, the end record does not
        {HEX_S19_FILE_SIZE, true},
    };
    const ModuleWeights weights = VariedWeights();
    for (const auto& c : cases) {
        FailingBuf recordsBuf(c.room);
        std::ostream records(&recordsBuf);
        EXPECT_EQ(WriteHexNetRecords(records, weights, 0xB000, FORMAT_S19), c.recordsOk) << c.room;
        EXPECT_LE(recordsBuf.taken.size(), c.room);

        FailingBuf fileBuf(c.room);
        std::ostream file(&fileBuf);
        EXPECT_EQ(WriteHexNetFile(file, weights, 0xB000, FORMAT_S19), c.room >= HEX_S19_FILE_SIZE)
            << c.room;
    }
}

TEST(HexExportTexts, MessagesAsTheOperatorSeesThem) {
    EXPECT_STREQ(FileResultText(FileResult::OpenFailed), "Error opening file");
    EXPECT_STREQ(FileResultText(FileResult::WriteFailed), "Error writing file");
    EXPECT_STREQ(FileResultText(FileResult::Ok), "");
    EXPECT_EQ(HexExportSuccessText("/home/me/net.s19", 0xB000),
              "Weights saved in file /home/me/net.s19, start adress B000");
    EXPECT_EQ(HexExportSuccessText("a b.hex", 0xDC00),
              "Weights saved in file a b.hex, start adress DC00");
    EXPECT_STREQ(HexFileSuffix(FORMAT_S19), "s19");
    EXPECT_STREQ(HexFileSuffix(FORMAT_HEX), "hex");
}

}  // namespace
