#include "cli/vector_stream.h"

#include <charconv>
#include <istream>
#include <ostream>
#include <sstream>

namespace {

class OutputBuffer {
public:
    explicit OutputBuffer(std::ostream& out) : out_(out) { buffer_.reserve(kCapacity); }
    ~OutputBuffer() { Flush(); }
    OutputBuffer(const OutputBuffer&) = delete;
    OutputBuffer& operator=(const OutputBuffer&) = delete;

    // False once the stream has failed: there is no point in computing more.
    bool WriteLine(const NetOutputs& outputs) {
        if (buffer_.size() + kMaxLine > kCapacity && !Flush()) return false;
        for (int m = 0; m < NET_OUTPUT_COUNT; ++m) {
            char digits[8];
            const auto [end, ec] = std::to_chars(digits, digits + sizeof digits, outputs[m]);
            buffer_.append(digits, end);
            buffer_.push_back(m + 1 < NET_OUTPUT_COUNT ? '\t' : '\n');
        }
        return true;
    }

    bool Flush() {
        if (!buffer_.empty()) {
            out_.write(buffer_.data(), static_cast<std::streamsize>(buffer_.size()));
            buffer_.clear();
        }
        return static_cast<bool>(out_);
    }

private:
    static constexpr std::size_t kCapacity = 1 << 16;
    static constexpr std::size_t kMaxLine = 8 * 6;
    std::ostream& out_;
    std::string buffer_;
};

StreamResult FromValueResult(const ValueReadResult& read) {
    StreamResult result;
    result.vectors = read.rows;
    switch (read.status) {
        case ValueReadResult::Status::Ok:
            break;
        case ValueReadResult::Status::BadLine:
            result.ok = false;
            result.error = read.error;
            break;
        case ValueReadResult::Status::ReadError:
            result.ok = false;
            result.error = "error reading the inputs: " + read.error;
            break;
        case ValueReadResult::Status::Stopped:
            result.ok = false;
            result.outputFailed = true;
            result.error = "error writing the outputs";
            break;
    }
    return result;
}

}  // namespace

LineKind ParseInputLine(std::string_view line, NetInputs& inputs, std::string& error) {
    ValueLineParser parser(NET_INPUT_COUNT);
    (void)parser.Feed(line);
    ValueRow row;
    switch (parser.Finish(row, error)) {
        case ValueLineKind::Row:
            inputs = row.Inputs();
            return LineKind::Vector;
        case ValueLineKind::Skip:
            return LineKind::Skip;
        case ValueLineKind::Error:
            break;
    }
    inputs = row.Inputs();  // the values before the fault, as a caller may show them
    return LineKind::Error;
}

StreamResult ReadVectors(const ChunkReader& read, const VectorSink& sink) {
    return FromValueResult(ReadValueLines(read, NET_INPUT_COUNT, [&](const ValueRow& row) {
        sink(row.Inputs());
        return true;
    }));
}

namespace {

// Evaluates each vector of `source` (a chunk reader or a stream) into `out`.
template <typename Source>
StreamResult EvaluateLines(Source& source, std::ostream& out, const VectorEvaluator& evaluate) {
    OutputBuffer output(out);
    StreamResult result =
        FromValueResult(ReadValueLines(source, NET_INPUT_COUNT, [&](const ValueRow& row) {
            return output.WriteLine(evaluate(row.Inputs()));
        }));
    if (result.ok && !output.Flush()) {
        result.ok = false;
        result.outputFailed = true;
        result.error = "error writing the outputs";
    }
    return result;
}

}  // namespace

StreamResult StreamVectors(const ChunkReader& read, std::ostream& out,
                           const VectorEvaluator& evaluate) {
    return EvaluateLines(read, out, evaluate);
}

StreamResult StreamVectors(std::istream& in, std::ostream& out, const VectorEvaluator& evaluate) {
    return EvaluateLines(in, out, evaluate);
}
