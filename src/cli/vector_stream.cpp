#include "cli/vector_stream.h"

#include <array>
#include <charconv>
#include <exception>
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
            error = "'" + std::string(field) + "' is not a number";
            return LineKind::Error;
        }
        if (value < 0 || value > 255) {
            error = "value " + std::string(field) + " is outside 0..255";
            return LineKind::Error;
        }
        inputs[i] = static_cast<std::uint16_t>(value);
    }
    return LineKind::Vector;
}

StreamResult ReadVectors(std::istream& in, const VectorSink& sink) {
    StreamResult result;
    std::streambuf* source = in.rdbuf();
    std::vector<char> chunk(1 << 16);
    std::string carry;  // an unfinished line from the previous chunk
    std::size_t lineNumber = 0;

    auto handleLine = [&](std::string_view line) {
        ++lineNumber;
        NetInputs inputs{};
        std::string error;
        switch (ParseInputLine(line, inputs, error)) {
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
        std::streamsize got = 0;
        // A file buffer reports read errors (EIO, a folder opened as a file) by throwing
        // from underflow: an ordinary failure here, never an exception to the caller.
        try {
            got = source ? source->sgetn(chunk.data(), chunk.size()) : 0;
        } catch (const std::exception&) {
            result.ok = false;
            result.error = "error reading the input";
            return result;
        }
        if (got <= 0) break;
        std::string_view data(chunk.data(), static_cast<std::size_t>(got));
        for (std::size_t nl = data.find('\n'); nl != std::string_view::npos; nl = data.find('\n')) {
            bool ok;
            if (carry.empty()) {
                ok = handleLine(data.substr(0, nl));
            } else {
                carry.append(data.substr(0, nl));
                ok = handleLine(carry);
                carry.clear();
            }
            if (!ok) return result;
            data.remove_prefix(nl + 1);
        }
        // A single line longer than any sane input still streams: only its first
        // fields matter, so keep a bounded prefix of it.
        constexpr std::size_t kMaxCarry = 1 << 16;
        if (carry.size() < kMaxCarry) carry.append(data.substr(0, kMaxCarry - carry.size()));
    }
    if (!carry.empty()) handleLine(carry);
    return result;
}

StreamResult StreamVectors(std::istream& in, std::ostream& out, const VectorEvaluator& evaluate) {
    OutputBuffer output(out);
    return ReadVectors(in, [&](const NetInputs& inputs) { output.WriteLine(evaluate(inputs)); });
}
