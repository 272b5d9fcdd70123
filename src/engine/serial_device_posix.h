#pragma once
// The serial device on a POSIX terminal (a serial port, a USB adapter, or a
// pseudo-terminal standing in for the module).
//
// Thread rules: a TermiosOpener may be used from any one thread at a time; a
// device belongs to the thread that reads and writes it (the engine's worker).
// Every wait also polls the stop signal given to Open, so a stop request ends a
// read or write at once (with EINTR).
//
// How the port settings of the link map onto termios:
//   baud 9600, 8 data bits, no parity, 1 stop bit   -> cfsetispeed/cfsetospeed B9600,
//                                                      CS8, ~PARENB, ~CSTOPB
//   no CTS/DSR output flow control                  -> ~CRTSCTS, CLOCAL (ignore modem lines)
//   input whatever the DSR line                     -> CLOCAL
//   no XON/XOFF on input or output                  -> ~IXON, ~IXOFF, ~IXANY
//   NUL bytes received, binary transfer             -> cfmakeraw (no ICRNL, no ISTRIP,
//                                                      no canonical mode, no echo, no OPOST)
//   DTR and RTS off while open                      -> TIOCMBIC TIOCM_DTR | TIOCM_RTS
//                                                      (ENOTTY/EINVAL: the device has no
//                                                      modem lines, as a pseudo-terminal)
//   no sharing                                      -> TIOCEXCL and flock(LOCK_EX | LOCK_NB)
//                                                      (TIOCEXCL alone does not stop root)
//   bytes queued before the open                    -> tcflush(TCIFLUSH) once configured
//   the five time-outs                              -> VMIN = VTIME = 0 on a non-blocking
//                                                      descriptor; the deadlines are kept
//                                                      with poll() (see SerialTimeouts)
// Failure stages, as the operator's texts number them:
//   open(), flock(), TIOCEXCL                       -> LinkStage::Open           (1)
//   tcgetattr()                                     -> LinkStage::ReadSettings   (1)
//   tcsetattr() of the line settings, TIOCMBIC      -> LinkStage::ApplySettings  (2)
//   tcsetattr() of VMIN/VTIME                       -> LinkStage::ApplyTimeouts  (3)
// A read or write that ends early by time-out reports ETIMEDOUT; a stop request
// reports EINTR.

#include <string>

#include "engine/serial_device.h"

class TermiosOpener final : public SerialOpener {
public:
    explicit TermiosOpener(SerialTimeouts timeouts = {}) : timeouts_(timeouts) {}
    [[nodiscard]] SerialOpenResult Open(const std::string& path, const StopSignal& stop) override;

private:
    SerialTimeouts timeouts_;
};

// True for the errno values that mean the device itself is gone.
[[nodiscard]] bool IsDeviceGoneError(int error);
