#include "posix/posix_io.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/signalfd.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>

void UniqueFd::reset(int fd) {
    if (fd_ >= 0 && fd_ != fd) ::close(fd_);
    fd_ = fd;
}

int WriteAll(int fd, const void* data, std::size_t size) {
    const char* bytes = static_cast<const char*>(data);
    while (size > 0) {
        const ssize_t n = ::write(fd, bytes, size);
        if (n < 0) {
            if (errno == EINTR) continue;
            return errno;
        }
        if (n == 0) return EIO;  // a write that moves nothing would loop for ever
        bytes += n;
        size -= static_cast<std::size_t>(n);
    }
    return 0;
}

UniqueFd OpenForReading(const std::string& path) {
    return UniqueFd(::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY));
}

long ReadSome(int fd, void* buffer, std::size_t size) {
    for (;;) {
        const ssize_t n = ::read(fd, buffer, size);
        if (n >= 0) return static_cast<long>(n);
        if (errno == EINTR) continue;
        if (errno != EAGAIN && errno != EWOULDBLOCK) return -1;
        // A writer is there but has sent nothing yet: wait for data or its close.
        pollfd p{fd, POLLIN, 0};
        if (::poll(&p, 1, -1) < 0 && errno != EINTR) return -1;
    }
}

class FdInputStream::Buf final : public std::streambuf {
public:
    Buf(int fd, bool owned) : fd_(fd), owned_(owned) {}
    ~Buf() override {
        if (owned_ && fd_ >= 0) ::close(fd_);
    }
    Buf(const Buf&) = delete;
    Buf& operator=(const Buf&) = delete;
    int error = 0;

protected:
    int_type underflow() override {
        if (gptr() < egptr()) return traits_type::to_int_type(*gptr());
        const long n = ReadSome(fd_, data_, sizeof data_);
        if (n <= 0) {
            if (n < 0) error = errno;
            return traits_type::eof();
        }
        setg(data_, data_, data_ + n);
        return traits_type::to_int_type(*gptr());
    }

private:
    int fd_;
    bool owned_;
    char data_[1 << 16];
};

FdInputStream::FdInputStream(int fd, bool owned)
    : std::istream(nullptr), buf_(std::make_unique<Buf>(fd, owned)) {
    rdbuf(buf_.get());
}

FdInputStream::FdInputStream(UniqueFd fd) : FdInputStream(fd.release(), true) {}

FdInputStream FdInputStream::Borrow(int fd) {
    return FdInputStream(fd, false);
}

FdInputStream::FdInputStream(FdInputStream&& other) noexcept
    : std::istream(nullptr), buf_(std::move(other.buf_)) {
    rdbuf(buf_.get());
    other.rdbuf(nullptr);
}

FdInputStream::~FdInputStream() = default;

int FdInputStream::error() const {
    return buf_ ? buf_->error : 0;
}

bool OpenPseudoTerminal(PseudoTerminal& pty, int masterFlags) {
    UniqueFd master(::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC | masterFlags));
    if (!master || ::grantpt(master.get()) != 0 || ::unlockpt(master.get()) != 0) return false;
    char name[256];
    if (::ptsname_r(master.get(), name, sizeof name) != 0) return false;
    // Raw from the start, so nothing is echoed or translated before the other end
    // configures itself.
    termios tio{};
    if (::tcgetattr(master.get(), &tio) == 0) {
        ::cfmakeraw(&tio);
        ::tcsetattr(master.get(), TCSANOW, &tio);
    }
    pty.master = std::move(master);
    pty.slavePath = name;
    return true;
}

TerminationSignals::TerminationSignals() {
    sigset_t signals;
    sigemptyset(&signals);
    sigaddset(&signals, SIGINT);
    sigaddset(&signals, SIGTERM);
    sigaddset(&signals, SIGHUP);
    if (::pthread_sigmask(SIG_BLOCK, &signals, nullptr) != 0) return;
    fd_.reset(::signalfd(-1, &signals, SFD_CLOEXEC | SFD_NONBLOCK));
}

bool TerminationSignals::Wait(std::chrono::milliseconds timeout) {
    if (!fd_) return false;
    pollfd p{fd_.get(), POLLIN, 0};
    int r;
    do {
        r = ::poll(&p, 1, static_cast<int>(timeout.count()));
    } while (r < 0 && errno == EINTR);
    if (r <= 0) return false;
    signalfd_siginfo info{};
    return ::read(fd_.get(), &info, sizeof info) == static_cast<ssize_t>(sizeof info);
}
