#pragma once
// The moment a wait made of steps (poll() after an interrupted or an early wake-up,
// a queue looked at every few milliseconds) must not pass: each step waits what is
// left, never the whole bound again, so a wait that is woken for nothing still ends
// in time.
//
//   const Deadline deadline = Deadline::In(wait);
//   for (;;) {
//       ...                                   // try without waiting
//       const int left = deadline.LeftMs();
//       if (left == 0) return TimedOut;
//       ::poll(&p, 1, left);
//   }
//
// Thread rules: a plain value; copy it freely.

#include <algorithm>
#include <chrono>
#include <climits>

class Deadline {
public:
    using Clock = std::chrono::steady_clock;

    explicit Deadline(Clock::time_point at) : at_(at) {}
    // `wait` from now.
    [[nodiscard]] static Deadline In(Clock::duration wait) { return Deadline(Clock::now() + wait); }

    [[nodiscard]] Clock::time_point At() const { return at_; }
    // What is left at `now` in whole milliseconds, rounded up so that a wait of that
    // length never ends before the deadline; zero once it has come.
    [[nodiscard]] std::chrono::milliseconds LeftAt(Clock::time_point now) const {
        return std::max(std::chrono::ceil<std::chrono::milliseconds>(at_ - now),
                        std::chrono::milliseconds(0));
    }
    // LeftAt(now) as a time-out for poll() and the like: 0 once the deadline has
    // come, never more than the largest int.
    [[nodiscard]] int LeftMs() const {
        return static_cast<int>(std::min<long long>(LeftAt(Clock::now()).count(), INT_MAX));
    }
    [[nodiscard]] bool Passed() const { return Clock::now() >= at_; }
    // The earlier of the two.
    [[nodiscard]] Deadline Sooner(Deadline other) const {
        return Deadline(std::min(at_, other.at_));
    }

private:
    Clock::time_point at_;
};
