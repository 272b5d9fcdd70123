#pragma once
// A level-triggered wake-up that lets a stop request cut every wait of the worker
// short: its pauses and its serial reads and writes all wait on it as well. On
// Linux an eventfd (polled), on Windows a manual-reset event (waited for along
// with the overlapped serial I/O).
//
// What both platforms share is in stop_signal.cpp; stop_signal_posix.cpp and
// stop_signal_win32.cpp hold the object itself.
//
// Thread rules: Request() may be called from any thread; Reset() only while no
// worker waits on it. Waits are made by the worker.

#include <chrono>

class StopSignal {
public:
    StopSignal();
    ~StopSignal();
    StopSignal(const StopSignal&) = delete;
    StopSignal& operator=(const StopSignal&) = delete;

    void Request();
    void Reset();
    [[nodiscard]] bool IsRequested() const;

#ifdef _WIN32
    // The event HANDLE: signalled once a stop was requested, until Reset().
    [[nodiscard]] void* Handle() const {
        return handle_;
    }
#else
    // Readable (POLLIN) once a stop was requested, until Reset().
    [[nodiscard]] int Fd() const {
        return fd_;
    }
#endif

    // Sleeps for `duration` unless a stop is requested first.
    // Returns true when the whole pause elapsed, false when cut short by a stop.
    [[nodiscard]] bool SleepFor(std::chrono::milliseconds duration) const;

private:
    enum class Wake { Signalled, TimedOut, Failed };
    // One wait of at most `ms` milliseconds on the platform's object (it may end
    // a little early; SleepFor waits again for the rest).
    [[nodiscard]] Wake WaitUpTo(long long ms) const;

#ifdef _WIN32
    void* handle_ = nullptr;
#else
    int fd_ = -1;
#endif
};
