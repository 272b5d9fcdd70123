#pragma once
// The output buffer of a FileReplacement, shared by the POSIX and the Windows
// implementation (replace_file_posix.cpp, replace_file_win32.cpp): every byte goes out
// with WriteAll, and a file written in place is truncated only when its first
// bytes are about to go out, so an export abandoned before then leaves it whole.
//
// Thread rules: one writer at a time, like the FileReplacement that owns it.

#ifdef _WIN32
#include <io.h>
#else
#include <unistd.h>
#endif

#include <streambuf>

#include "files/replace_file.h"
#include "os/io.h"

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
