#include "files/file_reading.h"

#include <algorithm>

#include "files/file_platform.h"
#include "os/deadline.h"
#include "os/io.h"

// The descriptor buffer, filled with reads that wait no longer than the limits.
class BoundedFileStream::Buf final : public FdReadBuffer {
public:
    // The files read this way are small (a net file, a flash image).
    explicit Buf(ReadLimits limits) : FdReadBuffer(UniqueFd(), 16384), limits_(limits) {}

    FileResult Open(const std::string& path) {
        // Never waits for a FIFO's writer: one without reads as empty at once.
        Reset(OpenForReading(path));
        if (!Fd()) return FileResult::OpenFailed;
        deadline_ = Deadline::In(limits_.total);
        result_ = FileResult::Ok;
        return result_;
    }
    [[nodiscard]] FileResult Result() const { return result_; }

protected:
    long Fill(char* buffer, std::size_t size) override {
        if (result_ != FileResult::Ok) return 0;
        const std::chrono::milliseconds left = deadline_.LeftAt(Deadline::Clock::now());
        if (left.count() <= 0) return Fail();
        const long n = ReadWithin(Fd().get(), buffer, size, std::min(limits_.idle, left));
        return n < 0 ? Fail() : n;
    }

private:
    long Fail() {
        result_ = FileResult::ReadFailed;
        return -1;
    }

    ReadLimits limits_;
    Deadline deadline_{Deadline::Clock::time_point()};
    FileResult result_ = FileResult::OpenFailed;
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
