#include "cli/failure_lines.h"

std::string FailureLines::Line(int count) const {
    if (count == 1) return last_;
    return last_ + " (" + std::to_string(count) + " times)";
}

std::vector<std::string> FailureLines::Failed(const std::string& text, Clock::time_point now) {
    std::vector<std::string> lines;
    if (!last_.empty() && text == last_) {
        ++held_;
        if (now - printed_ < kRepeatInterval) return lines;
        lines.push_back(Line(held_));
        held_ = 0;
        printed_ = now;
        return lines;
    }
    lines = Flush();
    last_ = text;
    printed_ = now;
    lines.push_back(Line(1));
    return lines;
}

std::vector<std::string> FailureLines::Flush() {
    std::vector<std::string> lines;
    if (held_ > 0) lines.push_back(Line(held_));
    held_ = 0;
    last_.clear();
    return lines;
}
