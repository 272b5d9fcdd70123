#pragma once
// The file-system calls of the file writers that differ between POSIX and Windows.
// One implementation per platform (file_platform_posix.cpp, file_platform_win32.cpp),
// chosen by CMake; descriptors are the C runtime's on both.
//
// Thread rules: no state of its own.

#include <sys/stat.h>

#include <string>

// Flags for open() that every writer adds: no inheritance by child processes,
// and on Windows binary mode (the writers put their own CR LF).
extern const int kFileOpenFlags;

#ifdef _WIN32
// The crash-safe replacement's steps on Windows (replace_file_win32.cpp); POSIX
// has its own in replace_file_posix.cpp.

// Opens an existing non-regular file (a device) for writing in place, truncated.
// -1 on failure.
[[nodiscard]] int OpenInPlace(const std::string& path);

// Creates a new, empty, hidden file next to `target` and opens it for writing;
// `tempPath` receives its name. -1 on failure.
[[nodiscard]] int CreateReplacement(const std::string& target, std::string& tempPath);

// Flushes the file's data to the disk. False on failure.
[[nodiscard]] bool SyncFile(int fd);

// Puts `tempPath` (closed, synced) in the place of `target` in one step, and
// makes the new name durable. False leaves `target` as it was.
[[nodiscard]] bool CommitReplacement(const std::string& tempPath, const std::string& target);
#endif
