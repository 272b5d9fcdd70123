#pragma once
// The state block shared by the front end's thread (the window's UI thread, or the
// command line's main) and the engine's worker. An Engine (engine.h) owns one.
//
// Thread rules:
//  - Every field marked "guarded by hMutex" is read and written only while holding
//    hMutex. The mutex is recursive on purpose: the UI thread may already hold it
//    (a file command) when a refresh on the same thread takes it again.
//  - The engine never throws across threads and never shows anything: failures end
//    up as text in szStatus and in the pass reports.

#include <atomic>
#include <cstdint>
#include <mutex>

#include "engine/serial_link.h"   // kStatusTextSize
#include "network/pass_values.h"  // EngineMode
#include "network/weights.h"

// Status texts of the engine, exactly as the operator sees them.
inline constexpr const char* kStatusWelcome = "Welcome in the Pelkora world";
inline constexpr const char* kStatusNewMode = "New mode being activated";
inline constexpr const char* kStatusHold = "Hold...";
inline constexpr const char* kStatusSimFloat = "Local simulation of the network (float numbers)";
inline constexpr const char* kStatusSimInt = "Local simulation of the network (int numbers)";
inline constexpr const char* kStatusMonitor = "Monitoring target values";
inline constexpr const char* kStatusEmulator = "Emulating target";

struct SharedState {
    std::recursive_mutex hMutex;  // the one lock of the block

    std::atomic<bool> bStopRequest{false};  // written under hMutex; atomic so waits can test it

    NetInputs wInputs{};             // guarded by hMutex
    FileWeights lFileWeights{};      // guarded by hMutex
    ModuleWeights sModuleWeights{};  // guarded by hMutex
    NetOutputs wOutputs{};           // written under hMutex by the worker only
    std::int32_t nMode = MODE_HOLD;  // guarded by hMutex
    std::int32_t nComPort = 0;       // guarded by hMutex: 0 = "COM1", other = "COM2"
    char szStatus[kStatusTextSize] = "Welcome in the Pelkora world";  // guarded by hMutex
};

// A copy of szStatus.
struct StatusText {
    char text[kStatusTextSize];
};
