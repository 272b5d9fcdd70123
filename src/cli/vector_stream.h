#pragma once
// Streaming of input vectors (text lines) through an evaluator into output lines.
// Constant memory for any input length; used by `pelkora-cli simulate` and
// `pelkora-cli quantize`.

#include <cstddef>
#include <functional>
#include <iosfwd>
#include <string>
#include <string_view>

#include "network/weights.h"

enum class LineKind {
    Vector,  // 8 values parsed
    Skip,    // blank line, or first field not a number (a training file's header)
    Error,   // a value out of 0..255, a non-number among the first 8, or fewer than 8
};

// Parses one line (without its line end). On Error, `error` says what is wrong.
[[nodiscard]] LineKind ParseInputLine(std::string_view line, NetInputs& inputs, std::string& error);

using VectorEvaluator = std::function<NetOutputs(const NetInputs&)>;

struct StreamResult {
    bool ok = true;
    std::size_t vectors = 0;
    std::string error;  // "line N: ..." or "error reading the input" when !ok
};

using VectorSink = std::function<void(const NetInputs&)>;

// Reads lines from `in` until its end and hands every vector to `sink`. Stops at
// the first bad line or read error; the vectors before it have been handed on.
[[nodiscard]] StreamResult ReadVectors(std::istream& in, const VectorSink& sink);

// Reads lines from `in` until its end, writes one TAB-separated line of 8 outputs
// per vector to `out`. Stops at the first bad line; lines before it are written.
[[nodiscard]] StreamResult StreamVectors(std::istream& in, std::ostream& out,
                                         const VectorEvaluator& evaluate);
