#include <fcntl.h>
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

}  // namespace

const int kFileOpenFlags = O_CLOEXEC;

int OpenInPlace(const std::string& path) {
    return ::open(path.c_str(), O_WRONLY | O_TRUNC | O_CLOEXEC);
}

int CreateReplacement(const std::string& target, const struct stat* replaced,
                      std::string& tempPath) {
    const fs::path path(target);
    fs::path folder = path.parent_path();
    if (folder.empty()) folder = ".";
    // A hidden neighbour, short enough for any file name the folder accepts.
    std::string name = "." + path.filename().string().substr(0, 200) + ".XXXXXX";
    std::string temp = (folder / name).string();
    const int fd = ::mkostemp(temp.data(), O_CLOEXEC);
    if (fd < 0) return -1;
    tempPath = temp;
    if (replaced != nullptr) {
        // The replacement keeps the old file's owner (where we may) and mode.
        (void)::fchown(fd, replaced->st_uid, replaced->st_gid);
        (void)::fchmod(fd, replaced->st_mode & 07777);
    } else {
        (void)::fchmod(fd, NewFileMode());
    }
    return fd;
}

bool SyncFile(int fd) {
    return ::fsync(fd) == 0;
}

bool CommitReplacement(const std::string& tempPath, const std::string& target) {
    if (::rename(tempPath.c_str(), target.c_str()) != 0) return false;
    // Make the new name itself durable; the data already is.
    fs::path folder = fs::path(target).parent_path();
    if (folder.empty()) folder = ".";
    const int dirFd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dirFd >= 0) {
        (void)::fsync(dirFd);
        ::close(dirFd);
    }
    return true;
}
