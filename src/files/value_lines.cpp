#include "files/value_lines.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <istream>
#include <limits>
#include <utility>

namespace {

constexpr char kByteOrderMark[] = "\xEF\xBB\xBF";
constexpr std::uint64_t kMaxNumber = std::numeric_limits<std::int64_t>::max();

bool IsBlank(char c) {
    return c == ' ' || c == '\t' || c == '\r' || c == '\v' || c == '\f';
}

bool IsSeparator(char c) {
    return IsBlank(c) || c == ',';
}

// Below this, ten times a value plus a digit stays far within kMaxNumber.
constexpr std::uint64_t kPlainLimit = kMaxNumber / 100;

bool IsDigit(char c) {
    return c >= '0' && c <= '9';
}

}  // namespace

NetInputs ValueRow::Inputs() const {
    NetInputs inputs{};
    for (int k = 0; k < NET_INPUT_COUNT; ++k) inputs[k] = values[k];
    return inputs;
}

NetOutputs ValueRow::Outputs() const {
    NetOutputs outputs{};
    for (int k = 0; k < NET_OUTPUT_COUNT; ++k) outputs[k] = values[NET_INPUT_COUNT + k];
    return outputs;
}

ValueLineParser::ValueLineParser(int valuesPerRow) : needed_(valuesPerRow) {
    named_.fill(-1);
}

bool ValueLineParser::Feed(std::string_view piece) {
    if (bom_ >= 0) {
        while (!piece.empty() && bom_ >= 0) {
            if (piece.front() != kByteOrderMark[bom_]) {
                // Not a mark after all: what matched belongs to the line.
                const int matched = bom_;
                bom_ = -1;
                Feed(std::string_view(kByteOrderMark, static_cast<std::size_t>(matched)));
                break;
            }
            piece.remove_prefix(1);
            if (++bom_ == 3) bom_ = -1;
        }
    }
    const char* p = piece.data();
    const char* const end = p + piece.size();
    while (p != end && !decided_) {
        const char c = *p;
        if (IsBlank(c)) {
            if (inField_) EndField(false);
            ++p;
        } else if (c == ',') {
            if (inField_) {
                EndField(false);
            } else if (!fieldSinceComma_) {
                EndField(true);
            }
            fieldSinceComma_ = false;
            ++p;
        } else {
            if (!inField_) {
                inField_ = true;
                state_ = State::Start;
                negative_ = false;
                value_ = 0;
                overflow_ = false;
                length_ = 0;
                quoted_ = 0;
            }
            // The rest of the field within this piece in one go.
            const char* field = p;
            if (state_ == State::Start || state_ == State::Digits) {
                // Plain digits, far from saturating: the common case, without the
                // state machine.
                while (p != end && IsDigit(*p) && value_ < kPlainLimit) {
                    value_ = value_ * 10 + static_cast<std::uint64_t>(*p - '0');
                    ++p;
                }
                if (p != field) state_ = State::Digits;
            }
            const char* stop = p;
            while (stop != end && !IsSeparator(*stop)) ++stop;
            length_ += static_cast<std::size_t>(stop - field);
            // One character more than a message shows, to show the cut.
            for (const char* q = field; q != stop && quoted_ <= kMaxQuotedField; ++q) {
                quote_[quoted_++] = *q;
            }
            for (; p != stop; ++p) Take(*p);
        }
    }
    return decided_;
}

void ValueLineParser::Take(char c) {
    switch (state_) {
        case State::Start:
            if (c == '+') {
                state_ = State::AfterPlus;
                return;
            }
            [[fallthrough]];
        case State::AfterPlus:
            if (c == '-') {
                negative_ = true;
                state_ = State::AfterMinus;
                return;
            }
            [[fallthrough]];
        case State::AfterMinus:
        case State::Digits: {
            if (!IsDigit(c)) {
                state_ = State::NotANumber;
                return;
            }
            // Saturates: leading zeros and long runs of digits cannot wrap a value.
            const auto digit = static_cast<std::uint64_t>(c - '0');
            if (value_ > (kMaxNumber - digit) / 10) {
                overflow_ = true;
            } else if (!overflow_) {
                value_ = value_ * 10 + digit;
            }
            state_ = State::Digits;
            return;
        }
        case State::NotANumber:
            return;
    }
}

void ValueLineParser::EndField(bool empty) {
    inField_ = false;
    if (!empty) fieldSinceComma_ = true;
    const std::size_t column = column_++;
    if (type_ == LineType::Data && columns_.empty() && !timedLine_ && !empty &&
        state_ == State::Digits && !negative_ && value_ <= 255 &&
        column < static_cast<std::size_t>(needed_)) {
        // The common case: a value of a row read by position.
        row_.values[column] = static_cast<std::uint16_t>(value_);
        if (++found_ == needed_) decided_ = true;
        return;
    }
    if (type_ == LineType::Unknown) {
        if (empty) {
            emptyFirst_ = true;  // a blank CSV line, a header's unnamed column or an error
            return;
        }
        const bool number = state_ == State::Digits;
        const bool time = !number && LooksLikeTime();
        if (quoted_ >= 3 && std::string_view(quote_, 3) == kByteOrderMark) {
            // Files joined with cat: the second one's mark is no text of a line.
            return Fail("a byte-order mark that does not start the input (files joined?)");
        }
        if (number || time || StartsLikeNumber()) {
            if (emptyFirst_) return Fail("field 1 is empty");
            if (!number && !time) return Fail("'" + Quote() + "' is not a number");
            type_ = LineType::Data;
            timedLine_ = time;
        } else if (rowSeen_) {
            // A header names the columns of the rows after it; below a row, a line
            // that is no row is a fault of the file, never skipped in silence.
            return Fail("'" + Quote() +
                        "' is not a number (header lines come before the first row)");
        } else {
            type_ = LineType::Header;
        }
    }
    if (type_ == LineType::Header) {
        if (!empty) HeaderField();
        if (column_ >= kMaxHeaderColumns) decided_ = true;  // names further on choose nothing
        return;
    }
    DataField(RoleOf(column), empty);
}

int ValueLineParser::RoleOf(std::size_t column) const {
    if (!columns_.empty()) return column < columns_.size() ? columns_[column] : kIgnore;
    const std::size_t first = timedLine_ ? 2 : 0;
    if (timedLine_ && column == 1) return kMs;
    if (column >= first && column < first + static_cast<std::size_t>(needed_)) {
        return static_cast<int>(column - first);
    }
    return kIgnore;
}

void ValueLineParser::DataField(int role, bool empty) {
    const std::size_t column = column_ - 1;
    if (role != kIgnore && empty) return Fail("field " + std::to_string(column + 1) + " is empty");
    if (role == kMs) {
        if (state_ != State::Digits || overflow_ || (negative_ && value_ != 0)) {
            return Fail("t_ms '" + Quote() + "' is not a count of milliseconds");
        }
        row_.ms = static_cast<std::int64_t>(value_);
        haveMs_ = true;
    } else if (role != kIgnore) {
        if (state_ != State::Digits) return Fail("'" + Quote() + "' is not a number");
        if (overflow_ || value_ > 255 || (negative_ && value_ != 0)) {
            return Fail("value " + Quote() + " is outside 0..255");
        }
        row_.values[static_cast<std::size_t>(role)] = static_cast<std::uint16_t>(value_);
        ++found_;
    }
    // Whatever follows the last column read cannot change the row.
    if (!columns_.empty() ? column >= lastColumn_ : found_ == needed_) decided_ = true;
}

void ValueLineParser::HeaderField() {
    if (length_ > 4) return;  // no name of ours is longer
    const std::string_view name(quote_, length_);
    int slot = -1;
    if (name == "t_ms") {
        slot = kMs;
    } else if (name.size() == 3 && name.substr(0, 2) == "in" && name[2] >= '1' && name[2] <= '8') {
        slot = name[2] - '1';
    } else if (name.size() == 4 && name.substr(0, 3) == "out" && name[3] >= '1' && name[3] <= '8') {
        slot = NET_INPUT_COUNT + (name[3] - '1');
    }
    if (slot < 0 || (slot != kMs && slot >= needed_)) return;
    if (named_[static_cast<std::size_t>(slot)] >= 0) namedTwice_ = true;
    named_[static_cast<std::size_t>(slot)] = static_cast<long>(column_ - 1);
}

void ValueLineParser::EndHeader() {
    if (namedTwice_) return;
    long last = -1;
    for (int k = 0; k < needed_; ++k) {
        if (named_[static_cast<std::size_t>(k)] < 0) return;  // not a header of our columns
        last = std::max(last, named_[static_cast<std::size_t>(k)]);
    }
    last = std::max(last, named_[kMs]);
    columns_.assign(static_cast<std::size_t>(last) + 1, kIgnore);
    for (int k = 0; k < needed_; ++k) columns_[static_cast<std::size_t>(named_[k])] = k;
    if (named_[kMs] >= 0) columns_[static_cast<std::size_t>(named_[kMs])] = kMs;
    lastColumn_ = static_cast<std::size_t>(last);
    columnsHaveMs_ = named_[kMs] >= 0;
}

bool ValueLineParser::TryPlainRow(std::string_view line, ValueRow& row) {
    // Only between lines, with rows read by position and no mark to look for.
    if (bom_ >= 0 || !columns_.empty() || inField_ || column_ != 0 || type_ != LineType::Unknown) {
        return false;
    }
    const char* p = line.data();
    const char* const end = p + line.size();
    bool fieldSinceComma = false;
    for (int k = 0; k < needed_;) {
        if (p == end) return false;  // too few values: the full parser says so
        const char c = *p;
        if (IsBlank(c)) {
            ++p;
        } else if (c == ',') {
            if (!fieldSinceComma) return false;  // an empty field
            fieldSinceComma = false;
            ++p;
        } else {
            unsigned value = 0;
            const char* digits = p;
            while (p != end && IsDigit(*p) && value <= 255) {
                value = value * 10 + static_cast<unsigned>(*p - '0');
                ++p;
            }
            if (p == digits || value > 255 || (p != end && !IsSeparator(*p))) return false;
            row.values[static_cast<std::size_t>(k++)] = static_cast<std::uint16_t>(value);
            fieldSinceComma = true;
        }
    }
    ++lineNumber_;
    row.line = lineNumber_;
    row.timed = false;
    row.ms = 0;
    rowSeen_ = true;
    return true;
}

ValueLineKind ValueLineParser::Finish(ValueRow& row, std::string& error) {
    if (bom_ > 0) {
        const int matched = bom_;
        bom_ = -1;
        Feed(std::string_view(kByteOrderMark, static_cast<std::size_t>(matched)));
    }
    bom_ = -1;  // a mark counts at the start of the input only
    if (!decided_ && inField_) EndField(false);
    ++lineNumber_;

    ValueLineKind kind = ValueLineKind::Skip;
    const bool needMs = columns_.empty() ? timedLine_ : columnsHaveMs_;
    if (failed_) {
        kind = ValueLineKind::Error;
        error = std::move(error_);
    } else if (type_ == LineType::Header) {
        EndHeader();
    } else if (type_ == LineType::Data) {
        const bool msMissing = columns_.empty() ? timedLine_ && !haveMs_ : false;
        if (msMissing) {
            kind = ValueLineKind::Error;
            error = "no t_ms after the time";
        } else if (found_ < needed_ || (needMs && !haveMs_)) {
            kind = ValueLineKind::Error;
            error =
                "expected " + std::to_string(needed_) + " values, found " + std::to_string(found_);
        } else {
            kind = ValueLineKind::Row;
            rowSeen_ = true;
        }
    }
    if (kind != ValueLineKind::Skip) {
        row = row_;
        row.line = lineNumber_;
        row.timed = haveMs_;
    }

    if (type_ == LineType::Header) named_.fill(-1);
    type_ = LineType::Unknown;
    decided_ = false;
    failed_ = false;
    error_.clear();
    column_ = 0;
    inField_ = false;
    fieldSinceComma_ = false;
    emptyFirst_ = false;
    timedLine_ = false;
    haveMs_ = false;
    found_ = 0;
    row_ = ValueRow{};
    namedTwice_ = false;
    return kind;
}

std::string ValueLineParser::Quote() const {
    if (quoted_ <= kMaxQuotedField) return std::string(quote_, quoted_);
    return std::string(quote_, kMaxQuotedField) + "...";
}

bool ValueLineParser::LooksLikeTime() const {
    return length_ >= 19 && quote_[4] == '-' && quote_[10] == 'T' && quote_[13] == ':';
}

bool ValueLineParser::StartsLikeNumber() const {
    if (quoted_ == 0) return false;
    if (IsDigit(quote_[0])) return true;
    return (quote_[0] == '+' || quote_[0] == '-' || quote_[0] == '.') && quoted_ > 1 &&
           IsDigit(quote_[1]);
}

void ValueLineParser::Fail(std::string error) {
    failed_ = true;
    decided_ = true;
    error_ = std::move(error);
}

ValueReadResult ReadValueLines(const ChunkReader& read, int valuesPerRow, const RowSink& sink) {
    ValueReadResult result;
    ValueLineParser parser(valuesPerRow);
    std::vector<char> chunk(1 << 16);
    bool decided = false;     // the rest of the current line does not matter
    bool unfinished = false;  // bytes of a line not yet ended

    auto finishLine = [&] {
        ValueRow row;
        std::string error;
        const ValueLineKind kind = parser.Finish(row, error);
        decided = false;
        unfinished = false;
        if (kind == ValueLineKind::Error) {
            result.status = ValueReadResult::Status::BadLine;
            result.error = "line " + std::to_string(parser.LineNumber()) + ": " + error;
            return false;
        }
        if (kind == ValueLineKind::Row) {
            ++result.rows;
            if (!sink(row)) {
                result.status = ValueReadResult::Status::Stopped;
                return false;
            }
        }
        return true;
    };

    for (;;) {
        const long got = read(chunk.data(), chunk.size());
        if (got < 0) {
            result.status = ValueReadResult::Status::ReadError;
            result.error = std::strerror(errno);
            return result;
        }
        if (got == 0) break;
        std::string_view data(chunk.data(), static_cast<std::size_t>(got));
        while (!data.empty()) {
            const void* found = std::memchr(data.data(), '\n', data.size());
            const std::size_t end =
                found ? static_cast<std::size_t>(static_cast<const char*>(found) - data.data())
                      : data.size();
            if (found && !unfinished) {
                ValueRow row;
                if (parser.TryPlainRow(data.substr(0, end), row)) {
                    ++result.rows;
                    if (!sink(row)) {
                        result.status = ValueReadResult::Status::Stopped;
                        return result;
                    }
                    data.remove_prefix(end + 1);
                    continue;
                }
            }
            if (!decided) decided = parser.Feed(data.substr(0, end));
            unfinished = true;
            if (!found) break;
            if (!finishLine()) return result;
            data.remove_prefix(end + 1);
        }
    }
    if (unfinished) (void)finishLine();
    return result;
}

namespace {

// A stream as a chunk reader; a stream that goes bad is a read error.
ChunkReader StreamReader(std::istream& in) {
    return [&in](char* buffer, std::size_t size) -> long {
        if (in.bad()) {
            errno = EIO;
            return -1;
        }
        if (!in.good()) return 0;
        in.read(buffer, static_cast<std::streamsize>(size));  // a read that throws sets bad
        if (in.bad()) {
            errno = EIO;
            return -1;
        }
        return static_cast<long>(in.gcount());
    };
}

}  // namespace

ValueReadResult ReadValueLines(std::istream& in, int valuesPerRow, const RowSink& sink) {
    return ReadValueLines(StreamReader(in), valuesPerRow, sink);
}
