#include "cli/replay.h"

#include <algorithm>
#include <istream>

#include "files/value_lines.h"

namespace {

// A recording of days is still far below this; a larger file is no recording.
constexpr std::size_t kMaxLines = 4'000'000;

}  // namespace

bool Replay::Read(std::istream& in, std::string& error) {
    lines_.clear();
    next_ = 0;
    bool first = true;
    std::string mixed;
    const ValueReadResult read = ReadValueLines(in, kMaxRowValues, [&](const ValueRow& row) {
        if (first) {
            timed_ = row.timed;
            first = false;
        } else if (row.timed != timed_) {
            mixed = "line " + std::to_string(row.line) + ": time columns on some lines only";
            return false;
        }
        if (lines_.size() == kMaxLines) {
            mixed = "more than " + std::to_string(kMaxLines) + " lines";
            return false;
        }
        lines_.push_back({row.ms, row.Inputs(), row.Outputs()});
        return true;
    });
    switch (read.status) {
        case ValueReadResult::Status::Ok:
            break;
        case ValueReadResult::Status::Stopped:
            error = mixed;
            return false;
        case ValueReadResult::Status::BadLine:
            error = read.error;
            return false;
        case ValueReadResult::Status::ReadError:
            error = "read error";
            return false;
    }
    if (lines_.empty()) {
        error = "no line with values";
        return false;
    }
    if (timed_) {
        // A recording's t_ms never goes back; a hand-edited one is put in order.
        std::stable_sort(lines_.begin(), lines_.end(),
                         [](const ReplayLine& a, const ReplayLine& b) { return a.ms < b.ms; });
    }
    return true;
}

const ReplayLine& Replay::Next() {
    const ReplayLine& line = lines_[next_];
    next_ = (next_ + 1) % lines_.size();
    return line;
}

const ReplayLine& Replay::At(std::int64_t elapsedMs) const {
    // Relative to the first line and unsigned: t_ms anywhere in 0..INT64_MAX, and a
    // span up to twice that, cannot overflow.
    const std::uint64_t first = static_cast<std::uint64_t>(lines_.front().ms);
    const std::uint64_t last = static_cast<std::uint64_t>(lines_.back().ms) - first;
    // One more pass period at the end, so the last line gets its time too.
    const std::uint64_t span = last + 1 + (lines_.size() > 1 ? last / (lines_.size() - 1) : 0);
    const std::uint64_t t = static_cast<std::uint64_t>(elapsedMs < 0 ? 0 : elapsedMs) % span;
    auto it = std::upper_bound(lines_.begin(), lines_.end(), t,
                               [first](std::uint64_t v, const ReplayLine& l) {
                                   return v < static_cast<std::uint64_t>(l.ms) - first;
                               });
    return it == lines_.begin() ? *it : *(it - 1);
}
