#include "engine/serial_device_posix.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>

#include "engine/native_serial.h"
#include "engine/stop_signal.h"
#include "os/deadline.h"
#include "os/unique_fd.h"

namespace {

enum class WaitResult { Ready, ReadyHungUp, HungUp, TimedOut, Woken, Failed };

// Waits until `fd` is ready for `events`, the deadline passes or the wake
// descriptor becomes readable. On Failed, errno tells why.
WaitResult WaitFor(int fd, short events, int wakeFd, Deadline deadline) {
    for (;;) {
        const int left = deadline.LeftMs();
        if (left == 0) return WaitResult::TimedOut;
        pollfd fds[2] = {{fd, events, 0}, {wakeFd, POLLIN, 0}};
        const int r = ::poll(fds, wakeFd >= 0 ? 2 : 1, left);
        if (r < 0) {
            if (errno == EINTR) continue;
            return WaitResult::Failed;
        }
        if (r == 0) continue;  // the deadline check above decides
        if (wakeFd >= 0 && (fds[1].revents & POLLIN)) return WaitResult::Woken;
        const bool hungUp = (fds[0].revents & (POLLHUP | POLLERR | POLLNVAL)) != 0;
        // A hung-up terminal also reports itself readable: only data still queued
        // would make that true, and then the read below finds it first.
        if (fds[0].revents & events) return hungUp ? WaitResult::ReadyHungUp : WaitResult::Ready;
        if (hungUp) return WaitResult::HungUp;
    }
}

class TermiosDevice final : public SerialDevice {
public:
    TermiosDevice(UniqueFd fd, int wakeFd, SerialTimeouts timeouts)
        : fd_(std::move(fd)), wakeFd_(wakeFd), timeouts_(timeouts) {}
    ~TermiosDevice() override {
        // The exclusive flag may outlive our descriptor on some drivers.
        ::ioctl(fd_.get(), TIOCNXCL);
    }
    TermiosDevice(const TermiosDevice&) = delete;
    TermiosDevice& operator=(const TermiosDevice&) = delete;

    SerialTransfer Write(const char* data, std::size_t size) override {
        const Deadline deadline =
            Deadline::In(Budget(timeouts_.writeTotalPerByte, timeouts_.writeTotalConstant, size));
        SerialTransfer t;
        while (t.count < size) {
            const ssize_t n = ::write(fd_.get(), data + t.count, size - t.count);
            if (n > 0) {
                t.count += static_cast<std::size_t>(n);
                continue;
            }
            if (n < 0 && errno == EINTR) continue;
            if (n < 0 && errno != EAGAIN) return Failed(t, errno);
            if (!Wait(t, POLLOUT, deadline)) return t;
        }
        return t;
    }

    SerialTransfer Read(char* buffer, std::size_t size) override {
        const Deadline total =
            Deadline::In(Budget(timeouts_.readTotalPerByte, timeouts_.readTotalConstant, size));
        // The gap between two bytes counts only once the first byte has come.
        Deadline deadline = total;
        hungUp_ = false;
        SerialTransfer t;
        while (t.count < size) {
            const ssize_t n = ::read(fd_.get(), buffer + t.count, size - t.count);
            if (n > 0) {
                t.count += static_cast<std::size_t>(n);
                deadline =
                    total.Sooner(Deadline::In(std::chrono::milliseconds(timeouts_.readInterval)));
                continue;
            }
            // With VMIN = VTIME = 0 an empty queue reads as 0 bytes, not EAGAIN; after
            // a hang-up it stays that way, so poll's verdict decides.
            if (n == 0 && hungUp_) return Failed(t, EIO);
            if (n < 0 && errno == EINTR) continue;
            if (n < 0 && errno != EAGAIN) return Failed(t, errno);
            if (!Wait(t, POLLIN, deadline)) return t;
        }
        return t;
    }

    void DiscardInput() override { ::tcflush(fd_.get(), TCIFLUSH); }

    InputWait WaitForInput(std::chrono::milliseconds duration) override {
        switch (WaitFor(fd_.get(), POLLIN, wakeFd_, Deadline::In(duration))) {
            case WaitResult::Ready:
                return InputWait::Arrived;
            case WaitResult::ReadyHungUp:
                // A hung-up terminal reports itself readable with nothing queued: that
                // is a device gone, not a byte that came (a stray byte is told apart).
                return Queued() > 0 ? InputWait::Arrived : InputWait::Failed;
            case WaitResult::TimedOut:
                return InputWait::Quiet;
            case WaitResult::Woken:
                return InputWait::Stopped;
            case WaitResult::HungUp:
            case WaitResult::Failed:
                return InputWait::Failed;
        }
        return InputWait::Failed;
    }

private:
    // Bytes received and not read; 0 when the device cannot tell.
    int Queued() const {
        int queued = 0;
        return ::ioctl(fd_.get(), FIONREAD, &queued) == 0 ? queued : 0;
    }

    static std::chrono::milliseconds Budget(int perByte, int constant, std::size_t size) {
        return std::chrono::milliseconds(
            static_cast<long long>(perByte) * static_cast<long long>(size) + constant);
    }

    static SerialTransfer Failed(SerialTransfer t, int error) {
        t.error = error;
        t.deviceGone = IsDeviceGoneError(error);
        return t;
    }

    // True when the descriptor is ready; otherwise `t` carries the reason to stop.
    bool Wait(SerialTransfer& t, short events, Deadline deadline) {
        switch (WaitFor(fd_.get(), events, wakeFd_, deadline)) {
            case WaitResult::Ready:
                hungUp_ = false;
                return true;
            case WaitResult::ReadyHungUp:
                hungUp_ = true;
                return true;
            case WaitResult::TimedOut:
                t = Failed(t, ETIMEDOUT);
                return false;
            case WaitResult::Woken:
                t = Failed(t, EINTR);
                return false;
            case WaitResult::HungUp:
                t = Failed(t, EIO);
                return false;
            case WaitResult::Failed:
                t = Failed(t, errno);
                return false;
        }
        return false;
    }

    UniqueFd fd_;
    int wakeFd_;
    SerialTimeouts timeouts_;
    bool hungUp_ = false;  // the last wait saw a hang-up along with readiness
};

SerialOpenResult Fail(LinkStage stage, int error) {
    SerialOpenResult r;
    r.stage = stage;
    r.error = error;
    return r;
}

}  // namespace

bool IsDeviceGoneError(int error) {
    return error == EIO || error == ENXIO || error == ENODEV;
}

SerialOpenResult TermiosOpener::Open(const std::string& path, const StopSignal& stop) {
    // Non-blocking from the start: without CLOCAL yet, a blocking open of a real
    // port would wait for the carrier.
    UniqueFd owned(::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC));
    if (!owned) return Fail(LinkStage::Open, errno);
    const int fd = owned.get();
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0) return Fail(LinkStage::Open, errno);
    // Not a terminal at all: tcgetattr below reports it as a settings failure.
    if (::ioctl(fd, TIOCEXCL) != 0 && errno != ENOTTY) return Fail(LinkStage::Open, errno);

    termios tio{};
    if (::tcgetattr(fd, &tio) != 0) return Fail(LinkStage::ReadSettings, errno);

    ::cfmakeraw(&tio);
    tio.c_cflag &= ~static_cast<tcflag_t>(CSIZE | PARENB | CSTOPB | CRTSCTS);
    tio.c_cflag |= CS8 | CREAD | CLOCAL;
    tio.c_iflag &= ~static_cast<tcflag_t>(IXON | IXOFF | IXANY);
    if (::cfsetispeed(&tio, B9600) != 0 || ::cfsetospeed(&tio, B9600) != 0 ||
        ::tcsetattr(fd, TCSANOW, &tio) != 0) {
        return Fail(LinkStage::ApplySettings, errno);
    }
    const int lines = TIOCM_DTR | TIOCM_RTS;
    if (::ioctl(fd, TIOCMBIC, &lines) != 0 && errno != ENOTTY && errno != EINVAL) {
        return Fail(LinkStage::ApplySettings, errno);
    }

    // Reads return at once with what is there; poll() keeps the time-outs.
    tio.c_cc[VMIN] = 0;
    tio.c_cc[VTIME] = 0;
    if (::tcsetattr(fd, TCSANOW, &tio) != 0) return Fail(LinkStage::ApplyTimeouts, errno);
    // Whatever came in before we were ready is no reply to anything we sent.
    ::tcflush(fd, TCIFLUSH);

    SerialOpenResult r;
    r.device = std::make_unique<TermiosDevice>(std::move(owned), stop.Fd(), timeouts_);
    r.stage = LinkStage::None;
    return r;
}

std::unique_ptr<SerialOpener> MakeNativeSerialOpener() {
    return std::make_unique<TermiosOpener>();
}
