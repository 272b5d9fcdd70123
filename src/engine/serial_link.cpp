#include "engine/serial_link.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "engine/net_port.h"
#include "engine/stop_signal.h"

PortMap PortMap::FromEnvironment() {
    PortMap map;
    const char* const variables[2] = {"PELKORA_COM1", "PELKORA_COM2"};
#ifdef _WIN32
    const char* const defaults[2] = {"COM1", "COM2"};
#else
    const char* const defaults[2] = {"/dev/ttyS0", "/dev/ttyS1"};
#endif
    const char* const names[2] = {"COM1", "COM2"};
    for (int i = 0; i < 2; ++i) {
        const char* value = std::getenv(variables[i]);
        map.ports[i].device = value != nullptr && *value != '\0' ? value : defaults[i];
        map.ports[i].shown = names[i];
    }
    return map;
}

PortMap PortMap::SingleDevice(const std::string& path) {
    PortMap map;
    map.ports[0] = {path, path};
    map.ports[1] = {path, path};
    return map;
}

std::string PortMap::EnvironmentProblem() {
    for (const char* variable : {"PELKORA_COM1", "PELKORA_COM2"}) {
        const char* value = std::getenv(variable);
        if (value == nullptr || *value == '\0') continue;
        if (std::string problem = PortNameProblem(value); !problem.empty()) {
            return std::string(variable) + ": " + problem;
        }
    }
    return {};
}

LinkErrorMessage LinkErrorText(const LinkError& error, const std::string& port) {
    LinkErrorMessage m{};
    const int code = error.code;
    switch (error.stage) {
        case LinkStage::None:
            break;
        case LinkStage::Open:
            std::snprintf(m.text, sizeof m.text, "Error opening %s port (1-%d)", port.c_str(),
                          code);
            break;
        case LinkStage::ReadSettings:
            std::snprintf(m.text, sizeof m.text, "Error configuring com port (1-%d)", code);
            break;
        case LinkStage::ApplySettings:
            std::snprintf(m.text, sizeof m.text, "Error configuring com port (2-%d)", code);
            break;
        case LinkStage::ApplyTimeouts:
            std::snprintf(m.text, sizeof m.text, "Error configuring com port (3-%d)", code);
            break;
        case LinkStage::Write:
            std::snprintf(m.text, sizeof m.text, "Error writing to target (%d)", code);
            break;
        case LinkStage::Read:
            std::snprintf(m.text, sizeof m.text, "Error reading from target (%d)", code);
            break;
    }
    return m;
}

namespace {

// At most this many bytes are counted one by one in a discard.
constexpr std::size_t kDropCountLimit = 256;

#ifdef _WIN32
// GetLastError codes, by number: the engine layer includes no <windows.h> here.
constexpr int kWinFileNotFound = 2;
constexpr int kWinPathNotFound = 3;
constexpr int kWinAccessDenied = 5;  // a COM port another program holds
constexpr int kWinGenFailure = 31;
constexpr int kWinSharingViolation = 32;
constexpr int kWinTimeout = 1460;
constexpr int kWinAborted = 995;
constexpr int kWinDeviceNotConnected = 1167;
constexpr int kWinNoSuchDevice = 433;

const char* OpenCause(int code) {
    switch (code) {
        case kWinFileNotFound:
        case kWinPathNotFound:
        case kWinNoSuchDevice:
            return "no such device";
        case kWinAccessDenied:
        case kWinSharingViolation:
            return "in use by another program";
        default:
            return nullptr;
    }
}

const char* TransferCause(int code) {
    switch (code) {
        case kWinTimeout:
            return "no answer in time";
        case kWinAborted:
            return "stopped";
        case kWinGenFailure:
        case kWinDeviceNotConnected:
        case kWinNoSuchDevice:
        case kWinAccessDenied:
            return "the device went away (unplugged or closed)";
        default:
            return nullptr;
    }
}
#else
const char* OpenCause(int code) {
    switch (code) {
        case ENOENT:
        case ENXIO:
        case ENODEV:
            return "no such device";
        // flock() and TIOCEXCL: another program has the port open.
        case EBUSY:
        case EWOULDBLOCK:
            return "in use by another program";
        case EACCES:
        case EPERM:
            return "no permission (is the user in the dialout group?)";
        case ENOTTY:
            return "not a serial port";
        default:
            return nullptr;
    }
}

const char* TransferCause(int code) {
    switch (code) {
        case ETIMEDOUT:
            return "no answer in time";
        case EINTR:
            return "stopped";
        case EIO:
        case ENXIO:
        case ENODEV:
            return "the device went away (unplugged or closed)";
        default:
            return nullptr;
    }
}
#endif

}  // namespace

std::string LinkCauseText(const LinkError& error, const std::string& device) {
    if (!error.failed()) return {};
    const int code = error.code;
    PortAddress address;
    std::string why;
    // A reply's time-out is the module's, whatever carries its bytes.
    const bool replyTimeout = error.stage == LinkStage::Read && code == ETIMEDOUT;
    if (!replyTimeout && ParsePortName(device, address, why) && address.kind != PortKind::Device) {
        if (const char* cause = NetworkCauseText(code)) return cause;
    }
    const char* cause = nullptr;
    switch (error.stage) {
        case LinkStage::None:
            break;
        case LinkStage::Open:
        case LinkStage::ReadSettings:
        case LinkStage::ApplySettings:
        case LinkStage::ApplyTimeouts:
            cause = OpenCause(code);
            break;
        case LinkStage::Write:
        case LinkStage::Read:
            // Before the system's codes: these two are the reply's own faults.
            if (error.stage == LinkStage::Read && code == kBadReplyError) {
                cause = "a reply character that is not a hexadecimal digit";
            } else if (error.stage == LinkStage::Read && code == kReplyOverrunError) {
                cause = "bytes came after the reply (a stray byte, or a module that streams)";
            } else {
                cause = TransferCause(code);
            }
            if (cause == nullptr) break;
            if (error.stage == LinkStage::Read && std::strcmp(cause, "no answer in time") == 0) {
                cause = "no reply in time (the module is silent or too slow)";
            }
            break;
    }
    if (cause != nullptr) return cause;
#ifdef _WIN32
    return "system error " + std::to_string(code);
#else
    return std::strerror(code);
#endif
}

SerialLink::SerialLink(SerialOpener& opener, const StopSignal& stop, PortMap ports)
    : opener_(opener), stop_(stop), ports_(std::move(ports)) {}

SerialLink::~SerialLink() = default;

LinkError SerialLink::OpenTargetPort(int comPort) {
    const int index = comPort == 0 ? 0 : 1;
    const char* name = index == 0 ? "COM1" : "COM2";
    if (hPort && szOpenPort == name) return {};

    CloseTargetPort();  // the choice has changed (or nothing was open)
    const PortMap::Port& port = ports_.ports[index];
    shownName_ = port.shown;
    SerialOpenResult opened = opener_.Open(port.device, stop_);
    if (opened.stage != LinkStage::None) return {opened.stage, opened.error};
    hPort = std::move(opened.device);
    szOpenPort = name;
    return {};
}

void SerialLink::CloseTargetPort() {
    hPort.reset();
    szOpenPort.clear();
    owed_ = 0;  // a device opened again starts with an empty queue
}

LinkError SerialLink::WriteTarget(int comPort, const char* text) {
    if (const LinkError opened = OpenTargetPort(comPort); opened.failed()) return opened;
    const std::size_t size = std::strlen(text);
    const SerialTransfer t = hPort->Write(text, size);
    lastWrite_ = std::chrono::steady_clock::now();
    if (t.count == size && t.error == 0) return {};
    if (t.deviceGone) CloseTargetPort();
    return {LinkStage::Write, t.error};
}

LinkError SerialLink::ReadTarget(char* buffer, std::size_t count) {
    // Always follows a successful write; a gone device was closed by it.
    if (!hPort) return {LinkStage::Read, EBADF};
    const SerialTransfer t = hPort->Read(buffer, count);
    if (t.count == count && t.error == 0) return {};
    if (t.deviceGone) {
        CloseTargetPort();
    } else if (t.count < count) {
        // The rest of the reply may still come: see AwaitLateReply.
        owed_ += count - t.count;
        owedUntil_ = lastWrite_ + kLateReplyLimit;
    }
    return {LinkStage::Read, t.error};
}

void SerialLink::DiscardInput() {
    // Byte by byte, so that what is dropped is counted against what is owed.
    std::size_t dropped = 0;
    char byte = 0;
    while (hPort && dropped < kDropCountLimit &&
           hPort->WaitForInput(std::chrono::milliseconds(0)) == InputWait::Arrived) {
        const SerialTransfer t = hPort->Read(&byte, 1);
        if (t.count != 1) {
            if (t.deviceGone) CloseTargetPort();
            break;
        }
        ++dropped;
    }
    owed_ -= std::min(owed_, dropped);
    // A line that streams: the rest goes uncounted.
    if (hPort) hPort->DiscardInput();
}

SerialLink::LateReplyWait SerialLink::AwaitLateReply(const std::function<bool()>& carryOn) {
    using Clock = std::chrono::steady_clock;
    bool came = false;
    while (hPort && owed_ > 0) {
        const auto left = std::chrono::ceil<std::chrono::milliseconds>(owedUntil_ - Clock::now());
        if (left.count() <= 0) break;
        const InputWait w = hPort->WaitForInput(std::min(left, kLateReplySlice));
        if (w == InputWait::Stopped) return LateReplyWait::Stopped;
        if (w == InputWait::Quiet) {
            if (!carryOn()) return LateReplyWait::Abandoned;
            continue;
        }
        if (w != InputWait::Arrived) break;  // the next command finds out what is wrong
        const std::size_t before = owed_;
        DiscardInput();
        if (owed_ == before) break;  // nothing could be read: the next command finds out why
        came = true;
    }
    // Quiet to the limit: the module owes nothing any more.
    owed_ = 0;
    // A module that answered late may send more behind it.
    if (came) AwaitQuietLine();
    return LateReplyWait::Done;
}

InputWait SerialLink::WatchLine(std::chrono::milliseconds duration) {
    using Clock = std::chrono::steady_clock;
    const auto deadline = Clock::now() + duration;
    if (hPort) {
        const InputWait w = hPort->WaitForInput(duration);
        if (w != InputWait::Failed) return w;
        // The next command finds out what is wrong with the device; the pause
        // keeps its length meanwhile.
    }
    const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now());
    if (left.count() > 0 && !stop_.SleepFor(left)) return InputWait::Stopped;
    return InputWait::Quiet;
}

void SerialLink::AwaitQuietLine() {
    using Clock = std::chrono::steady_clock;
    const auto limit = Clock::now() + kLateTailLimit;
    while (hPort) {
        DiscardInput();
        if (!hPort) return;
        const auto left = std::chrono::ceil<std::chrono::milliseconds>(limit - Clock::now());
        if (left.count() <= 0) return;
        if (hPort->WaitForInput(std::min(left, kLateTailQuiet)) != InputWait::Arrived) return;
    }
}
