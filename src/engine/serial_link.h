#pragma once
// The serial link to the target: opened lazily by the first command written, and
// again after the port choice changed or the port was closed by a failure.
//
// Thread rules: a SerialLink belongs to the engine's worker, which creates it when
// it starts and destroys it (closing the port) when it ends. It touches no shared
// state and takes no lock, so a stalled port never blocks the window; the worker
// turns a failure into the operator's text with LinkErrorText.
//
// Port names: "COM1" and "COM2" are what the operator chooses and reads. A PortMap
// says which device each stands for (a local device, or a port server's port on
// the network: engine/net_port.h). PortMap is below.

#include <array>
#include <cerrno>
#include <chrono>
#include <cstddef>
#include <functional>
#include <memory>
#include <string>

#include "engine/serial_device.h"

class StopSignal;

// Which device "COM1" (index 0) and "COM2" (index 1) open, and what the texts call
// them.
struct PortMap {
    struct Port {
        std::string device;  // the path opened
        std::string shown;   // the name in "Error opening %s port (1-%d)"
    };
    std::array<Port, 2> ports;

    // $PELKORA_COM1 / $PELKORA_COM2, else /dev/ttyS0 and /dev/ttyS1, shown as
    // "COM1"/"COM2". Read once, when the map is made.
    [[nodiscard]] static PortMap FromEnvironment();
    // One device for both choices, named by its path in the texts (pelkora-cli --port).
    [[nodiscard]] static PortMap SingleDevice(const std::string& path);
    // "" when $PELKORA_COM1 and $PELKORA_COM2 are unset or port names (a device
    // path, tcp://HOST:PORT, rfc2217://HOST:PORT; engine/net_port.h); else, for the
    // first that is not, "PELKORA_COMn: " and what is wrong with it.
    [[nodiscard]] static std::string EnvironmentProblem();
};

struct LinkError {
    LinkStage stage = LinkStage::None;
    int code = 0;  // errno (GetLastError on Windows); ETIMEDOUT / EINTR where no call failed
    [[nodiscard]] bool failed() const { return stage != LinkStage::None; }
};

// The codes of a read that got its bytes but no trustworthy reply, shown by
// "Error reading from target (%d)" like any other read failure:
//   kBadReplyError      a reply character that is not a hexadecimal digit
//   kReplyOverrunError  bytes after a reply's last one, before the next command
#ifdef _WIN32
inline constexpr int kBadReplyError = 13;       // ERROR_INVALID_DATA
inline constexpr int kReplyOverrunError = 234;  // ERROR_MORE_DATA
#else
inline constexpr int kBadReplyError = EBADMSG;
inline constexpr int kReplyOverrunError = EMSGSIZE;
#endif

// After a failed reply the line must fall quiet for this long before the next
// command, so that a late tail is discarded instead of read as the next reply;
// a line that never falls quiet (a module that streams) is given up on after
// the limit, and the next command goes out all the same.
inline constexpr std::chrono::milliseconds kLateTailQuiet{300};
inline constexpr std::chrono::milliseconds kLateTailLimit{2000};

// A reply that timed out may still come, whole or in part, seconds later. Its
// missing bytes are owed: no command that expects a reply goes out until they
// have come and been dropped, or until this long after the command they answer.
// The module's replies carry no framing, so a reply owed for longer than this
// could still be read as a later command's: the limit is where the link's
// guarantee ends.
inline constexpr std::chrono::milliseconds kLateReplyLimit{6000};
// How often that wait asks whether it is still wanted (the operator may have
// chosen another mode or port meanwhile).
inline constexpr std::chrono::milliseconds kLateReplySlice{50};

inline constexpr std::size_t kStatusTextSize = 200;

// The operator's text for a failure, as the status line shows it; `port` is the
// shown name of the port the failure happened on.
struct LinkErrorMessage {
    char text[kStatusTextSize];
};
[[nodiscard]] LinkErrorMessage LinkErrorText(const LinkError& error, const std::string& port);

// The cause of a failure in words, for the operator beside the numbered text:
// "no such device", "in use by another program", "no permission", "the device
// went away" (a reply cut off by an unplugged or closed device), "bytes came after
// the reply" (a stray byte), ... Empty for no failure. The one place that reads
// the codes of any device's failures, so a device of another kind only has to
// report the system's code for its stage. `device` is the failed port's device
// name: a port server's codes (connection refused, closed by the server, ...) are
// read as such only for a tcp:// or rfc2217:// port, since their numbers overlap
// with a device's.
[[nodiscard]] std::string LinkCauseText(const LinkError& error, const std::string& device);

class SerialLink {
public:
    // `opener` and `stop` outlive the link.
    SerialLink(SerialOpener& opener, const StopSignal& stop, PortMap ports);
    ~SerialLink();
    SerialLink(const SerialLink&) = delete;
    SerialLink& operator=(const SerialLink&) = delete;

    // Makes sure the port of `comPort` (0 = "COM1", other = "COM2") is open and
    // configured. On failure the port is closed.
    [[nodiscard]] LinkError OpenTargetPort(int comPort);
    // Closes the port if one is open.
    void CloseTargetPort();
    // Opens the port if needed, then writes the bytes of `text` (no terminator).
    // A failure leaves the port open, unless the device is gone: then it is closed
    // so that the next command reopens it (an unplugged USB adapter recovers).
    [[nodiscard]] LinkError WriteTarget(int comPort, const char* text);
    // Reads exactly `count` bytes; fewer (time-out) is a failure. Closing on a gone
    // device as above.
    [[nodiscard]] LinkError ReadTarget(char* buffer, std::size_t count);
    // Drops bytes received and not read (nothing when no port is open); they pay
    // what a timed-out reply owes.
    void DiscardInput();
    // Before a command that expects a reply: waits until what a timed-out reply
    // owes has come (and drops it, with whatever follows it before the line falls
    // quiet), for kLateReplyLimit after that reply's command at most. At once when
    // nothing is owed. Stopped on a stop request; Abandoned, still owing, as soon
    // as `carryOn` (asked every kLateReplySlice) says the wait is no longer wanted.
    enum class LateReplyWait { Done, Stopped, Abandoned };
    [[nodiscard]] LateReplyWait AwaitLateReply(const std::function<bool()>& carryOn);
    // Pauses for `duration` while watching the line: Arrived as soon as a byte
    // comes (the pause ends early then), Stopped on a stop request, else Quiet
    // after the whole pause (also when no port is open or the device cannot be
    // watched, so that the pace never changes).
    [[nodiscard]] InputWait WatchLine(std::chrono::milliseconds duration);
    // After a failed reply: discards whatever arrives until the line has been
    // quiet for kLateTailQuiet, for kLateTailLimit at most, or a stop request.
    // What it discards pays what a timed-out reply owes.
    void AwaitQuietLine();

    // "COM1" or "COM2" while a port is open, else empty.
    [[nodiscard]] const std::string& OpenPortName() const { return szOpenPort; }
    // The shown name of the open port, or of the one a failed open tried.
    [[nodiscard]] const std::string& PortName() const { return shownName_; }

private:
    SerialOpener& opener_;
    const StopSignal& stop_;
    const PortMap ports_;
    std::unique_ptr<SerialDevice> hPort;  // the open port; null = closed
    std::string szOpenPort;               // "COM1"/"COM2" while hPort is open, else empty
    std::string shownName_;
    // Bytes a timed-out reply may still send, and until when they are waited for;
    // what the link has written last, and when.
    std::size_t owed_ = 0;
    std::chrono::steady_clock::time_point owedUntil_{};
    std::chrono::steady_clock::time_point lastWrite_{};
};
