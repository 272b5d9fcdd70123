#pragma once
// The serial device under the link: a small interface so that the link's rules
// (texts, when to close, when to reopen) can be driven by a fake in tests, while
// the real thing is the termios device of serial_device_posix.h.
//
// Thread rules: a device is used by one thread at a time (the engine's worker).
// Opening, reading and writing touch no engine state.

#include <chrono>
#include <cstddef>
#include <memory>
#include <string>

// The link's time-outs, in milliseconds. A read ends when `readInterval` passes
// after a received byte without the next one, or at `readTotalPerByte` x bytes
// asked + `readTotalConstant` in all; a write gives up at `writeTotalPerByte` x
// bytes + `writeTotalConstant`.
struct SerialTimeouts {
    int readInterval = 100;
    int readTotalPerByte = 100;
    int readTotalConstant = 100;
    int writeTotalPerByte = 100;
    int writeTotalConstant = 100;
};

// How one read or write ended. All bytes moved when `count` equals the size asked
// for; otherwise `error` is the errno that ended it early (ETIMEDOUT for a time-out,
// EINTR for a stop request).
struct SerialTransfer {
    std::size_t count = 0;
    int error = 0;
    // The device went away under us (EIO, ENXIO, ENODEV, hang-up): the descriptor
    // is useless, and only a fresh open can bring the link back.
    bool deviceGone = false;
};

// How a wait for input ended.
enum class InputWait {
    Quiet,    // nothing arrived in the time given
    Arrived,  // a byte is queued
    Stopped,  // a stop was requested
    Failed,   // the device reported an error (it may be gone)
};

class SerialDevice {
public:
    virtual ~SerialDevice() = default;
    [[nodiscard]] virtual SerialTransfer Write(const char* data, std::size_t size) = 0;
    [[nodiscard]] virtual SerialTransfer Read(char* buffer, std::size_t size) = 0;
    // Drops whatever has arrived and not been read yet: a late reply, a stray byte,
    // a byte too many. The link calls it before each command that expects a reply,
    // so that every reply is read from a clean queue.
    virtual void DiscardInput() = 0;
    // Waits up to `duration` for a byte to arrive, reading none: Arrived as soon
    // as one is queued, Quiet when none came in the whole time.
    [[nodiscard]] virtual InputWait WaitForInput(std::chrono::milliseconds duration) = 0;
};

// Where a link operation failed, numbered as the operator's texts number them.
// An open fails at one of the first four stages; None is success.
enum class LinkStage {
    None,
    Open,           // "Error opening %s port (1-%d)"
    ReadSettings,   // "Error configuring com port (1-%d)"
    ApplySettings,  // "Error configuring com port (2-%d)"
    ApplyTimeouts,  // "Error configuring com port (3-%d)"
    Write,          // "Error writing to target (%d)"
    Read,           // "Error reading from target (%d)"
};

struct SerialOpenResult {
    std::unique_ptr<SerialDevice> device;  // set only when stage is None
    LinkStage stage = LinkStage::Open;
    int error = 0;  // errno right after the failed call
};

class StopSignal;  // engine/stop_signal.h

class SerialOpener {
public:
    virtual ~SerialOpener() = default;
    // Opens and configures `path` for the link: 9600 8N1, raw, no flow control,
    // DTR and RTS off, exclusive use, input queue empty. Every wait of the device
    // ends at once (with EINTR) when `stop` is requested; `stop` outlives the device.
    [[nodiscard]] virtual SerialOpenResult Open(const std::string& path,
                                                const StopSignal& stop) = 0;
};
