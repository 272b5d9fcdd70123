#include "engine/stop_signal.h"

bool StopSignal::SleepFor(std::chrono::milliseconds duration) const {
    using Clock = std::chrono::steady_clock;
    const auto deadline = Clock::now() + duration;
    for (;;) {
        // A wait may end early (a signal handler, the timer's granularity): wait
        // again for the rest, so the worker's pauses are as long as asked.
        const auto left =
            std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now()).count();
        if (left <= 0) return !IsRequested();
        switch (WaitUpTo(left)) {
            case Wake::Signalled:
                return false;
            case Wake::TimedOut:
                break;
            case Wake::Failed:
                return !IsRequested();
        }
    }
}
