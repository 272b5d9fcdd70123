#include <fcntl.h>
#include <io.h>
#include <windows.h>

#include <cstdio>
#include <filesystem>

#include "files/file_platform.h"
#include "os/io.h"

namespace fs = std::filesystem;

const int kFileOpenFlags = _O_BINARY | _O_NOINHERIT;

int OpenInPlace(const std::string& path) {
    return ::_open(path.c_str(), _O_WRONLY | _O_TRUNC | kFileOpenFlags);
}

int CreateReplacement(const std::string& target, std::string& tempPath) {
    const fs::path path(target);
    fs::path folder = path.parent_path();
    if (folder.empty()) folder = ".";
    const std::string stem = "." + path.filename().string().substr(0, 200) + ".";
    for (unsigned attempt = 0; attempt < 100; ++attempt) {
        char suffix[16];
        std::snprintf(suffix, sizeof suffix, "%08lx",
                      static_cast<unsigned long>(::GetTickCount() * 2654435761u + attempt));
        const std::string temp = (folder / (stem + suffix)).string();
        const int fd = ::_open(temp.c_str(), _O_WRONLY | _O_CREAT | _O_EXCL | kFileOpenFlags,
                               _S_IREAD | _S_IWRITE);
        if (fd >= 0) {
            tempPath = temp;
            return fd;
        }
        if (errno != EEXIST) return -1;
    }
    return -1;
}

long ReadWithin(int fd, void* buffer, std::size_t size, std::chrono::milliseconds /*wait*/) {
    // The C runtime's files and pipes never make a reader wait for a writer that
    // may not come, so the read goes on as it would anyway.
    return ReadSome(fd, buffer, size);
}

bool IsRegularFile(int fd) {
    struct _stat64 st {};
    return ::_fstat64(fd, &st) == 0 && (st.st_mode & _S_IFMT) == _S_IFREG;
}

bool CloseFile(int fd) {
    return ::_close(fd) == 0;
}

void RemoveFile(const std::string& path) {
    ::_unlink(path.c_str());
}

void RemoveCreatedFile(const std::string& path, int /*fd*/) {
    ::_unlink(path.c_str());
}

bool SyncFile(int fd) {
    return ::_commit(fd) == 0;
}

bool CommitReplacement(const std::string& tempPath, const std::string& target) {
    // One call that replaces an existing file and returns only once the move is on
    // the disk.
    return ::MoveFileExW(fs::path(tempPath).c_str(), fs::path(target).c_str(),
                         MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH) != 0;
}
