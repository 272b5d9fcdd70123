#pragma once
// The serial link to the target (worker thread only).
// Placeholder until the termios layer lands: the port is never opened.

void CloseTargetPort();
