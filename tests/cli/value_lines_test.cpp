// The one reader of lines of values: what it takes, what it refuses, and that every
// front end reads a line the same way.

#include <gtest/gtest.h>

#include <limits>
#include <sstream>
#include <string>
#include <vector>

#include "cli/replay.h"
#include "cli/vector_stream.h"
#include "files/value_lines.h"

namespace {

struct Read {
    ValueReadResult result;
    std::vector<ValueRow> rows;
};

Read ReadAll(const std::string& text, int perRow) {
    std::istringstream in(text);
    Read read;
    read.result = ReadValueLines(in, perRow, [&](const ValueRow& row) {
        read.rows.push_back(row);
        return true;
    });
    return read;
}

const std::string kRecordingHeader =
    "time\tt_ms\tin1\tin2\tin3\tin4\tin5\tin6\tin7\tin8\tout1\tout2\tout3\tout4\tout5\tout6\tout7"
    "\tout8\tmode\n";
const std::string kRecordingLine =
    "2026-12-08T23:40:01.123+01:00\t250\t1\t2\t3\t4\t5\t6\t7\t8\t9\t10\t11\t12\t13\t14\t15\t16"
    "\tmonitor\n";

TEST(ValueLines, AcceptWhatIsUnambiguousAndRefuseTheRestWithTheLine) {
    struct {
        std::string text;
        int perRow;
        std::size_t rows;     // before the error, if any
        std::string error;    // "" when the whole text reads
        std::uint16_t first;  // values[0] of the last row
        std::uint16_t last;   // values[perRow - 1] of the last row
    } cases[] = {
        {"+8 2 3 4 5 6 7 9\n", 8, 1, "", 8, 9},  // a '+' sign everywhere
        {"\xEF\xBB\xBF"
         "1 2 3 4 5 6 7 8\r\n",
         8, 1, "", 1, 8},                                // BOM, CR LF
        {"1,2,3,4,5,6,7,8\n", 8, 1, "", 1, 8},           // CSV
        {"1, 2 ,3,4,5,6,7,8,\n,,,,\n", 8, 1, "", 1, 8},  // blanks, trailing comma, empty row
        {"in1,in2\n1,,3,4,5,6,7,8\n", 8, 0, "line 2: field 2 is empty", 0, 0},
        {",1,2,3,4,5,6,7,8\n", 8, 0, "line 1: field 1 is empty", 0, 0},
        {"1 2 3 4 5 6 7 8\n3.5 1 1 1 1 1 1 1\n", 8, 1, "line 2: '3.5' is not a number", 1, 8},
        {"1;2;3;4;5;6;7;8\n", 8, 0, "line 1: '1;2;3;4;5;6;7;8' is not a number", 0, 0},
        {"# a comment\n" + kRecordingHeader + kRecordingLine, 16, 1, "", 1, 16},
        {kRecordingLine, 8, 1, "", 1, 8},  // simulate takes recordings too
        // The header chooses the columns: a pandas index first, outputs and inputs mixed.
        {",out1,in1,out2,in2,in3,in4,in5,in6,in7,in8,out3,out4,out5,out6,out7,out8\n"
         "0,90,1,91,2,3,4,5,6,7,8,92,93,94,95,96,97\n",
         16, 1, "", 1, 97},
        {"in2 in1 in3 in4 in5 in6 in7 in8\n20 10 30 40 50 60 70 80\n", 8, 1, "", 10, 80},
        {"in1 in1 in3 in4 in5 in6 in7 in8\n20 10 30 40 50 60 70 80\n", 8, 1, "", 20, 80},
        {"2026-12-08T23:40:01.123+01:00\n", 16, 0, "line 1: no t_ms after the time", 0, 0},
        {"2026-12-08T23:40:01.123+01:00 99999999999999999999 1\n", 16, 0,
         "line 1: t_ms '99999999999999999999' is not a count of milliseconds", 0, 0},
        {"1 2 3 4 5 6 7 8\n", 16, 0, "line 1: expected 16 values, found 8", 0, 0},
        // Below the first row a line that is no row is an error, never a header
        // skipped in silence: the letter O for a zero, a letter l for a one, "-+1".
        {"1 2 3 4 5 6 7 8\nO1 2 3 4 5 6 7 8\n", 8, 1,
         "line 2: 'O1' is not a number (header lines come before the first row)", 1, 8},
        {"1 2 3 4 5 6 7 8\nl 2 3 4 5 6 7 8\n", 8, 1,
         "line 2: 'l' is not a number (header lines come before the first row)", 1, 8},
        {"1 2 3 4 5 6 7 8\n-+1 2 3 4 5 6 7 8\n", 8, 1,
         "line 2: '-+1' is not a number (header lines come before the first row)", 1, 8},
        {"1 2 3 4 5 6 7 8\n" + kRecordingHeader, 8, 1,
         "line 2: 'time' is not a number (header lines come before the first row)", 1, 8},
        // Files joined with cat: a byte-order mark that does not start the input.
        {"in1 in2 in3 in4 in5 in6 in7 in8\n\xEF\xBB\xBF"
         "1 2 3 4 5 6 7 8\n",
         8, 0, "line 2: a byte-order mark that does not start the input (files joined?)", 0, 0},
        {"1 2 3 4 5 6 7 8\n\xEF\xBB\xBF"
         "1 2 3 4 5 6 7 8\n",
         8, 1, "line 2: a byte-order mark that does not start the input (files joined?)", 1, 8},
        // Blank lines and headers before the first row still pass.
        {"\n# notes\n\nin1 in2 in3 in4 in5 in6 in7 in8\n1 2 3 4 5 6 7 8\n\n", 8, 1, "", 1, 8},
    };
    for (const auto& c : cases) {
        const Read read = ReadAll(c.text, c.perRow);
        EXPECT_EQ(read.result.error, c.error) << c.text;
        EXPECT_EQ(read.rows.size(), c.rows) << c.text;
        if (!read.rows.empty()) {
            EXPECT_EQ(read.rows.back().values[0], c.first) << c.text;
            EXPECT_EQ(read.rows.back().values[c.perRow - 1], c.last) << c.text;
        }
    }
}

// One recording line through every front end gives the same values.
TEST(ValueLines, EveryReaderTakesTheSameValuesFromALine) {
    const std::string text = "\xEF\xBB\xBF" + kRecordingHeader + kRecordingLine;
    std::istringstream vectors(text);
    std::ostringstream out;
    const StreamResult streamed =
        StreamVectors(vectors, out, [](const NetInputs& v) { return NetOutputs(v); });
    ASSERT_TRUE(streamed.ok) << streamed.error;
    EXPECT_EQ(out.str(), "1\t2\t3\t4\t5\t6\t7\t8\n");

    std::istringstream recording(text);
    Replay replay;
    std::string error;
    ASSERT_TRUE(replay.Read(recording, error)) << error;
    EXPECT_TRUE(replay.Timed());
    EXPECT_EQ(replay.First().ms, 250);
    EXPECT_EQ(replay.First().inputs, (NetInputs{1, 2, 3, 4, 5, 6, 7, 8}));
    EXPECT_EQ(replay.First().outputs, (NetOutputs{9, 10, 11, 12, 13, 14, 15, 16}));
}

TEST(ValueLines, ReplayKeepsItsRhythmAtTheEndOfTheTimeRange) {
    const std::int64_t max = std::numeric_limits<std::int64_t>::max();
    std::string text;
    for (const std::int64_t ms : {std::int64_t{0}, max - 1, max}) {
        text += "2026-12-08T23:40:01.123+01:00 " + std::to_string(ms) + " " +
                std::to_string(ms == 0     ? 1
                               : ms == max ? 3
                                           : 2) +
                " 0 0 0 0 0 0 0 0 0 0 0 0 0 0 0\n";
    }
    std::istringstream in(text);
    Replay replay;
    std::string error;
    ASSERT_TRUE(replay.Read(in, error)) << error;
    EXPECT_EQ(replay.At(0).inputs[0], 1);
    EXPECT_EQ(replay.At(max - 2).inputs[0], 1);
    EXPECT_EQ(replay.At(max - 1).inputs[0], 2);
    EXPECT_EQ(replay.At(max).inputs[0], 3);
}

}  // namespace
