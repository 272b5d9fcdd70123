#include "files/pass_recorder.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "files/file_platform.h"
#include "files/pass_log.h"
#include "os/io.h"

const char* RecordResultText(RecordResult result) {
    switch (result) {
        case RecordResult::Ok:
            return "";
        case RecordResult::OpenFailed:
            return "File opening failed. Check file name...";
        case RecordResult::WriteFailed:
            return "Error writing file";
    }
    return "";
}

RecordResult PassRecorder::Start(const std::string& path) {
    Stop();
    UniqueFd fd(::open(path.c_str(), O_WRONLY | O_APPEND | O_CREAT | kFileOpenFlags, 0666));
    if (!fd.valid()) return RecordResult::OpenFailed;
    struct stat st {};
    if (::fstat(fd.get(), &st) != 0) return RecordResult::OpenFailed;
    fd_ = std::move(fd);
    started_ = false;
    // A file that already holds lines goes on under its own header.
    if (st.st_size == 0) return WriteWhole(PassLogHeader(true) + '\n');
    return RecordResult::Ok;
}

RecordResult PassRecorder::Append(const PassSample& sample) {
    if (!Recording()) return RecordResult::WriteFailed;
    if (!started_) {
        started_ = true;
        first_ = sample.steady;
    }
    const PassClock::Stamp stamp{
        LocalIso8601(sample.wall),
        std::chrono::duration_cast<std::chrono::milliseconds>(sample.steady - first_).count()};
    return WriteWhole(
        PassLogLine(stamp, sample.inputs, sample.outputs, PassLogModeName(sample.mode)) + '\n');
}

void PassRecorder::Stop() {
    fd_.reset();
}

RecordResult PassRecorder::WriteWhole(const std::string& text) {
    struct stat before {};
    const bool regular = ::fstat(fd_.get(), &before) == 0 && S_ISREG(before.st_mode);
    if (WriteAll(fd_.get(), text.data(), text.size()) == 0) return RecordResult::Ok;
    // Half a line would run into whatever is appended to the file next.
    if (regular) (void)::ftruncate(fd_.get(), before.st_size);
    Stop();
    return RecordResult::WriteFailed;
}
