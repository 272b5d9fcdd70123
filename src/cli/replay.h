#pragma once
// A recording played back by the virtual module (`pelkora-cli target --replay`):
// rows of 16 values read as files/value_lines.h reads them -- a window recording or
// `--timestamps` output (time, t_ms, 8 inputs, 8 outputs, maybe more columns),
// `monitor` output, a training file (8 inputs, 8 outputs).
//
// Thread rules: none of its own; one thread at a time.

#include <cstdint>
#include <iosfwd>
#include <string>
#include <vector>

#include "network/weights.h"

struct ReplayLine {
    std::int64_t ms = 0;  // t_ms when the recording has time columns, else 0
    NetInputs inputs{};
    NetOutputs outputs{};
};

class Replay {
public:
    // Reads every line of `in`. False with `error` ("line N: ...") on a line that
    // is neither skipped nor a row of 16 values, on rows with and without time
    // columns mixed, or when no line has values.
    [[nodiscard]] bool Read(std::istream& in, std::string& error);

    [[nodiscard]] bool Timed() const { return timed_; }
    [[nodiscard]] std::size_t Size() const { return lines_.size(); }

    [[nodiscard]] const ReplayLine& First() const { return lines_.front(); }
    // The next line, one per exchange, from the first again after the last.
    [[nodiscard]] const ReplayLine& Next();
    // The line due `elapsedMs` after the start at the recorded rhythm (Timed() only),
    // looping over the recording's length.
    [[nodiscard]] const ReplayLine& At(std::int64_t elapsedMs) const;

private:
    std::vector<ReplayLine> lines_;
    bool timed_ = false;
    std::size_t next_ = 0;
};
