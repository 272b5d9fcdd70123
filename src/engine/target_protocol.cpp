#include "engine/target_protocol.h"

#include "engine/shared_state.h"

// Placeholders until the serial link lands: the steps only announce themselves.
void MonitorCycle() { SetStatus("%s", kStatusMonitor); }
void EmulatorCycle() { SetStatus("%s", kStatusEmulator); }
