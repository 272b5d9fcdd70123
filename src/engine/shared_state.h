#pragma once
// The state block shared by the window's UI thread and the engine's worker.
//
// Thread rules:
//  - Every field marked "guarded by hMutex" is read and written only while holding
//    g_State.hMutex. The mutex is recursive on purpose: the UI thread may already
//    hold it (a file command) when a refresh on the same thread takes it again.
//  - Fields marked "worker only" belong to the worker thread and take no lock.
//  - pNotifier is installed before the worker starts and never changes while it
//    runs; the worker never calls it with hMutex held.
//  - The engine never throws across threads and never shows anything: failures end
//    up as text in szStatus.

#include <atomic>
#include <cstdint>
#include <functional>
#include <mutex>

#include "network/weights.h"

enum EngineMode : std::int32_t {
    MODE_MONITOR = 0,
    MODE_SIM_FLOAT = 1,
    MODE_SIM_INT = 2,
    MODE_EMULATOR = 3,
    MODE_HOLD = 4,
};

// The dialog's refresh message number, kept so that the UI's event type carries it.
constexpr int WM_USER = 0x0400;
constexpr int WM_ENGINE_UPDATE = WM_USER + 5;  // 1029

constexpr std::size_t STATUS_TEXT_SIZE = 200;
constexpr std::size_t PORT_NAME_SIZE = 12;

// Called by the worker after each pass (and on a mode change) to ask the window
// for a refresh. Must be cheap and must not block: the window posts an event.
using EngineNotifier = std::function<void()>;

class SerialDevice;  // engine/serial_device.h

struct SharedState {
    char szOpenPort[PORT_NAME_SIZE] = {};  // worker only: open port's name, empty = closed
    SerialDevice* hPort = nullptr;  // worker only: the open port, owned; freed by CloseTargetPort

    std::recursive_mutex hMutex;  // the one lock of the block

    EngineNotifier pNotifier;  // set by InitSharedState; see thread rules

    std::atomic<bool> bStopRequest{false};  // written under hMutex; atomic so waits can test it

    NetInputs wInputs{};             // guarded by hMutex
    FileWeights lFileWeights{};      // guarded by hMutex
    ModuleWeights sModuleWeights{};  // guarded by hMutex
    NetOutputs wOutputs{};           // written under hMutex by the worker only
    std::int32_t nMode = MODE_HOLD;  // guarded by hMutex
    std::int32_t nComPort = 0;       // guarded by hMutex: 0 = "COM1", other = "COM2"
    char szStatus[STATUS_TEXT_SIZE] = "Welcome in the Pelkora world";  // guarded by hMutex
};

extern SharedState g_State;

// Status texts of the engine, exactly as the operator sees them.
inline constexpr const char* kStatusWelcome = "Welcome in the Pelkora world";
inline constexpr const char* kStatusNewMode = "New mode being activated";
inline constexpr const char* kStatusHold = "Hold...";
inline constexpr const char* kStatusSimFloat = "Local simulation of the network (float numbers)";
inline constexpr const char* kStatusSimInt = "Local simulation of the network (int numbers)";
inline constexpr const char* kStatusMonitor = "Monitoring target values";
inline constexpr const char* kStatusEmulator = "Emulating target";

// Fills the block for a fresh run and installs the notifier. Call once, before the
// worker starts; takes no lock. sModuleWeights is left as it is (zero from start).
void InitSharedState(EngineNotifier notifier);

// printf-style write of szStatus; takes hMutex itself. Output is cut to 199 chars.
void SetStatus(const char* format, ...) __attribute__((format(printf, 1, 2)));

// Copy of szStatus, taken under hMutex.
struct StatusText {
    char text[STATUS_TEXT_SIZE];
};
[[nodiscard]] StatusText GetStatus();
