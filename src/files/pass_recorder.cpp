#include "files/pass_recorder.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#ifndef _WIN32
#include <poll.h>
#endif

#include <cerrno>

#include "files/file_platform.h"
#include "os/deadline.h"
#include "os/io.h"

namespace {

#ifdef _WIN32
constexpr int kNoWait = 0;

int WriteBounded(int fd, const char* data, std::size_t size) {
    return WriteAll(fd, data, size);
}
#else
// A FIFO without a reader fails at once (ENXIO) instead of holding open() until
// one comes; on a pipe, writes wait in WriteBounded, never in write().
constexpr int kNoWait = O_NONBLOCK;

// Writes all of `data`, waiting at most kRecordWriteWait in all for room. 0, or the
// errno that stopped it (ETIMEDOUT when the reader took nothing in time, EPIPE when
// it is gone; SIGPIPE is ignored by the programs).
int WriteBounded(int fd, const char* data, std::size_t size) {
    const Deadline deadline = Deadline::In(kRecordWriteWait);
    while (size > 0) {
        const ssize_t n = ::write(fd, data, size);
        if (n > 0) {
            data += n;
            size -= static_cast<std::size_t>(n);
            continue;
        }
        if (n < 0 && errno == EINTR) continue;
        if (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK) return errno;
        const int left = deadline.LeftMs();
        if (left == 0) return ETIMEDOUT;
        pollfd p{fd, POLLOUT, 0};
        if (::poll(&p, 1, left) < 0 && errno != EINTR) return errno;
    }
    return 0;
}
#endif

}  // namespace

FileResult PassRecorder::Start(const std::string& path) {
    Stop();
    UniqueFd fd(
        ::open(path.c_str(), O_WRONLY | O_APPEND | O_CREAT | kFileOpenFlags | kNoWait, 0666));
    if (!fd.valid()) return FileResult::OpenFailed;
    struct stat st {};
    if (::fstat(fd.get(), &st) != 0) return FileResult::OpenFailed;
    fd_ = std::move(fd);
    clock_ = PassClock();
    // A file that already holds lines goes on under its own header.
    if (st.st_size == 0) return WriteWhole(PassLogHeader(true) + '\n');
    return FileResult::Ok;
}

FileResult PassRecorder::Append(const PassSample& sample) {
    if (!Recording()) return FileResult::WriteFailed;
    const PassClock::Stamp stamp = clock_.At(sample.steady, sample.wall);
    return WriteWhole(
        PassLogLine(stamp, sample.inputs, sample.outputs, PassLogModeName(sample.mode)) + '\n');
}

void PassRecorder::Stop() {
    fd_.reset();
}

FileResult PassRecorder::WriteWhole(const std::string& text) {
    const AppendMark mark(fd_.get());
    if (WriteBounded(fd_.get(), text.data(), text.size()) == 0) return FileResult::Ok;
    mark.TakeBack();
    Stop();
    return FileResult::WriteFailed;
}
