#pragma once
// The engine: the shared state block, the worker thread that runs the mode loop on
// it, and the stop signal that cuts every wait of the worker short. It links no
// UI: after each pass it hands a PassReport to the notifier it was given.
//
// Thread rules:
//  - Start/RequestStop/WaitForWorker/Stop and SetNotifier are called from one
//    controlling thread (the UI thread, or the command line's main). SetNotifier
//    only while no worker runs.
//  - The mode steps run on the worker; SetStatus, GetStatus and LoadWeights take
//    hMutex themselves. Tests reach the state block through EngineTestPeer
//    (tests/engine_test_peer.h), under the rules of shared_state.h.
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
#include "network/pass_values.h"  // EngineMode, PassSample: what front ends keep of a report

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
    std::int32_t comPort = 0;  // nComPort when the report was made
    bool ok = true;            // Pass: the step ended well (always so in Hold and the simulators)
    LinkError failure;         // Pass, !ok: where and why the link failed
    StatusText status{};       // szStatus as the step left it
    NetInputs inputs{};        // wInputs after the step
    NetOutputs outputs{};      // wOutputs after the step
    bool valuesRead = false;   // Pass: the step produced new values (not Hold)
    // Pass, Monitor with SetConfirmInputs: the inputs read again after "O" differed
    // from those read before it (`inputs`), so the outputs belong to inputs seen in
    // between; `inputsAfter` is that second reading (equal to `inputs` otherwise).
    bool inputsMoved = false;
    NetInputs inputsAfter{};
    // How many times the front end had set the inputs (Engine::SetInputs) when
    // `inputs` was copied: a report older than the operator's last move carries
    // inputs the operator has already replaced.
    std::uint64_t inputsSet = 0;
};

using EngineNotifier = std::function<void(const PassReport&)>;

class Engine {
public:
    // The platform's opener (and the network device for tcp:// and rfc2217://
    // names) on the ports named by the environment (PELKORA_COM1/2).
    Engine();
    // `opener` null: the platform's serial opener, and the network device for
    // tcp:// and rfc2217:// names (serial_device_net.h).
    Engine(std::unique_ptr<SerialOpener> opener, PortMap ports);
    ~Engine();
    Engine(const Engine&) = delete;
    Engine& operator=(const Engine&) = delete;

    // What COM1 and COM2 stand for; fixed for the engine's life, so any thread may look.
    [[nodiscard]] const PortMap& Ports() const { return ports_; }
    void SetNotifier(EngineNotifier notifier);
    // Monitor passes read the inputs again after "O" and report whether they held
    // (PassReport::inputsMoved): for comparing the module's outputs with its
    // inputs. Off by default; the Monitor bytes are then R, I, O. Only while no
    // worker runs.
    void SetConfirmInputs(bool confirm);

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

    // The front end's operations on the state block; each takes hMutex for its own
    // short span, so no front end needs to know the lock.
    // nMode := `mode` when it is MODE_MONITOR..MODE_HOLD; false (nothing changes) else.
    [[nodiscard]] bool SetMode(std::int32_t mode);
    [[nodiscard]] std::int32_t Mode();
    // nComPort := 0 ("COM1") or 1 ("COM2"); any other value changes nothing.
    void SetComPort(int port);
    // The device path that port `port` (0 "COM1", other "COM2") opens. Fixed when
    // the engine is made, so any thread may ask.
    [[nodiscard]] const std::string& PortDevice(int port) const {
        return ports_.ports[port == 0 ? 0 : 1].device;
    }
    // wInputs := `inputs`. Returns the count that reports copied after it carry.
    std::uint64_t SetInputs(const NetInputs& inputs);
    // Copies of the weights, taken under hMutex, so that a caller can write or
    // report them without holding the lock (an export is one consistent set).
    [[nodiscard]] ModuleWeights CopyModuleWeights();
    [[nodiscard]] FileWeights CopyFileWeights();

    // Replaces both weight forms together under hMutex with `weights` and their
    // module form. The front ends read the net file first (files/net_file.h), so
    // the lock is never held across a file read.
    void LoadWeights(const FileWeights& weights);

private:
    friend class EngineTestPeer;  // tests/engine_test_peer.h: the state block and status

    // The worker's thread procedure: loops until a stop request; the link it owns
    // closes the port when it returns.
    void EngineThreadProc();

    // The mode steps (worker thread). Monitor and Emulator use the worker's link.
    void HoldCycle();
    void FloatSimulationCycle();
    void IntSimulationCycle();
    // R, pause, I + reply, pause, O + reply, pause (then I + reply, pause with
    // SetConfirmInputs). A reply is stored only when all its characters are hex
    // digits and nothing follows it during its pause.
    [[nodiscard]] LinkError MonitorCycle(SerialLink& link);
    // S, pause, I + reply, pause, evaluate, P frame, pause.
    [[nodiscard]] LinkError EmulatorCycle(SerialLink& link);

    // Evaluate wInputs with the loaded weights into wOutputs, under hMutex.
    void EvaluateNetworkFloat();
    void EvaluateNetworkInt();

    // A link on this engine's opener, stop signal and ports.
    [[nodiscard]] SerialLink MakeLink();

    // printf-style write of szStatus under hMutex; cut to 199 characters.
    void SetStatus(const char* format, ...) __attribute__((format(printf, 2, 3)));
    [[nodiscard]] StatusText GetStatus();

    // The worker's interruptible pause: true when `ms` elapsed, false on a stop.
    [[nodiscard]] bool Sleep(int ms) const;
    [[nodiscard]] bool StopRequested();
    void Notify(const PassReport& report);
    [[nodiscard]] PassReport Snapshot(PassReport::Kind kind, std::int32_t mode);
    [[nodiscard]] LinkError RunStep(std::int32_t mode, SerialLink& link);
    // Sends `letter` on a clean input queue, reads and decodes its reply. After a
    // failed reply the loop waits for the line to fall quiet (AwaitQuietLine), and
    // the next exchange first waits out a reply that timed out (AwaitLateReply).
    [[nodiscard]] LinkError Exchange(SerialLink& link, int comPort, char letter, NetInputs& values);
    // The pause after a reply, watching the line: false on a stop, or with
    // `failure` set when bytes came that no reply accounts for.
    [[nodiscard]] bool ReplyPause(SerialLink& link, LinkError& failure);
    // The link's failure as the status line text.
    void ReportLinkError(const SerialLink& link, const LinkError& error);
    [[nodiscard]] int ComPort();

    SharedState state_;
    std::uint64_t inputsSet_ = 0;  // guarded by state_.hMutex; see PassReport::inputsSet
    StopSignal stop_;
    std::unique_ptr<SerialOpener> opener_;
    const PortMap ports_;
    EngineNotifier notifier_;  // set only while no worker runs; see thread rules

    bool confirmInputs_ = false;         // set only while no worker runs
    bool inputsMoved_ = false;           // worker only: this pass's second "I" differed
    NetInputs inputsAfter_{};            // worker only: this pass's second "I"
    std::int32_t stepMode_ = MODE_HOLD;  // worker only: the mode of the step running

    // Only the controlling thread touches the thread object.
    std::thread worker_;
    std::mutex doneMutex_;  // guards done_
    std::condition_variable doneChanged_;
    bool done_ = true;  // guarded by doneMutex_
};
