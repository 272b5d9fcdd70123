#pragma once
// Lines of values: the one reader of the text files whose rows are bytes -- input
// vectors (`pelkora-cli simulate` and `quantize --vectors`), training files, window
// recordings, `monitor` and `--timestamps` output (`target --replay`, training).
// Every reader of such lines goes through here, so a line means the same to each.
//
// The grammar:
// - Lines end at LF; CR, space, TAB, VT and FF are blanks. A UTF-8 byte-order mark
//   at the very start of the input is skipped; one at the start of a later line
//   (files joined with cat) is an error.
// - Fields are separated by blanks and by commas, so CSV lines read as they look. A
//   comma that follows the line's start or another comma with only blanks between
//   them marks an empty field: where a value belongs that is an error, never a
//   shifted row. A line of nothing but blanks and commas is blank.
// - A number is an optional '+', an optional '-' and decimal digits: "+8" is 8,
//   "010" is 10, "-0" is 0. Values lie in 0..255; t_ms in 0..INT64_MAX.
// - What a line is depends on its first field:
//     none                        a blank line: skipped
//     a number                    a row: its values are the first N fields
//     a time (2026-12-08T23:40:01.123+01:00 or any field with '-' at 4, 'T' at
//     10, ':' at 13)              a timed row: t_ms is the second field, the N
//                                 values follow
//     something that starts like a number (a digit, or '+', '-' or '.' before a
//     digit) but is none          an error ("3.5", "1;2;3", "12:00:01")
//     anything else               before the first row, a header line: skipped;
//                                 after it, an error (a header names the columns
//                                 of the rows below it, so it comes first)
//   N is 8 (inputs) or 16 (in1..in8 then out1..out8); fields after them are not
//   read. A header line that names every column the rows need (in1..in8, and
//   out1..out8 for 16 values) each once takes the values of the rows after it from
//   the columns so named, and t_ms from the column named t_ms (which makes the
//   rows timed); the other columns are not read. Another header line naming them
//   replaces it; one that does not leaves it.
// - Lines of any length parse whole in constant memory; a message quotes at most
//   kMaxQuotedField characters of a field.
//
// Thread rules: none of its own; a parser belongs to one thread.

#include <array>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <iosfwd>
#include <string>
#include <string_view>
#include <vector>

#include "network/weights.h"

constexpr int kMaxRowValues = NET_INPUT_COUNT + NET_OUTPUT_COUNT;
constexpr std::size_t kMaxQuotedField = 40;

struct ValueRow {
    std::size_t line = 0;  // counted from 1
    bool timed = false;    // `ms` came from a t_ms column
    std::int64_t ms = 0;
    // in1..in8, out1..out8; only the first N are set.
    std::array<std::uint16_t, kMaxRowValues> values{};

    [[nodiscard]] NetInputs Inputs() const;
    [[nodiscard]] NetOutputs Outputs() const;
};

enum class ValueLineKind {
    Row,    // the values parsed
    Skip,   // blank or header line
    Error,  // what is wrong is in the error text
};

// Parses the lines of one input in turn, each fed in pieces of any size. It keeps
// what a header line says for the lines after it.
class ValueLineParser {
public:
    // `valuesPerRow`: NET_INPUT_COUNT or kMaxRowValues.
    explicit ValueLineParser(int valuesPerRow);

    // Feeds part of the current line (no LF). True once the line's kind no longer
    // depends on the rest of it, which then need not be fed.
    bool Feed(std::string_view piece);
    // At the line's end: its kind; `row` (numbered) for a Row; for an Error the
    // reason without the line number in `error`, and in `row` the values before the
    // fault. Readies the parser for the next line.
    [[nodiscard]] ValueLineKind Finish(ValueRow& row, std::string& error);
    // A whole line (no LF) that is a plain row -- the first N fields decimal digits
    // of 0..255 -- read at once: true with `row` as Feed and Finish would give it.
    // False, having taken nothing, for any other line, which then goes through
    // Feed and Finish. Only between lines.
    [[nodiscard]] bool TryPlainRow(std::string_view line, ValueRow& row);
    // The number of the line Finish last ended, counted from 1.
    [[nodiscard]] std::size_t LineNumber() const { return lineNumber_; }

private:
    enum class State { Start, AfterPlus, AfterMinus, Digits, NotANumber };
    enum class LineType { Unknown, Data, Header };
    static constexpr int kIgnore = -1;
    static constexpr int kMs = kMaxRowValues;
    static constexpr std::size_t kMaxHeaderColumns = 1024;

    void Take(char c);
    void EndField(bool empty);
    void DataField(int role, bool empty);
    void HeaderField();
    void EndHeader();
    [[nodiscard]] int RoleOf(std::size_t column) const;
    [[nodiscard]] std::string Quote() const;
    [[nodiscard]] bool LooksLikeTime() const;
    [[nodiscard]] bool StartsLikeNumber() const;
    void Fail(std::string error);

    const int needed_;
    std::size_t lineNumber_ = 0;
    int bom_ = 0;           // bytes of the byte-order mark matched; -1 once past the start
    bool rowSeen_ = false;  // a row was read: no header line may follow

    // The columns a header chose (role per column: value index, kMs or kIgnore);
    // empty while the rows are read by position.
    std::vector<int> columns_;
    std::size_t lastColumn_ = 0;  // the last column that columns_ reads
    bool columnsHaveMs_ = false;  // columns_ reads a t_ms

    // The current line.
    LineType type_ = LineType::Unknown;
    bool decided_ = false;
    bool failed_ = false;
    std::string error_;
    std::size_t column_ = 0;  // of the field being read
    bool inField_ = false;
    bool fieldSinceComma_ = false;  // a field since the line's start or last comma
    bool emptyFirst_ = false;       // the line begins with an empty field
    bool timedLine_ = false;        // positional: a time first, t_ms second
    bool haveMs_ = false;
    int found_ = 0;  // values stored
    ValueRow row_;
    // Header names seen on this line: column of in1..in8, out1..out8, t_ms or -1;
    // a name seen twice makes the header choose nothing.
    std::array<long, kMaxRowValues + 1> named_{};
    bool namedTwice_ = false;

    // The current field.
    State state_ = State::Start;
    bool negative_ = false;
    std::uint64_t value_ = 0;  // saturates above INT64_MAX
    bool overflow_ = false;
    std::size_t length_ = 0;
    std::size_t quoted_ = 0;
    char quote_[kMaxQuotedField + 1] = {};
};

// Reads up to `size` bytes into `buffer`: returns the count, 0 at the end, or -1
// with errno set on a read error.
using ChunkReader = std::function<long(char* buffer, std::size_t size)>;
// Takes one row; false stops the reading (Status::Stopped).
using RowSink = std::function<bool(const ValueRow& row)>;

struct ValueReadResult {
    enum class Status { Ok, BadLine, ReadError, Stopped };
    Status status = Status::Ok;
    std::size_t rows = 0;  // handed to the sink
    // BadLine: "line N: reason"; ReadError: the cause (strerror).
    std::string error;
    [[nodiscard]] bool Ok() const { return status == Status::Ok; }
};

// Reads lines until the end of the input and hands every row to `sink`. Stops at
// the first bad line, read error or refusing sink; the rows before have been handed
// on, a last line cut by a read error has not (its last value may be cut too).
[[nodiscard]] ValueReadResult ReadValueLines(const ChunkReader& read, int valuesPerRow,
                                             const RowSink& sink);
// The same over a stream; one that goes bad is a read error.
[[nodiscard]] ValueReadResult ReadValueLines(std::istream& in, int valuesPerRow,
                                             const RowSink& sink);
