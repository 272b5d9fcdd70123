#pragma once
// A level-triggered wake-up that lets a stop request cut every wait of the worker
// short: its pauses and its serial reads and writes all poll this descriptor.
//
// Thread rules: Request() and Reset() may be called from any thread; Reset() only
// while no worker runs. Waits are made by the worker.

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

    // Readable (POLLIN) once a stop was requested, until Reset().
    [[nodiscard]] int Fd() const { return fd_; }

    // Sleeps for `duration` unless a stop is requested first.
    // Returns true when the whole pause elapsed, false when cut short by a stop.
    [[nodiscard]] bool SleepFor(std::chrono::milliseconds duration) const;

private:
    int fd_ = -1;
};

// The engine's one stop signal, paired with g_State.bStopRequest.
[[nodiscard]] StopSignal& EngineStopSignal();

// The worker's interruptible pause: true when `ms` elapsed, false on a stop request.
[[nodiscard]] bool EngineSleep(int ms);
