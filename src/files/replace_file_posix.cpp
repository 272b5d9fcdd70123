// FileReplacement::OpenTarget on POSIX: links followed, owner and mode carried over.
#include "files/replace_file.h"

#include <fcntl.h>
#include <limits.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>

#include "files/file_platform.h"

namespace fs = std::filesystem;

namespace {

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

}  // namespace

bool FileReplacement::OpenTarget() {
    struct stat existing {};
    const Lookup lookup = FollowLinks(target_, existing);
    if (lookup == Lookup::Failed) return false;
    const bool exists = lookup == Lookup::Found;

    if (exists && !S_ISREG(existing.st_mode)) {
        // A device or a FIFO cannot be swapped for a new file; folders fail here.
        kind_ = Kind::Direct;
        fd_ = OpenExisting(target_, O_TRUNC);
        if (!fd_) return false;
    } else if (exists && ::faccessat(AT_FDCWD, target_.c_str(), W_OK, AT_EACCESS) != 0) {
        // What an ordinary open for writing would refuse, the rename must not do.
        return false;
    } else if (exists && existing.st_nlink > 1) {
        // A rename would split the names: only the one given would see the new bytes.
        kind_ = Kind::InPlace;
        fd_ = OpenExisting(target_, 0);
        if (!fd_) return false;
    } else {
        kind_ = Kind::Replace;
        const fs::path target(target_);
        fs::path folder = target.parent_path();
        if (folder.empty()) folder = ".";
        // A hidden neighbour, short enough for any file name the folder accepts.
        const std::string name = "." + target.filename().string().substr(0, 200) + ".XXXXXX";
        std::string temp = (folder / name).string();
        fd_.reset(::mkostemp(temp.data(), O_CLOEXEC));
        if (!fd_) return false;
        tempPath_ = temp;
        if (exists) {
            // The replacement keeps the old file's owner, group and mode; where the
            // system does not let us give it away, the old file stays as it is.
            struct stat mine {};
            const bool sameOwner = ::fstat(fd_.get(), &mine) == 0 &&
                                   mine.st_uid == existing.st_uid && mine.st_gid == existing.st_gid;
            if ((!sameOwner && ::fchown(fd_.get(), existing.st_uid, existing.st_gid) != 0) ||
                ::fchmod(fd_.get(), existing.st_mode & 07777) != 0) {
                return false;
            }
        } else {
            (void)::fchmod(fd_.get(), NewFileMode());
        }
    }
    return true;
}
