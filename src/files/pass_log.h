#pragma once
// The timestamped line format of a pass: what `pelkora-cli monitor|emulate|validate
// --timestamps` prints and what the window's recording writes. TAB-separated:
//
//   time                           t_ms  in1 .. in8  out1 .. out8  [mode]
//   2026-12-08T23:40:01.123+01:00  0     ...
//
// `time` is the local wall-clock time in ISO 8601 with milliseconds and the UTC
// offset; `t_ms` the milliseconds since the first pass on a monotonic clock, so it
// never goes back when the wall clock is set.
//
// Thread rules: a PassClock belongs to one thread; the formatting functions are pure.

#include <chrono>
#include <cstdint>
#include <string>

#include "network/weights.h"

// "2026-12-08T23:40:01.123+01:00" for `at`, in the local time zone (TZ).
[[nodiscard]] std::string LocalIso8601(std::chrono::system_clock::time_point at);

// The two time columns of one line after another: the one clock of every pass
// line, printed or recorded.
class PassClock {
public:
    struct Stamp {
        std::string time;
        std::int64_t ms = 0;
    };
    // The stamp of a pass that ends now; the first stamp is t_ms 0.
    [[nodiscard]] Stamp Now();
    // The stamp of a pass that ended at `steady` (monotonic) and `wall` (the same
    // moment on the wall clock), for passes stamped when they were reported.
    [[nodiscard]] Stamp At(std::chrono::steady_clock::time_point steady,
                           std::chrono::system_clock::time_point wall);

private:
    bool started_ = false;
    std::chrono::steady_clock::time_point first_{};
};

// "in1\t...\tout8", after "time\tt_ms\t" when `withTime`; no line end.
[[nodiscard]] std::string PassValuesHeader(bool withTime);
// A pass's 16 values TAB-separated, after its stamp's two columns when `stamp` is
// given; no line end. Plain `monitor` lines are this without a stamp.
[[nodiscard]] std::string PassValuesLine(const PassClock::Stamp* stamp, const NetInputs& inputs,
                                         const NetOutputs& outputs);
// "time\tt_ms\tin1...\tout8" (+ "\tmode" when `withMode`), no line end.
[[nodiscard]] std::string PassLogHeader(bool withMode);
// One line, no line end. `mode` is left out when empty.
[[nodiscard]] std::string PassLogLine(const PassClock::Stamp& stamp, const NetInputs& inputs,
                                      const NetOutputs& outputs, const char* mode = "");
// "monitor", "sim-float", "sim-int", "emulator", "hold" for the engine's mode numbers.
[[nodiscard]] const char* PassLogModeName(int mode);
