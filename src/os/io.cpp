#include "os/io.h"

#include <sys/stat.h>
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

AppendMark::AppendMark(int fd) : fd_(fd) {
    struct stat st {};
    regular_ = ::fstat(fd, &st) == 0 && S_ISREG(st.st_mode);
    size_ = regular_ ? static_cast<long long>(st.st_size) : 0;
}

void AppendMark::TakeBack() const {
    if (regular_) (void)::ftruncate(fd_, static_cast<off_t>(size_));
}

FdReadBuffer::FdReadBuffer(UniqueFd fd, std::size_t capacity)
    : fd_(std::move(fd)),
      capacity_(capacity),
      // Not zeroed: a small file's read should not pay for clearing the whole buffer.
      data_(std::make_unique_for_overwrite<char[]>(capacity)) {}

FdReadBuffer::~FdReadBuffer() = default;

void FdReadBuffer::Reset(UniqueFd fd) {
    fd_ = std::move(fd);
    error_ = 0;
    setg(nullptr, nullptr, nullptr);
}

long FdReadBuffer::Fill(char* buffer, std::size_t size) {
    return ReadSome(fd_.get(), buffer, size);
}

FdReadBuffer::int_type FdReadBuffer::underflow() {
    if (gptr() < egptr()) return traits_type::to_int_type(*gptr());
    const long n = Fill(data_.get(), capacity_);
    if (n <= 0) {
        if (n < 0) error_ = errno;
        return traits_type::eof();
    }
    setg(data_.get(), data_.get(), data_.get() + n);
    return traits_type::to_int_type(*gptr());
}
