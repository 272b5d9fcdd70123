#include "cli/vector_stream.h"

#include <array>
#include <cerrno>
#include <charconv>
#include <cstring>
#include <istream>
#include <ostream>
#include <vector>

namespace {

bool IsBlank(char c) {
    return c == ' ' || c == '\t' || c == '\r' || c == '\v' || c == '\f';
}

// Next whitespace-delimited field of `line` from `pos`; empty at the end.
std::string_view NextField(std::string_view line, std::size_t& pos) {
    while (pos < line.size() && IsBlank(line[pos])) ++pos;
    const std::size_t start = pos;
    while (pos < line.size() && !IsBlank(line[pos])) ++pos;
    return line.substr(start, pos - start);
}

// A field is a number when it is an optional sign followed by decimal digits only.
bool ParseNumber(std::string_view field, long long& value) {
    if (!field.empty() && field.front() == '+') field.remove_prefix(1);
    if (field.empty() || field.front() == '+') return false;
    const auto [end, ec] = std::from_chars(field.data(), field.data() + field.size(), value);
    if (end != field.data() + field.size()) return false;
    if (ec == std::errc::result_out_of_range) {
        value = field.front() == '-' ? -1 : 1LL << 40;  // any value out of 0..255
        return true;
    }
    return ec == std::errc();
}

// The field as the messages show it: a huge field must not make a huge message.
std::string Quote(std::string_view field) {
    if (field.size() <= kMaxQuotedField) return std::string(field);
    return std::string(field.substr(0, kMaxQuotedField)) + "...";
}

// Parses one line fed in pieces of any size, for the lines that cross a read
// chunk: only the current field's first characters are kept (for the messages),
// so a line of any length parses whole in constant memory and a long run of
// blanks or leading zeros cannot change a value. It gives what ParseInputLine
// gives for the whole line (the fuzz target compares the two).
//
// A field is a number when it is an optional '+', an optional '-' and decimal
// digits only ("-0" is 0).
class LineParser {
public:
    explicit LineParser(NetInputs& inputs) : inputs_(inputs) {}

    void Reset() {
        inField_ = false;
        decided_ = false;
        count_ = 0;
    }

    // True once the line's kind no longer depends on the rest of it.
    bool Feed(std::string_view piece) {
        for (const char c : piece) {
            if (decided_) return true;
            if (IsBlank(c)) {
                if (inField_) EndField();
            } else {
                if (!inField_) StartField();
                Take(c);
            }
        }
        return decided_;
    }

    // At the line's end.
    [[nodiscard]] LineKind Finish(std::string& error) {
        if (!decided_ && inField_) EndField();
        if (!decided_) {
            if (count_ == 0) return LineKind::Skip;
            error = "expected " + std::to_string(NET_INPUT_COUNT) + " values, found " +
                    std::to_string(count_);
            return LineKind::Error;
        }
        if (kind_ == LineKind::Error) error = std::move(error_);
        return kind_;
    }

private:
    enum class State { Start, AfterPlus, AfterMinus, Digits, NotANumber };
    static constexpr unsigned kOutOfRange = 256;

    void StartField() {
        inField_ = true;
        state_ = State::Start;
        negative_ = false;
        value_ = 0;
        quoted_ = 0;
    }

    void Take(char c) {
        if (quoted_ <= kMaxQuotedField) quote_[quoted_++] = c;  // one more shows the cut
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
            case State::Digits:
                if (c < '0' || c > '9') {
                    state_ = State::NotANumber;
                    return;
                }
                value_ = value_ * 10 + static_cast<unsigned>(c - '0');
                if (value_ > kOutOfRange) value_ = kOutOfRange;
                state_ = State::Digits;
                return;
            case State::NotANumber:
                return;
        }
    }

    void EndField() {
        inField_ = false;
        if (state_ != State::Digits) {
            if (count_ == 0) {
                Decide(LineKind::Skip);
            } else {
                Decide(LineKind::Error, "'" + Quote() + "' is not a number");
            }
            return;
        }
        if (value_ >= kOutOfRange || (negative_ && value_ != 0)) {
            Decide(LineKind::Error, "value " + Quote() + " is outside 0..255");
            return;
        }
        inputs_[count_++] = static_cast<std::uint16_t>(value_);
        if (count_ == NET_INPUT_COUNT) Decide(LineKind::Vector);
    }

    void Decide(LineKind kind, std::string error = {}) {
        decided_ = true;
        kind_ = kind;
        error_ = std::move(error);
    }

    // The field as the messages show it: a huge field must not make a huge message.
    [[nodiscard]] std::string Quote() const {
        if (quoted_ <= kMaxQuotedField) return std::string(quote_, quoted_);
        return std::string(quote_, kMaxQuotedField) + "...";
    }

    NetInputs& inputs_;
    int count_ = 0;  // values parsed so far
    bool decided_ = false;
    LineKind kind_ = LineKind::Skip;
    std::string error_;
    bool inField_ = false;
    State state_ = State::Start;
    bool negative_ = false;
    unsigned value_ = 0;  // saturates at kOutOfRange
    std::size_t quoted_ = 0;
    char quote_[kMaxQuotedField + 1];
};

class OutputBuffer {
public:
    explicit OutputBuffer(std::ostream& out) : out_(out) { buffer_.reserve(kCapacity); }
    ~OutputBuffer() { Flush(); }
    OutputBuffer(const OutputBuffer&) = delete;
    OutputBuffer& operator=(const OutputBuffer&) = delete;

    void WriteLine(const NetOutputs& outputs) {
        if (buffer_.size() + kMaxLine > kCapacity) Flush();
        for (int m = 0; m < NET_OUTPUT_COUNT; ++m) {
            char digits[8];
            const auto [end, ec] = std::to_chars(digits, digits + sizeof digits, outputs[m]);
            buffer_.append(digits, end);
            buffer_.push_back(m + 1 < NET_OUTPUT_COUNT ? '\t' : '\n');
        }
    }

    void Flush() {
        if (buffer_.empty()) return;
        out_.write(buffer_.data(), static_cast<std::streamsize>(buffer_.size()));
        buffer_.clear();
    }

private:
    static constexpr std::size_t kCapacity = 1 << 16;
    static constexpr std::size_t kMaxLine = 8 * 6;
    std::ostream& out_;
    std::string buffer_;
};

}  // namespace

LineKind ParseInputLine(std::string_view line, NetInputs& inputs, std::string& error) {
    std::size_t pos = 0;
    for (int i = 0; i < NET_INPUT_COUNT; ++i) {
        const std::string_view field = NextField(line, pos);
        long long value = 0;
        if (field.empty()) {
            if (i == 0) return LineKind::Skip;
            error = "expected " + std::to_string(NET_INPUT_COUNT) + " values, found " +
                    std::to_string(i);
            return LineKind::Error;
        }
        if (!ParseNumber(field, value)) {
            if (i == 0) return LineKind::Skip;
            error = "'" + Quote(field) + "' is not a number";
            return LineKind::Error;
        }
        if (value < 0 || value > 255) {
            error = "value " + Quote(field) + " is outside 0..255";
            return LineKind::Error;
        }
        inputs[i] = static_cast<std::uint16_t>(value);
    }
    return LineKind::Vector;
}

StreamResult ReadVectors(const ChunkReader& read, const VectorSink& sink) {
    StreamResult result;
    std::vector<char> chunk(1 << 16);
    std::size_t lineNumber = 0;
    NetInputs inputs{};
    LineParser parser(inputs);
    bool decided = false;  // the rest of the current line does not matter
    bool unfinished = false;

    // A line within one chunk is parsed in place; one that crosses chunks is fed
    // to the parser piece by piece.
    auto finishLine = [&](const std::string_view* whole) {
        ++lineNumber;
        std::string error;
        const LineKind kind = whole ? ParseInputLine(*whole, inputs, error) : parser.Finish(error);
        parser.Reset();
        decided = false;
        unfinished = false;
        switch (kind) {
            case LineKind::Vector:
                sink(inputs);
                ++result.vectors;
                return true;
            case LineKind::Skip:
                return true;
            case LineKind::Error:
                result.ok = false;
                result.error = "line " + std::to_string(lineNumber) + ": " + error;
                return false;
        }
        return false;
    };

    for (;;) {
        const long got = read(chunk.data(), chunk.size());
        if (got < 0) {
            // The line the error cut is not evaluated: its last value may be cut too.
            result.ok = false;
            result.error = std::string("error reading the inputs: ") + std::strerror(errno);
            return result;
        }
        if (got == 0) break;
        std::string_view data(chunk.data(), static_cast<std::size_t>(got));
        for (std::size_t nl = data.find('\n'); nl != std::string_view::npos; nl = data.find('\n')) {
            const std::string_view line = data.substr(0, nl);
            if (!unfinished) {
                if (!finishLine(&line)) return result;
            } else {
                if (!decided) parser.Feed(line);
                if (!finishLine(nullptr)) return result;
            }
            data.remove_prefix(nl + 1);
        }
        if (!data.empty()) {
            if (!decided) decided = parser.Feed(data);
            unfinished = true;
        }
    }
    if (unfinished) (void)finishLine(nullptr);
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

StreamResult ReadVectors(std::istream& in, const VectorSink& sink) {
    return ReadVectors(StreamReader(in), sink);
}

StreamResult StreamVectors(const ChunkReader& read, std::ostream& out,
                           const VectorEvaluator& evaluate) {
    OutputBuffer output(out);
    return ReadVectors(read, [&](const NetInputs& inputs) { output.WriteLine(evaluate(inputs)); });
}

StreamResult StreamVectors(std::istream& in, std::ostream& out, const VectorEvaluator& evaluate) {
    return StreamVectors(StreamReader(in), out, evaluate);
}
