#include "files/file_reading.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <string>
#include <utility>

#include "files/file_platform.h"
#include "os/deadline.h"
#include "os/io.h"

// The descriptor buffer, filled with reads that wait no longer than the limits.
class BoundedFileStream::Buf final : public FdReadBuffer {
public:
    // 16 KiB a read: net files and images fit in one, training rows take a few.
    explicit Buf(ReadLimits limits) : FdReadBuffer(UniqueFd(), 16384), limits_(limits) {}

    FileResult Open(const std::string& path) {
        // Never waits for a FIFO's writer: one without reads as empty at once.
        Reset(OpenForReading(path));
        if (!Fd()) {
            reason_ = std::strerror(errno);
            return FileResult::OpenFailed;
        }
        // Only a writer can make a read trickle; a regular file takes what it takes.
        deadline_ = IsRegularFile(Fd().get()) ? Deadline(Deadline::Clock::time_point::max())
                                              : Deadline::In(limits_.total);
        result_ = FileResult::Ok;
        return result_;
    }
    [[nodiscard]] FileResult Result() const { return result_; }
    [[nodiscard]] FileOutcome Outcome() const { return {result_, reason_}; }

protected:
    long Fill(char* buffer, std::size_t size) override {
        if (result_ != FileResult::Ok) return 0;
        const std::chrono::milliseconds left = deadline_.LeftAt(Deadline::Clock::now());
        if (left.count() <= 0) return Fail(TotalLimitText());
        const long n = ReadWithin(Fd().get(), buffer, size, std::min(limits_.idle, left));
        if (n >= 0) return n;
        const int error = errno;
        if (error == ETIMEDOUT) {
            return Fail(left < limits_.idle
                            ? TotalLimitText()
                            : "no data came for " + std::to_string(limits_.idle.count()) + " ms");
        }
        return Fail(error == EISDIR ? "is a folder, not a file" : std::strerror(error));
    }

private:
    [[nodiscard]] std::string TotalLimitText() const {
        return "the data did not all come within " + std::to_string(limits_.total.count()) + " ms";
    }
    long Fail(std::string reason) {
        result_ = FileResult::ReadFailed;
        reason_ = std::move(reason);
        return -1;
    }

    ReadLimits limits_;
    Deadline deadline_{Deadline::Clock::time_point()};
    FileResult result_ = FileResult::OpenFailed;
    std::string reason_;  // why result_ is not Ok
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
