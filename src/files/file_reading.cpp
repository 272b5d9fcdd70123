#include "files/file_reading.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <streambuf>
#include <string>
#include <utility>

#include "files/file_platform.h"
#include "os/io.h"

class BoundedFileStream::Buf final : public std::streambuf {
public:
    explicit Buf(ReadLimits limits) : limits_(limits) {}

    FileResult Open(const std::string& path) {
        // Never waits for a FIFO's writer: one without reads as empty at once.
        fd_ = OpenForReading(path);
        if (!fd_) {
            reason_ = std::strerror(errno);
            return FileResult::OpenFailed;
        }
        // Only a writer can make a read trickle; a regular file takes what it takes.
        deadline_ =
            IsRegularFile(fd_.get()) ? Clock::time_point::max() : Clock::now() + limits_.total;
        result_ = FileResult::Ok;
        return result_;
    }
    [[nodiscard]] FileResult Result() const { return result_; }
    [[nodiscard]] FileOutcome Outcome() const { return {result_, reason_}; }

protected:
    int_type underflow() override {
        if (gptr() < egptr()) return traits_type::to_int_type(*gptr());
        if (result_ != FileResult::Ok) return traits_type::eof();
        const auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(deadline_ - Clock::now());
        if (left.count() <= 0) {
            return Fail("the data did not all come within " +
                        std::to_string(limits_.total.count()) + " ms");
        }
        const long n = ReadWithin(fd_.get(), data_, sizeof data_, std::min(limits_.idle, left));
        if (n < 0) {
            const int error = errno;
            if (error == ETIMEDOUT) {
                return Fail(left < limits_.idle ? "the data did not all come within " +
                                                      std::to_string(limits_.total.count()) + " ms"
                                                : "no data came for " +
                                                      std::to_string(limits_.idle.count()) + " ms");
            }
            return Fail(error == EISDIR ? "is a folder, not a file" : std::strerror(error));
        }
        if (n == 0) return traits_type::eof();
        setg(data_, data_, data_ + n);
        return traits_type::to_int_type(*gptr());
    }

private:
    using Clock = std::chrono::steady_clock;

    int_type Fail(std::string reason) {
        result_ = FileResult::ReadFailed;
        reason_ = std::move(reason);
        return traits_type::eof();
    }

    ReadLimits limits_;
    UniqueFd fd_;
    Clock::time_point deadline_{};
    FileResult result_ = FileResult::OpenFailed;
    std::string reason_;  // why result_ is not Ok
    char data_[16384];
};

BoundedFileStream::BoundedFileStream(ReadLimits limits)
    : std::istream(nullptr), buf_(std::make_unique<Buf>(limits)) {
    rdbuf(buf_.get());
}

BoundedFileStream::~BoundedFileStream() = default;

FileResult BoundedFileStream::Open(const std::string& path) {
    const FileResult result = buf_->Open(path);
    if (result != FileResult::Ok) setstate(std::ios::failbit);
    return result;
}

FileResult BoundedFileStream::Result() const {
    return buf_->Result();
}

FileOutcome BoundedFileStream::Outcome() const {
    return buf_->Outcome();
}
