#include "os/io.h"

#include <unistd.h>

#include <cerrno>

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

FdInputStream::FdInputStream(FdInputStream&& other) noexcept
    : std::istream(nullptr), buf_(std::move(other.buf_)) {
    rdbuf(buf_.get());
    other.rdbuf(nullptr);
}

FdInputStream::~FdInputStream() = default;

int FdInputStream::error() const {
    return buf_ ? buf_->error : 0;
}
