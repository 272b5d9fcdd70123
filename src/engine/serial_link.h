#pragma once
// The serial link to the target: opened lazily by the first command written, and
// again after the port choice changed or the port was closed by a failure.
//
// Thread rules: OpenTargetPort, CloseTargetPort, WriteTarget and ReadTarget run on
// the worker only; they own g_State.szOpenPort and g_State.hPort without a lock.
// hMutex is taken only to read nComPort and the device override and to write
// szStatus, never around an open, a read or a write, so a stalled port never
// blocks the window. SetTargetDeviceOverride may be called from any thread.
// SetSerialOpener only while no worker runs.
//
// Port names: "COM1" and "COM2" are what the operator chooses and reads. They map
// to the devices named by $PELKORA_COM1 / $PELKORA_COM2, else /dev/ttyS0 and
// /dev/ttyS1 (read at each open, so set them before the worker starts).

#include <cstddef>
#include <string>

class SerialOpener;

// "Error opening %s port (1-%d)" etc., exactly as the operator reads them.
inline constexpr const char* kErrorOpeningPort = "Error opening %s port (1-%d)";
inline constexpr const char* kErrorConfiguring1 = "Error configuring com port (1-%d)";
inline constexpr const char* kErrorConfiguring2 = "Error configuring com port (2-%d)";
inline constexpr const char* kErrorConfiguring3 = "Error configuring com port (3-%d)";
inline constexpr const char* kErrorWriting = "Error writing to target (%d)";
inline constexpr const char* kErrorReading = "Error reading from target (%d)";

// Makes sure the chosen port is open and configured. False with the reason in
// szStatus; the port is then closed.
[[nodiscard]] bool OpenTargetPort();
// Closes the port if one is open; empties szOpenPort. Reports nothing.
void CloseTargetPort();
// Opens the port if needed, then writes the bytes of `text` (no terminator).
// A failure leaves the port open, unless the device is gone: then it is closed so
// that the next command reopens it (an unplugged USB adapter recovers by itself).
[[nodiscard]] bool WriteTarget(const char* text);
// Reads exactly `count` bytes; fewer (time-out) is a failure. Late bytes stay in
// the port's input queue for the next read. Closing on a gone device as above.
[[nodiscard]] bool ReadTarget(char* buffer, std::size_t count);

// The device behind "COM1" (nComPort 0) or "COM2" (any other value).
[[nodiscard]] std::string ComPortDevice(int comPort);

// An explicit device path that replaces the COM mapping for both choices, and
// names the port in the status texts instead of "COM1"/"COM2"; empty clears it.
// Takes effect at the next open (pelkora-cli sets it before starting the worker).
void SetTargetDeviceOverride(const std::string& path);

// Replaces the termios opener (tests); nullptr restores it. The opener must
// outlive its use by the worker.
void SetSerialOpener(SerialOpener* opener);
