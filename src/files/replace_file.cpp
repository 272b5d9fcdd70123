// The part of FileReplacement that POSIX and Windows share; OpenTarget, which finds
// and opens what is written, is in replace_file_posix.cpp or replace_file_win32.cpp.
#include "files/replace_file.h"

#ifdef _WIN32
#include <io.h>
#else
#include <unistd.h>
#endif

#include <streambuf>
#include <utility>

#include "files/file_platform.h"
#include "os/io.h"

// A buffered stream onto a descriptor, so that the stream's error state reflects
// failed writes (ENOSPC, EIO, EFBIG) and the descriptor stays ours to sync. Every
// byte goes out with WriteAll; a file written in place is truncated only when its
// first bytes are about to go out, so an export abandoned before then leaves it whole.
class FileReplacement::FdBuf final : public std::streambuf {
public:
    FdBuf(int fd, bool truncateFirst) : fd_(fd), truncatePending_(truncateFirst) {
        setp(buffer_, buffer_ + sizeof buffer_);
    }

protected:
    int_type overflow(int_type ch) override {
        if (!Drain()) return traits_type::eof();
        if (!traits_type::eq_int_type(ch, traits_type::eof())) {
            *pptr() = traits_type::to_char_type(ch);
            pbump(1);
        }
        return traits_type::not_eof(ch);
    }
    int sync() override { return Drain() ? 0 : -1; }

private:
    bool Drain() {
        if (truncatePending_) {
#ifdef _WIN32
            if (::_chsize(fd_, 0) != 0) return false;
#else
            if (::ftruncate(fd_, 0) != 0) return false;
#endif
            truncatePending_ = false;
        }
        const auto size = static_cast<std::size_t>(pptr() - pbase());
        const bool ok = WriteAll(fd_, pbase(), size) == 0;
        setp(buffer_, buffer_ + sizeof buffer_);
        return ok;
    }

    int fd_;
    bool truncatePending_;
    char buffer_[4096];
};

FileReplacement::FileReplacement(std::string path) : path_(std::move(path)) {}

FileReplacement::~FileReplacement() {
    Discard();
}

FileResult FileReplacement::Open() {
    if (opened_ || path_.empty()) return FileResult::OpenFailed;
    opened_ = true;
    target_ = path_;
    if (!OpenTarget() || !fd_) {
        Discard();
        return FileResult::OpenFailed;
    }
    buf_ = std::make_unique<FdBuf>(fd_.get(), kind_ == Kind::InPlace);
    out_.rdbuf(buf_.get());
    return FileResult::Ok;
}

std::ostream& FileReplacement::Stream() {
    return out_;
}

FileResult FileReplacement::Commit() {
    if (!buf_) return FileResult::WriteFailed;
    // The stream's state also holds any error of the writer's earlier writes.
    bool ok = static_cast<bool>(out_.flush());
    // Only a regular file can be synced; a device reports an error that says nothing.
    if (ok && kind_ != Kind::Direct) ok = SyncFile(fd_.get());
    out_.rdbuf(nullptr);
    buf_.reset();
    if (!CloseFile(fd_.release())) ok = false;
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
        RemoveFile(tempPath_);
        tempPath_.clear();
    }
}
