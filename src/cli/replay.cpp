#include "cli/replay.h"

#include <algorithm>
#include <charconv>
#include <istream>
#include <string_view>

namespace {

// A recording of days is still far below this; a larger file is no recording.
constexpr std::size_t kMaxLines = 4'000'000;
constexpr std::size_t kMaxLineLength = 4096;

std::vector<std::string_view> Fields(std::string_view line) {
    std::vector<std::string_view> fields;
    std::size_t pos = 0;
    while (pos < line.size()) {
        while (pos < line.size() && (line[pos] == ' ' || line[pos] == '\t' || line[pos] == '\r')) {
            ++pos;
        }
        const std::size_t start = pos;
        while (pos < line.size() && line[pos] != ' ' && line[pos] != '\t' && line[pos] != '\r') {
            ++pos;
        }
        if (pos > start) fields.push_back(line.substr(start, pos - start));
    }
    return fields;
}

bool Number(std::string_view field, std::int64_t& value) {
    const auto [end, ec] = std::from_chars(field.data(), field.data() + field.size(), value);
    return ec == std::errc{} && end == field.data() + field.size();
}

// 2026-12-08T23:40:01.123+01:00 and the like: a date, a 'T', a time.
bool LooksLikeTime(std::string_view field) {
    return field.size() >= 19 && field[4] == '-' && field[10] == 'T' && field[13] == ':';
}

}  // namespace

bool Replay::Read(std::istream& in, std::string& error) {
    lines_.clear();
    next_ = 0;
    std::string line;
    std::size_t number = 0;
    bool first = true;
    while (std::getline(in, line)) {
        ++number;
        if (line.size() > kMaxLineLength) {
            error = "line " + std::to_string(number) + ": longer than " +
                    std::to_string(kMaxLineLength) + " characters";
            return false;
        }
        const std::vector<std::string_view> fields = Fields(line);
        if (fields.empty()) continue;
        std::int64_t value = 0;
        const bool timedLine = LooksLikeTime(fields[0]);
        if (!timedLine && !Number(fields[0], value)) continue;  // a header
        if (first) {
            timed_ = timedLine;
            first = false;
        } else if (timedLine != timed_) {
            error = "line " + std::to_string(number) + ": time columns on some lines only";
            return false;
        }
        ReplayLine entry;
        std::size_t k = 0;
        if (timed_) {
            if (fields.size() < 2 || !Number(fields[1], entry.ms) || entry.ms < 0) {
                error = "line " + std::to_string(number) + ": no t_ms after the time";
                return false;
            }
            k = 2;
        }
        if (fields.size() < k + 16) {
            error = "line " + std::to_string(number) + ": 16 values expected";
            return false;
        }
        for (int v = 0; v < 16; ++v, ++k) {
            if (!Number(fields[k], value) || value < 0 || value > 255) {
                error = "line " + std::to_string(number) + ": value " + std::to_string(v + 1) +
                        " is not a number 0..255";
                return false;
            }
            auto& slot = v < 8 ? entry.inputs[v] : entry.outputs[v - 8];
            slot = static_cast<std::uint16_t>(value);
        }
        if (lines_.size() == kMaxLines) {
            error = "more than " + std::to_string(kMaxLines) + " lines";
            return false;
        }
        lines_.push_back(entry);
    }
    if (in.bad()) {
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
    const std::int64_t first = lines_.front().ms;
    // One more pass period at the end, so the last line gets its time too.
    const std::int64_t span = lines_.back().ms - first + 1 +
                              (lines_.size() > 1 ? (lines_.back().ms - first) /
                                                       static_cast<std::int64_t>(lines_.size() - 1)
                                                 : 0);
    const std::int64_t t = first + elapsedMs % span;
    auto it = std::upper_bound(lines_.begin(), lines_.end(), t,
                               [](std::int64_t v, const ReplayLine& l) { return v < l.ms; });
    return it == lines_.begin() ? *it : *(it - 1);
}
