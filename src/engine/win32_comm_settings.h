#pragma once
// The link's serial settings as the Win32 structures they were written for: the
// device control block and the time-outs. Pure functions, so the mapping is
// checked without a port.
//
// Thread rules: no state.

#include <windows.h>

#include "engine/serial_device.h"

// Sets the link's fields of `dcb` (as read by GetCommState): 9600 baud, 8 data
// bits, no parity, one stop bit, binary, no RTS/CTS or DSR/DTR flow control, DTR
// and RTS off, no XON/XOFF, NUL bytes received. fParity, fErrorChar,
// fAbortOnError and every other field keep what the driver reported.
void ApplyLinkSettings(DCB& dcb);

// The time-outs, field by field, in milliseconds.
[[nodiscard]] COMMTIMEOUTS LinkTimeouts(const SerialTimeouts& timeouts);
