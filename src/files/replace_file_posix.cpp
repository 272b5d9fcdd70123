#include "files/replace_file.h"

#include <fcntl.h>
#include <limits.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <streambuf>
#include <utility>

#include "files/replace_file_buf.h"
#include "os/io.h"

namespace fs = std::filesystem;

namespace {

// As many links as the kernel follows before it gives up with ELOOP.
constexpr int kMaxLinkHops = 40;

// The new file's permissions as an ordinary create would give them: 0666 less the
// umask. The umask is read from /proc because umask() would change it for every
// thread for a moment.
mode_t NewFileMode() {
    mode_t mask = 022;
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line)) {
        if (line.rfind("Umask:", 0) == 0) {
            mask = static_cast<mode_t>(std::strtoul(line.c_str() + 6, nullptr, 8));
            break;
        }
    }
    return 0666 & ~mask;
}

enum class Lookup { Missing, Found, Failed };

// Follows symbolic links at the end of `path` as open() would, so that the file
// replaced is the one an ordinary write would have changed, and a dangling link
// leads to the file an ordinary write would have created. The folders on the way
// are left to the kernel. `st` describes what was found.
Lookup FollowLinks(std::string& path, struct stat& st) {
    for (int hop = 0; hop <= kMaxLinkHops; ++hop) {
        if (::lstat(path.c_str(), &st) != 0) {
            return errno == ENOENT ? Lookup::Missing : Lookup::Failed;
        }
        if (!S_ISLNK(st.st_mode)) return Lookup::Found;
        char link[PATH_MAX];
        const ssize_t size = ::readlink(path.c_str(), link, sizeof link);
        if (size <= 0 || static_cast<std::size_t>(size) >= sizeof link) return Lookup::Failed;
        const fs::path next(std::string(link, static_cast<std::size_t>(size)));
        // A relative link is relative to the folder that holds it.
        path = next.is_absolute() ? next.string() : (fs::path(path).parent_path() / next).string();
    }
    return Lookup::Failed;  // a loop, or a chain as long as one
}

// Opens an existing file that is not replaced but written as it is. O_NONBLOCK
// makes a FIFO without a reader fail (ENXIO) instead of waiting for one; the
// writes themselves block as usual.
UniqueFd OpenExisting(const std::string& path, int flags) {
    UniqueFd fd(::open(path.c_str(), O_WRONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK | flags));
    if (!fd) return fd;
    const int status = ::fcntl(fd.get(), F_GETFL);
    if (status < 0 || ::fcntl(fd.get(), F_SETFL, status & ~O_NONBLOCK) != 0) fd.reset();
    return fd;
}

void SyncFolderOf(const std::string& path) {
    fs::path folder = fs::path(path).parent_path();
    if (folder.empty()) folder = ".";
    const UniqueFd dir(::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (dir) (void)::fsync(dir.get());
}

}  // namespace

// A buffered stream onto a descriptor, so that the stream's error state reflects
// failed writes (ENOSPC, EIO, EFBIG) and the descriptor stays ours to fsync. For a
// file written in place the truncation waits for the first bytes that leave the
// buffer, so a writer that gives up before leaves the old file whole.
FileReplacement::FileReplacement(std::string path) : path_(std::move(path)) {}

FileReplacement::~FileReplacement() {
    Discard();
}

FileResult FileReplacement::Open() {
    if (opened_ || path_.empty()) return FileResult::OpenFailed;
    opened_ = true;

    target_ = path_;
    struct stat existing {};
    const Lookup lookup = FollowLinks(target_, existing);
    if (lookup == Lookup::Failed) return FileResult::OpenFailed;
    const bool exists = lookup == Lookup::Found;

    if (exists && !S_ISREG(existing.st_mode)) {
        // A device or a FIFO cannot be swapped for a new file; folders fail here.
        kind_ = Kind::Direct;
        fd_ = OpenExisting(target_, O_TRUNC);
        if (!fd_) return FileResult::OpenFailed;
    } else if (exists && ::faccessat(AT_FDCWD, target_.c_str(), W_OK, AT_EACCESS) != 0) {
        // What an ordinary open for writing would refuse, the rename must not do.
        return FileResult::OpenFailed;
    } else if (exists && existing.st_nlink > 1) {
        // A rename would split the names: only the one given would see the new bytes.
        kind_ = Kind::InPlace;
        fd_ = OpenExisting(target_, 0);
        if (!fd_) return FileResult::OpenFailed;
    } else {
        kind_ = Kind::Replace;
        const fs::path target(target_);
        fs::path folder = target.parent_path();
        if (folder.empty()) folder = ".";
        // A hidden neighbour, short enough for any file name the folder accepts.
        const std::string name = "." + target.filename().string().substr(0, 200) + ".XXXXXX";
        std::string temp = (folder / name).string();
        fd_.reset(::mkostemp(temp.data(), O_CLOEXEC));
        if (!fd_) return FileResult::OpenFailed;
        tempPath_ = temp;
        if (exists) {
            // The replacement keeps the old file's owner, group and mode; where the
            // system does not let us give it away, the old file stays as it is.
            struct stat mine {};
            const bool sameOwner = ::fstat(fd_.get(), &mine) == 0 &&
                                   mine.st_uid == existing.st_uid && mine.st_gid == existing.st_gid;
            if ((!sameOwner && ::fchown(fd_.get(), existing.st_uid, existing.st_gid) != 0) ||
                ::fchmod(fd_.get(), existing.st_mode & 07777) != 0) {
                Discard();
                return FileResult::OpenFailed;
            }
        } else {
            (void)::fchmod(fd_.get(), NewFileMode());
        }
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
    // Only a regular file can be synced; a device reports EINVAL, which says nothing.
    if (ok && kind_ != Kind::Direct) ok = ::fsync(fd_.get()) == 0;
    out_.rdbuf(nullptr);
    buf_.reset();
    if (::close(fd_.release()) != 0) ok = false;
    if (ok && kind_ == Kind::Replace) {
        ok = ::rename(tempPath_.c_str(), target_.c_str()) == 0;
        if (ok) {
            tempPath_.clear();
            // Make the new name itself durable; the data already is.
            SyncFolderOf(target_);
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
        ::unlink(tempPath_.c_str());
        tempPath_.clear();
    }
}
