// The part of FileReplacement that POSIX and Windows share; OpenTarget, which finds
// and opens what is written, is in replace_file_posix.cpp or replace_file_win32.cpp.
#include "files/replace_file.h"

#ifdef _WIN32
#include <io.h>
#else
#include <unistd.h>
#endif

#include <cctype>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>
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
    // The errno of the first failed write, or 0.
    [[nodiscard]] int Error() const { return error_; }

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
            if (::_chsize(fd_, 0) != 0) return Failed(errno);
#else
            if (::ftruncate(fd_, 0) != 0) return Failed(errno);
#endif
            truncatePending_ = false;
        }
        const auto size = static_cast<std::size_t>(pptr() - pbase());
        const int error = WriteAll(fd_, pbase(), size);
        setp(buffer_, buffer_ + sizeof buffer_);
        return error == 0 || Failed(error);
    }
    bool Failed(int error) {
        if (error_ == 0) error_ = error;
        return false;
    }

    int fd_;
    int error_ = 0;
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
    errno = 0;
    if (!OpenTarget() || !fd_) {
        error_ = errno;
        Discard();
        return FileResult::OpenFailed;
    }
    buf_ = std::make_unique<FdBuf>(fd_.get(), kind_ == Kind::InPlace);
    out_.rdbuf(buf_.get());
    return FileResult::Ok;
}

int FileReplacement::Error() const {
    if (error_ == 0 && buf_) return buf_->Error();
    return error_;
}

std::ostream& FileReplacement::Stream() {
    return out_;
}

FileResult FileReplacement::Commit() {
    if (!buf_) return FileResult::WriteFailed;
    // The stream's state also holds any error of the writer's earlier writes.
    bool ok = static_cast<bool>(out_.flush());
    if (!ok) error_ = buf_->Error();
    // Only a regular file can be synced; a device reports an error that says nothing.
    if (ok && kind_ != Kind::Direct && !SyncFile(fd_.get())) {
        ok = false;
        error_ = errno;
    }
    out_.rdbuf(nullptr);
    buf_.reset();
    if (!CloseFile(fd_.release()) && ok) {
        ok = false;
        error_ = errno;
    }
    if (ok && kind_ == Kind::Replace) {
        ok = CommitReplacement(tempPath_, target_);
        if (ok) {
            tempPath_.clear();
        } else {
            error_ = errno;
        }
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

FileOutcome OpenWholeFile(FileReplacement& file) {
    if (file.Open() == FileResult::Ok) return {};
    return {FileResult::OpenFailed, OutputOpenText(file.Path(), file.Error())};
}

FileOutcome FinishWholeFile(FileReplacement& file,
                            const std::function<bool(std::ostream&)>& write) {
    const auto failed = [&file] {
        const int error = file.Error();
        return FileOutcome{FileResult::WriteFailed,
                           error != 0 ? std::strerror(error) : "not all of it reached the disk"};
    };
    // A writer that gives up leaves the old file as it was: the temporary goes
    // with `file`, uncommitted.
    if (!write(file.Stream())) {
        (void)file.Stream().flush();  // for the cause of a failed write, if that was it
        return failed();
    }
    if (file.Commit() != FileResult::Ok) return failed();
    return {};
}

FileOutcome WriteWholeFile(const std::string& path,
                           const std::function<bool(std::ostream&)>& write) {
    FileReplacement file(path);
    FileOutcome outcome = OpenWholeFile(file);
    if (!outcome.Ok()) return outcome;
    return FinishWholeFile(file, write);
}

namespace {

// Enough of a file to know its kind: a net file is about 2.5 KB.
constexpr std::size_t kSniffSize = 16384;

bool LooksLikeFlashImage(const std::string& head) {
    std::size_t k = head.compare(0, 3, "\xEF\xBB\xBF") == 0 ? 3 : 0;
    while (k < head.size() && std::isspace(static_cast<unsigned char>(head[k]))) ++k;
    if (k + 1 >= head.size()) return false;
    const auto next = static_cast<unsigned char>(head[k + 1]);
    return (head[k] == 'S' && std::isdigit(next)) || (head[k] == ':' && std::isxdigit(next));
}

bool LooksLikeNetFile(const std::string& head, bool whole) {
    if (!whole) return false;  // a net file is far smaller
    std::size_t k = head.compare(0, 3, "\xEF\xBB\xBF") == 0 ? 3 : 0;
    int numbers = 0;
    while (k < head.size()) {
        if (std::isspace(static_cast<unsigned char>(head[k]))) {
            ++k;
            continue;
        }
        if (head[k] == '-' || head[k] == '+') ++k;
        const std::size_t digits = k;
        while (k < head.size() && std::isdigit(static_cast<unsigned char>(head[k]))) ++k;
        if (k == digits) return false;
        if (k < head.size() && !std::isspace(static_cast<unsigned char>(head[k]))) return false;
        ++numbers;
    }
    return numbers == 280;
}

bool LooksLikeJUnit(const std::string& head) {
    return head.find("<testsuite") != std::string::npos;
}

const char* KindName(OutputKind kind) {
    switch (kind) {
        case OutputKind::FlashImage:
            return "a flash image";
        case OutputKind::NetFile:
            return "an ASCII net file";
        case OutputKind::JUnitReport:
            return "a JUnit report";
        case OutputKind::Any:
            break;
    }
    return "a file of this command";
}

}  // namespace

OutputCheck CheckOutput(const std::string& output, const std::vector<std::string>& inputs,
                        OutputKind kind, bool force) {
    namespace fs = std::filesystem;
    OutputCheck check;
    for (const std::string& input : inputs) {
        std::error_code error;
        if (!input.empty() && fs::equivalent(output, input, error) && !error) {
            check.refusal = OutputCheck::Refusal::SameAsInput;
            check.input = input;
            return check;
        }
    }
    std::error_code error;
    const fs::file_status status = fs::status(output, error);
    if (force || kind == OutputKind::Any || error || !fs::is_regular_file(status)) return check;
    std::ifstream in(output, std::ios::binary);
    std::string head(kSniffSize + 1, '\0');
    in.read(head.data(), static_cast<std::streamsize>(head.size()));
    head.resize(static_cast<std::size_t>(in.gcount()));
    if (head.empty()) return check;  // nothing to lose
    const bool whole = head.size() <= kSniffSize;
    bool same = false;
    switch (kind) {
        case OutputKind::FlashImage:
            same = LooksLikeFlashImage(head);
            break;
        case OutputKind::NetFile:
            same = LooksLikeNetFile(head, whole);
            break;
        case OutputKind::JUnitReport:
            same = LooksLikeJUnit(head);
            break;
        case OutputKind::Any:
            break;
    }
    if (!same) check.refusal = OutputCheck::Refusal::OtherKind;
    return check;
}

std::string OutputCheckText(const OutputCheck& check, const std::string& output, OutputKind kind) {
    switch (check.refusal) {
        case OutputCheck::Refusal::None:
            break;
        case OutputCheck::Refusal::SameAsInput:
            return output + ": is the same file as the input " + check.input +
                   "; it is left as it is (choose another output)";
        case OutputCheck::Refusal::OtherKind:
            return output + ": exists and is not " + KindName(kind) +
                   "; it is left as it is (--force replaces it)";
    }
    return {};
}

std::string OutputOpenText(const std::string& path, int error) {
    namespace fs = std::filesystem;
    std::error_code ec;
    const fs::file_status status = fs::status(path, ec);
    if (fs::is_directory(status)) return "is a folder, not a file";
    if (fs::is_fifo(status)) return "is a FIFO that no program reads";
    const fs::path folder = fs::absolute(fs::path(path), ec).parent_path();
    if (!ec && !fs::exists(folder, ec)) return "its folder " + folder.string() + " does not exist";
    if (!ec && !fs::is_directory(folder, ec)) return folder.string() + " is not a folder";
    return std::string("cannot be written: ") +
           (error != 0 ? std::strerror(error) : "unknown cause");
}
