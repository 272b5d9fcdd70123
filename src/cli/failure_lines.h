#pragma once
// The stderr lines of failed passes in monitor, emulate and validate. A failure
// that repeats pass after pass (an unplugged device fails about 19 times a
// second) is printed at once the first time, then at most once a second, each
// line carrying how many passes it stands for: "Error reading from target (110)
// (19 times)". A line without a count stands for one pass.
//
// Thread rules: one thread (the command's main); no shared state.

#include <chrono>
#include <string>
#include <vector>

class FailureLines {
public:
    using Clock = std::chrono::steady_clock;
    static constexpr std::chrono::seconds kRepeatInterval{1};

    // A failed pass with status `text` at `now`: the lines to print now (maybe none).
    [[nodiscard]] std::vector<std::string> Failed(const std::string& text, Clock::time_point now);
    // A good pass, or the end of the run: the lines still held back (maybe none).
    [[nodiscard]] std::vector<std::string> Flush();

private:
    [[nodiscard]] std::string Line(int count) const;

    std::string last_;             // the text of the last line printed, "" after a flush
    Clock::time_point printed_{};  // when it was printed
    int held_ = 0;                 // passes with that text since, not printed yet
};
