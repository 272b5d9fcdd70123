#include "engine/stop_signal.h"

#include <windows.h>

#include <cstdlib>

StopSignal::StopSignal() : handle_(::CreateEventW(nullptr, TRUE, FALSE, nullptr)) {
    // Without the event no wait could ever be interrupted; nothing sensible can
    // run on a machine that cannot create one.
    if (handle_ == nullptr) std::abort();
}

StopSignal::~StopSignal() {
    ::CloseHandle(handle_);
}

void StopSignal::Request() {
    ::SetEvent(handle_);
}

void StopSignal::Reset() {
    ::ResetEvent(handle_);
}

bool StopSignal::IsRequested() const {
    return ::WaitForSingleObject(handle_, 0) == WAIT_OBJECT_0;
}

bool StopSignal::SleepFor(std::chrono::milliseconds duration) const {
    using Clock = std::chrono::steady_clock;
    const auto deadline = Clock::now() + duration;
    for (;;) {
        // The wait may end a little early (the timer's granularity): wait again for
        // the rest, so the worker's pauses are as long as on Linux.
        const auto left =
            std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now()).count();
        if (left <= 0) return !IsRequested();
        if (::WaitForSingleObject(handle_, static_cast<DWORD>(left)) != WAIT_TIMEOUT) {
            return !IsRequested();
        }
    }
}
