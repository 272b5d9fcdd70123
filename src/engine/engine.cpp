#include "engine/engine.h"

#include <condition_variable>
#include <mutex>
#include <thread>

#include "engine/serial_link.h"
#include "engine/stop_signal.h"
#include "engine/target_protocol.h"
#include "network/evaluators.h"

namespace {

// Lifetime of the worker thread object; only the controlling thread touches it.
struct WorkerControl {
    std::thread thread;
    std::mutex doneMutex;  // guards done (not part of the state block: it outlives passes)
    std::condition_variable doneChanged;
    bool done = true;
};

WorkerControl& Worker() {
    static WorkerControl control;
    return control;
}

void Notify() {
    // Called without hMutex: the notifier may post into a UI that takes the lock.
    if (g_State.pNotifier) g_State.pNotifier();
}

bool StopRequested() {
    std::lock_guard lock(g_State.hMutex);
    return g_State.bStopRequest.load();
}

void RunStep(std::int32_t mode) {
    switch (mode) {
        case MODE_MONITOR:
            MonitorCycle();
            break;
        case MODE_SIM_FLOAT:
            FloatSimulationCycle();
            break;
        case MODE_SIM_INT:
            IntSimulationCycle();
            break;
        case MODE_EMULATOR:
            EmulatorCycle();
            break;
        case MODE_HOLD:
            HoldCycle();
            break;
        default:
            break;  // the window only writes 0..4
    }
}

}  // namespace

void EngineThreadProc() {
    std::int32_t prev = -1;
    Notify();
    for (;;) {
        std::int32_t mode;
        {
            std::lock_guard lock(g_State.hMutex);
            mode = g_State.nMode;
        }
        if (mode != prev) {
            SetStatus("%s", kStatusNewMode);
            Notify();
            prev = mode;
        }
        RunStep(mode);
        Notify();
        // A stop that arrives during the pause cuts it short and is honoured at once,
        // not one pass later.
        if (StopRequested() || !EngineSleep(ENGINE_PASS_PAUSE_MS)) {
            CloseTargetPort();
            return;
        }
    }
}

bool StartEngine() {
    WorkerControl& w = Worker();
    if (w.thread.joinable()) return false;
    {
        std::lock_guard lock(w.doneMutex);
        w.done = false;
    }
    w.thread = std::thread([&w] {
        EngineThreadProc();
        std::lock_guard lock(w.doneMutex);
        w.done = true;
        w.doneChanged.notify_all();
    });
    return true;
}

void RequestEngineStop() {
    {
        std::lock_guard lock(g_State.hMutex);
        g_State.bStopRequest = true;
    }
    EngineStopSignal().Request();
}

bool WaitForEngine(std::chrono::milliseconds timeout) {
    WorkerControl& w = Worker();
    if (!w.thread.joinable()) return true;
    {
        std::unique_lock lock(w.doneMutex);
        if (!w.doneChanged.wait_for(lock, timeout, [&w] { return w.done; })) return false;
    }
    w.thread.join();
    return true;
}

void StopEngine() {
    RequestEngineStop();
    WorkerControl& w = Worker();
    if (w.thread.joinable()) w.thread.join();
}

bool IsEngineRunning() {
    return Worker().thread.joinable();
}

void HoldCycle() {
    SetStatus("%s", kStatusHold);
}

void FloatSimulationCycle() {
    EvaluateNetworkFloat();
    SetStatus("%s", kStatusSimFloat);
}

void IntSimulationCycle() {
    EvaluateNetworkInt();
    SetStatus("%s", kStatusSimInt);
}

void EvaluateNetworkFloat() {
    std::lock_guard lock(g_State.hMutex);
    g_State.wOutputs = EvaluateFloat(g_State.wInputs, g_State.lFileWeights);
}

void EvaluateNetworkInt() {
    std::lock_guard lock(g_State.hMutex);
    g_State.wOutputs = EvaluateInt(g_State.wInputs, g_State.sModuleWeights);
}
