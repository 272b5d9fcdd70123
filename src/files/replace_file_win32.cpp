// FileReplacement on Windows: a hidden neighbour written, committed to the disk and
// moved over the target in one step. Windows has no owners or mode bits to carry
// over and no symbolic links a user makes by accident; a read-only target is
// refused as an ordinary open for writing would refuse it.

#include <io.h>

#include "files/file_platform.h"
#include "files/replace_file.h"
#include "files/replace_file_buf.h"
#include "os/io.h"

FileReplacement::FileReplacement(std::string path) : path_(std::move(path)) {}

FileReplacement::~FileReplacement() {
    Discard();
}

FileResult FileReplacement::Open() {
    if (opened_ || path_.empty()) return FileResult::OpenFailed;
    opened_ = true;
    target_ = path_;
    struct stat existing {};
    const bool exists = ::stat(target_.c_str(), &existing) == 0;
    if (exists && !S_ISREG(existing.st_mode)) {
        kind_ = Kind::Direct;
        fd_.reset(OpenInPlace(target_));
    } else if (exists && ::_access(target_.c_str(), 2) != 0) {
        return FileResult::OpenFailed;
    } else {
        kind_ = Kind::Replace;
        fd_.reset(CreateReplacement(target_, tempPath_));
    }
    if (!fd_) return FileResult::OpenFailed;
    buf_ = std::make_unique<FdBuf>(fd_.get(), false);
    out_.rdbuf(buf_.get());
    return FileResult::Ok;
}

std::ostream& FileReplacement::Stream() {
    return out_;
}

FileResult FileReplacement::Commit() {
    if (!buf_) return FileResult::WriteFailed;
    bool ok = static_cast<bool>(out_.flush());
    if (ok && kind_ != Kind::Direct) ok = SyncFile(fd_.get());
    out_.rdbuf(nullptr);
    buf_.reset();
    if (::_close(fd_.release()) != 0) ok = false;
    if (ok && kind_ == Kind::Replace) {
        ok = CommitReplacement(tempPath_, target_);
        if (ok) tempPath_.clear();
    }
    Discard();
    return ok ? FileResult::Ok : FileResult::WriteFailed;
}

void FileReplacement::Discard() {
    out_.rdbuf(nullptr);
    buf_.reset();
    fd_.reset();
    if (!tempPath_.empty()) {
        ::_unlink(tempPath_.c_str());
        tempPath_.clear();
    }
}
