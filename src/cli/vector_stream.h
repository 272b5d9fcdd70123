#pragma once
// Streaming of input vectors (text lines) through an evaluator into output lines.
// Constant memory for any input length; used by `pelkora-cli simulate`.

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
    std::string error;  // "line N: ..." when !ok
};

// Reads lines from `in` until its end, writes one TAB-separated line of 8 outputs
// per vector to `out`. Stops at the first bad line; lines before it are written.
[[nodiscard]] StreamResult StreamVectors(std::istream& in, std::ostream& out,
                                         const VectorEvaluator& evaluate);
