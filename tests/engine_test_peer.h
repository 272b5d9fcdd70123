#pragma once
// The tests' way into an Engine: the state block itself (to set up a mode, weights
// or inputs directly and to look at what a step stored) and the status line. Front
// ends have only the Engine's operations and its pass reports.
//
// Thread rules: those of shared_state.h; State() fields are read and written under
// hMutex while a worker runs.

#include "engine/engine.h"

class EngineTestPeer {
public:
    [[nodiscard]] static SharedState& State(Engine& engine) { return engine.state_; }
    [[nodiscard]] static StatusText GetStatus(Engine& engine) { return engine.GetStatus(); }
};
