// FileReplacement::OpenTarget on Windows: a hidden neighbour that the common part
// commits to the disk and moves over the target in one step. Windows has no owners
// or mode bits to carry over and no symbolic links a user makes by accident; a
// read-only target is refused as an ordinary open for writing would refuse it.

#include <io.h>
#include <sys/stat.h>

#include "files/file_platform.h"
#include "files/replace_file.h"

bool FileReplacement::OpenTarget() {
    struct stat existing {};
    const bool exists = ::stat(target_.c_str(), &existing) == 0;
    if (exists && !S_ISREG(existing.st_mode)) {
        kind_ = Kind::Direct;
        fd_.reset(OpenInPlace(target_));
    } else if (exists && ::_access(target_.c_str(), 2) != 0) {
        return false;
    } else {
        kind_ = Kind::Replace;
        fd_.reset(CreateReplacement(target_, tempPath_));
    }
    return fd_.valid();
}
