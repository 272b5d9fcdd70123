#pragma once
// The serial device behind a port server on the network (ser2net and the like),
// beside the local devices of serial_device_posix.h and serial_device_win32.h:
// the same time-outs, the same results, so the link and its texts cannot tell it
// from a local port. Port names and the telnet framing are in net_port.h.
//
// Thread rules: a NetworkOpener may be used from any one thread at a time; a
// device belongs to the thread that reads and writes it (the engine's worker).
// Every wait also waits for the stop signal given to Open (EINTR, on Windows
// ERROR_OPERATION_ABORTED).
//
// How the link maps onto the network:
//   opening the port          connecting (TCP_NODELAY), within kNetOpenBoundMs
//   9600 8N1, no flow         tcp://: the server's own settings; rfc2217://: asked
//   control, DTR/RTS off      for once the server agrees to com-port control, and
//                             each setting acknowledged, within kNetOpenBoundMs
//   the read and write        kept by the device itself, exactly as the serial
//   time-outs                 devices keep them (SerialTimeouts)
//   DiscardInput              drops what was received; rfc2217:// also has the
//                             server purge its input (sent with the next command)
//   0xFF in the data          rfc2217://: doubled going out, undoubled coming in
//   the server's negotiation  answered from within any read or wait, never waited on
//   a connection closed,      the device is gone (SerialTransfer::deviceGone): the
//   reset or broken           link closes it and the next command connects afresh
// Failure stages, as the operator's texts number them:
//   name lookup, connection                        -> LinkStage::Open          (1)
//   com-port control refused or not answered       -> LinkStage::ReadSettings  (1)
//   a line setting not taken or not acknowledged   -> LinkStage::ApplySettings (2)
// with the codes of net_port.h (kNetRefused, ...).

#include <memory>
#include <string>

#include "engine/serial_device.h"

class NetworkOpener final : public SerialOpener {
public:
    explicit NetworkOpener(SerialTimeouts timeouts = {}) : timeouts_(timeouts) {}
    // `path` is a tcp:// or rfc2217:// name (net_port.h); anything else fails to
    // open with EINVAL.
    [[nodiscard]] SerialOpenResult Open(const std::string& path, const StopSignal& stop) override;

private:
    SerialTimeouts timeouts_;
};

// Opens network names with a NetworkOpener and every other name with `local`.
[[nodiscard]] std::unique_ptr<SerialOpener> MakePortOpener(std::unique_ptr<SerialOpener> local);
