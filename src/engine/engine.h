#pragma once
// The engine: the shared state block, the worker thread that runs the mode loop on
// it, and the stop signal that cuts every wait of the worker short. It links no
// UI: after each pass it hands a PassReport to the notifier it was given.
//
// Thread rules:
//  - Start/RequestStop/WaitForWorker/Stop and SetNotifier are called from one
//    controlling thread (the UI thread, or the command line's main). SetNotifier
//    only while no worker runs.
//  - The mode steps run on the worker. State() may be used from any thread under
//    the rules of shared_state.h; SetStatus, GetStatus and LoadWeights take
//    hMutex themselves.
//  - The notifier runs on the worker and is never called with hMutex held; it must
//    be cheap and must not block (the window posts an event, the CLI queues).
//  - The destructor stops and joins the worker; several engines may live in one
//    process side by side.

#include <chrono>
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

#include "engine/serial_device.h"
#include "engine/serial_link.h"
#include "engine/shared_state.h"
#include "engine/stop_signal.h"

// How "&Quit" gives the worker to end before the window closes.
inline constexpr int kQuitGraceMs = 500;
// The loop's pause between passes.
inline constexpr int kEnginePassPauseMs = 50;
// Pauses of the Monitor and Emulator steps.
inline constexpr int kCommandPauseMs = 50;
inline constexpr int kFramePauseMs = 100;

// What the worker tells the front end after each notification-worthy moment.
struct PassReport {
    enum class Kind {
        Started,     // the worker has begun
        ModeChange,  // a new mode is being activated ("New mode being activated")
        Pass,        // one step of the mode ended
    };
    Kind kind = Kind::Pass;
    std::int32_t mode = MODE_HOLD;
    bool ok = true;           // Pass: the step ended well (always so in Hold and the simulators)
    LinkError failure;        // Pass, !ok: where and why the link failed
    StatusText status{};      // szStatus as the step left it
    NetInputs inputs{};       // wInputs after the step
    NetOutputs outputs{};     // wOutputs after the step
    bool valuesRead = false;  // Pass: the step produced new values (not Hold)
};

using EngineNotifier = std::function<void(const PassReport&)>;

class Engine {
public:
    // The termios opener on the devices named by the environment (PELKORA_COM1/2).
    Engine();
    // `opener` null: the platform's serial opener.
    Engine(std::unique_ptr<SerialOpener> opener, PortMap ports);
    ~Engine();
    Engine(const Engine&) = delete;
    Engine& operator=(const Engine&) = delete;

    [[nodiscard]] SharedState& State() { return state_; }
    void SetNotifier(EngineNotifier notifier);

    // Starts EngineThreadProc on a new thread. False if one is already running.
    [[nodiscard]] bool Start();
    // Sets bStopRequest under hMutex and interrupts any wait of the worker.
    void RequestStop();
    // Waits up to `timeout` for the worker to end; joins it when it has.
    // True when no worker runs any more.
    [[nodiscard]] bool WaitForWorker(std::chrono::milliseconds timeout);
    // RequestStop, then waits for the worker without limit and joins it. The
    // worker's waits are all interruptible, so this returns within milliseconds
    // unless the caller itself holds hMutex (it must not). A later Start runs anew.
    void Stop();

    // printf-style write of szStatus under hMutex; cut to 199 characters.
    void SetStatus(const char* format, ...) __attribute__((format(printf, 2, 3)));
    [[nodiscard]] StatusText GetStatus();

    // Replaces both weight forms together under hMutex with `weights` and their
    // module form. The front ends read the net file first (files/net_file.h), so
    // the lock is never held across a file read.
    void LoadWeights(const FileWeights& weights);

    // The worker's thread procedure: loops until a stop request; the link it owns
    // closes the port when it returns.
    void EngineThreadProc();

    // The mode steps (worker thread). Monitor and Emulator use the worker's link.
    void HoldCycle();
    void FloatSimulationCycle();
    void IntSimulationCycle();
    // R, pause, I + reply, pause, O + reply, pause.
    [[nodiscard]] LinkError MonitorCycle(SerialLink& link);
    // S, pause, I + reply, pause, evaluate, P frame, pause.
    [[nodiscard]] LinkError EmulatorCycle(SerialLink& link);

    // Evaluate wInputs with the loaded weights into wOutputs, under hMutex.
    void EvaluateNetworkFloat();
    void EvaluateNetworkInt();

    // A link on this engine's opener, stop signal and ports (the worker makes one;
    // tests drive steps with their own).
    [[nodiscard]] SerialLink MakeLink();

private:
    // The worker's interruptible pause: true when `ms` elapsed, false on a stop.
    [[nodiscard]] bool Sleep(int ms) const;
    [[nodiscard]] bool StopRequested();
    void Notify(const PassReport& report);
    [[nodiscard]] PassReport Snapshot(PassReport::Kind kind, std::int32_t mode);
    [[nodiscard]] LinkError RunStep(std::int32_t mode, SerialLink& link);
    // Sends `letter` on a clean input queue, reads and decodes its reply.
    [[nodiscard]] LinkError Exchange(SerialLink& link, int comPort, char letter, NetInputs& values);
    // The link's failure as the status line text.
    void ReportLinkError(const SerialLink& link, const LinkError& error);
    [[nodiscard]] int ComPort();

    SharedState state_;
    StopSignal stop_;
    std::unique_ptr<SerialOpener> opener_;
    const PortMap ports_;
    EngineNotifier notifier_;  // set only while no worker runs; see thread rules

    // Only the controlling thread touches the thread object.
    std::thread worker_;
    std::mutex doneMutex_;  // guards done_
    std::condition_variable doneChanged_;
    bool done_ = true;  // guarded by doneMutex_
};
