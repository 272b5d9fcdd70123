#pragma once
// The worker and its mode loop, and the operations the window and the CLI use to
// run it. The engine links no UI: it asks for refreshes through the notifier given
// to InitSharedState.
//
// Thread rules: StartEngine/RequestEngineStop/WaitForEngine/StopEngine are called
// from one controlling thread (the UI thread, or the CLI's main). The mode steps
// and evaluators run on the worker. EvaluateNetwork* take hMutex themselves.

#include <chrono>

#include "engine/shared_state.h"

// How long "&Quit" gives the worker to end before the window closes.
constexpr int QUIT_GRACE_MS = 500;
// The loop's pause between passes.
constexpr int ENGINE_PASS_PAUSE_MS = 50;

// The worker's thread procedure: loops until a stop request, then closes the port.
void EngineThreadProc();

// Starts EngineThreadProc on a new thread. Returns false if one is already running.
[[nodiscard]] bool StartEngine();
// Sets bStopRequest under hMutex and interrupts any wait of the worker.
void RequestEngineStop();
// Waits up to `timeout` for the worker to end; joins it when it has.
// Returns true when no worker runs any more.
[[nodiscard]] bool WaitForEngine(std::chrono::milliseconds timeout);
// RequestEngineStop, then waits for the worker without limit and joins it.
// The worker's waits are all interruptible, so this returns within milliseconds
// unless the caller itself holds hMutex (it must not).
void StopEngine();
[[nodiscard]] bool IsEngineRunning();

// The mode steps (worker thread). Monitor and Emulator steps live with the link.
void HoldCycle();
void FloatSimulationCycle();
void IntSimulationCycle();

// Evaluate wInputs with the weights of g_State into wOutputs, under hMutex.
void EvaluateNetworkFloat();
void EvaluateNetworkInt();
