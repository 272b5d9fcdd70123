#pragma once
// The command protocol spoken to the target (worker thread only).

void MonitorCycle();
void EmulatorCycle();
