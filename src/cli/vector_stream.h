#pragma once
// Input vectors (lines of values, see files/value_lines.h) streamed through an
// evaluator into output lines. Constant memory for any input and line length;
// used by `pelkora-cli simulate` and `pelkora-cli quantize`.

#include <cstddef>
#include <functional>
#include <iosfwd>
#include <string>
#include <string_view>

#include "files/value_lines.h"
#include "network/weights.h"

enum class LineKind {
    Vector,  // 8 values parsed
    Skip,    // blank or header line
    Error,   // a value out of 0..255, a non-number among the first 8, or fewer than 8
};

// Parses one line (without its line end) on its own. On Error, `error` says what
// is wrong; a field it quotes is cut to its first kMaxQuotedField characters and "...".
[[nodiscard]] LineKind ParseInputLine(std::string_view line, NetInputs& inputs, std::string& error);

using VectorEvaluator = std::function<NetOutputs(const NetInputs&)>;

struct StreamResult {
    bool ok = true;
    std::size_t vectors = 0;
    // When !ok: "line N: ..." for a bad line, "error reading the inputs[: <errno text>]"
    // for a read error, "error writing the outputs" when the output stream failed.
    std::string error;
    bool outputFailed = false;
};

using VectorSink = std::function<void(const NetInputs&)>;

// Reads lines until the end of the input and hands every vector to `sink`. Stops
// at the first bad line or read error; the vectors before it have been handed on,
// an unfinished line cut by a read error has not.
[[nodiscard]] StreamResult ReadVectors(const ChunkReader& read, const VectorSink& sink);

// Reads lines until the end of the input, writes one TAB-separated line of 8
// outputs per vector to `out`. Stops at the first bad line, read error or failed
// write of `out`; lines before it are written, an unfinished line cut by a read
// error is not.
[[nodiscard]] StreamResult StreamVectors(const ChunkReader& read, std::ostream& out,
                                         const VectorEvaluator& evaluate);
// The same over a stream; one that goes bad is a read error.
[[nodiscard]] StreamResult StreamVectors(std::istream& in, std::ostream& out,
                                         const VectorEvaluator& evaluate);
