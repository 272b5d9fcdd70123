#include <fcntl.h>
#include <limits.h>
#include <poll.h>
#include <unistd.h>

#include <cerrno>
#include <filesystem>

#include "files/file_platform.h"
#include "os/deadline.h"
#include "os/unique_fd.h"

namespace fs = std::filesystem;

namespace {

// As many links as the kernel follows before it gives up with ELOOP.
constexpr int kMaxLinkHops = 40;

void SyncFolderOf(const std::string& path) {
    fs::path folder = fs::path(path).parent_path();
    if (folder.empty()) folder = ".";
    const UniqueFd dir(::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (dir) (void)::fsync(dir.get());
}

}  // namespace

const int kFileOpenFlags = O_CLOEXEC;

long ReadWithin(int fd, void* buffer, std::size_t size, std::chrono::milliseconds wait) {
    const Deadline deadline = Deadline::In(wait);
    for (;;) {
        const ssize_t n = ::read(fd, buffer, size);
        if (n >= 0) return static_cast<long>(n);
        if (errno == EINTR) continue;
        if (errno != EAGAIN && errno != EWOULDBLOCK) return -1;
        // A writer is there but has sent nothing yet: wait for data or its close,
        // no longer than asked.
        const int left = deadline.LeftMs();
        if (left == 0) {
            errno = ETIMEDOUT;
            return -1;
        }
        pollfd p{fd, POLLIN, 0};
        if (::poll(&p, 1, left) < 0 && errno != EINTR) return -1;
    }
}

bool IsRegularFile(int fd) {
    struct stat st {};
    return ::fstat(fd, &st) == 0 && S_ISREG(st.st_mode);
}

bool SyncFile(int fd) {
    return ::fsync(fd) == 0;
}

bool CloseFile(int fd) {
    return ::close(fd) == 0;
}

bool CommitReplacement(const std::string& tempPath, const std::string& target) {
    if (::rename(tempPath.c_str(), target.c_str()) != 0) return false;
    // Make the new name itself durable; the data already is.
    SyncFolderOf(target);
    return true;
}

void RemoveFile(const std::string& path) {
    ::unlink(path.c_str());
}

void RemoveCreatedFile(const std::string& path, int fd) {
    struct stat created {};
    if (::fstat(fd, &created) != 0) return;
    std::string target = path;
    struct stat found {};
    if (FollowLinks(target, found) != Lookup::Found) return;
    if (found.st_dev == created.st_dev && found.st_ino == created.st_ino) ::unlink(target.c_str());
}

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
