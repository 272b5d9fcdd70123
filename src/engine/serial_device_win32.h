#pragma once
// The serial device on a Windows COM port (a built-in port, a USB adapter, or
// under Wine whatever dosdevices/comN points at).
//
// Thread rules: a Win32SerialOpener may be used from any one thread at a time; a
// device belongs to the thread that reads and writes it (the engine's worker).
// Reads and writes are overlapped and wait for the stop event as well, so a stop
// request ends them at once (with ERROR_OPERATION_ABORTED).
//
// Names: "COM1" or any other bare name is opened as \\.\COM1 (the only form that
// also reaches COM10 and above); a name that has a path separator in it is opened
// as it stands.
//
// How the link's settings map onto Win32 (win32_comm_settings.h does the mapping):
//   DCB from GetCommState, then: 9600 baud, 8 data bits, NOPARITY, ONESTOPBIT,
//   binary, no CTS/DSR output flow control, input whatever DSR, DTR and RTS
//   disabled, no XON/XOFF, NUL bytes kept; every other field as the driver had it.
//   COMMTIMEOUTS from SerialTimeouts: the read interval, the read and write totals
//   (per byte and constant) field by field.
//   No sharing: CreateFile with share mode 0.
// Failure stages, as the operator's texts number them, with GetLastError():
//   CreateFileA, CreateEvent                        -> LinkStage::Open           (1)
//   GetCommState                                    -> LinkStage::ReadSettings   (1)
//   SetCommState                                    -> LinkStage::ApplySettings  (2)
//   SetCommTimeouts                                 -> LinkStage::ApplyTimeouts  (3)
// The input queue is discarded with PurgeComm(PURGE_RXCLEAR).
// A read or write that ends early by a time-out succeeds for Windows with fewer
// bytes and sets no error of its own; it reports ERROR_TIMEOUT.

#include <string>

#include "engine/serial_device.h"

class Win32SerialOpener final : public SerialOpener {
public:
    explicit Win32SerialOpener(SerialTimeouts timeouts = {}) : timeouts_(timeouts) {}
    // Every wait of the device also waits for `stop`'s event.
    [[nodiscard]] SerialOpenResult Open(const std::string& path, const StopSignal& stop) override;

private:
    SerialTimeouts timeouts_;
};

// The name CreateFileA is given for `path` (see Names above).
[[nodiscard]] std::string Win32DeviceName(const std::string& path);

// True for the GetLastError() codes of a failed read or write that mean the
// device itself is gone, so that only closing it and opening it afresh can bring
// the link back:
//   ERROR_ACCESS_DENIED         a USB adapter pulled out: its handle refuses all I/O
//   ERROR_OPERATION_ABORTED     the driver cancelled our I/O as it went (our own
//                               cancel on a stop request is no such failure and is
//                               not put through this test)
//   ERROR_BAD_COMMAND           the device no longer knows the request
//   ERROR_GEN_FAILURE           a device attached to the system is not functioning
//   ERROR_DEVICE_NOT_CONNECTED  the device is gone
//   ERROR_DEVICE_REMOVED        the device was removed
//   ERROR_NO_SUCH_DEVICE        the port vanished from the system
//   ERROR_INVALID_HANDLE        the handle went bad under us
// A time-out (ERROR_TIMEOUT) or a line error leaves the device usable.
[[nodiscard]] bool IsWin32DeviceGoneError(unsigned long error);
