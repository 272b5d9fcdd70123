#pragma once
// What one pass of the engine is about: its mode and its values. The engine's pass
// report (engine/engine.h), the recordings and logs of src/files and the front ends
// all name the modes through this one enum, so no layer spells a mode as a number.
//
// Thread rules: plain values; copy them freely between threads.

#include <algorithm>
#include <chrono>
#include <cstdint>

#include "network/weights.h"

enum EngineMode : std::int32_t {
    MODE_MONITOR = 0,
    MODE_SIM_FLOAT = 1,
    MODE_SIM_INT = 2,
    MODE_EMULATOR = 3,
    MODE_HOLD = 4,
};

// A value as a slider, the chart and a module's output byte hold it: 0..255, a
// larger one at 255 and a negative one at 0.
[[nodiscard]] constexpr std::uint8_t ClipToByte(int value) {
    return static_cast<std::uint8_t>(std::clamp(value, 0, 255));
}

// One pass as the worker reported it, stamped when it was reported: what the
// window's recording and chart keep of a PassReport.
struct PassSample {
    std::chrono::steady_clock::time_point steady{};
    std::chrono::system_clock::time_point wall{};
    std::int32_t mode = MODE_HOLD;
    NetInputs inputs{};
    NetOutputs outputs{};
};
