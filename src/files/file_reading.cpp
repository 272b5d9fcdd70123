#include "files/file_reading.h"

#include <algorithm>
#include <streambuf>

#include "files/file_platform.h"
#include "os/io.h"

class BoundedFileStream::Buf final : public std::streambuf {
public:
    explicit Buf(ReadLimits limits) : limits_(limits) {}

    FileResult Open(const std::string& path) {
        // Never waits for a FIFO's writer: one without reads as empty at once.
        fd_ = OpenForReading(path);
        if (!fd_) return FileResult::OpenFailed;
        deadline_ = Clock::now() + limits_.total;
        result_ = FileResult::Ok;
        return result_;
    }
    [[nodiscard]] FileResult Result() const { return result_; }

protected:
    int_type underflow() override {
        if (gptr() < egptr()) return traits_type::to_int_type(*gptr());
        if (result_ != FileResult::Ok) return traits_type::eof();
        const auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(deadline_ - Clock::now());
        if (left.count() <= 0) return Fail();
        const long n = ReadWithin(fd_.get(), data_, sizeof data_, std::min(limits_.idle, left));
        if (n < 0) return Fail();
        if (n == 0) return traits_type::eof();
        setg(data_, data_, data_ + n);
        return traits_type::to_int_type(*gptr());
    }

private:
    using Clock = std::chrono::steady_clock;

    int_type Fail() {
        result_ = FileResult::ReadFailed;
        return traits_type::eof();
    }

    ReadLimits limits_;
    UniqueFd fd_;
    Clock::time_point deadline_{};
    FileResult result_ = FileResult::OpenFailed;
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
