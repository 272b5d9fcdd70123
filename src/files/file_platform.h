#pragma once
// The few file-system calls of the file writers that differ between POSIX and
// Windows: creating the temporary neighbour of a file to be replaced, syncing it,
// and putting it in the place of the old file. One implementation per platform
// (file_platform_unix.cpp, file_platform_win32.cpp), chosen by CMake; descriptors
// are the C runtime's on both.
//
// Thread rules: no state of its own.

#include <sys/stat.h>

#include <string>

// Flags for open() that every writer adds: no inheritance by child processes,
// and on Windows binary mode (the writers put their own CR LF).
extern const int kFileOpenFlags;

// Opens an existing non-regular file (a device) for writing in place, truncated.
// -1 on failure.
[[nodiscard]] int OpenInPlace(const std::string& path);

// Creates a new, empty, hidden file next to `target` and opens it for writing;
// `tempPath` receives its name. When `replaced` is given, the new file takes its
// owner (where the system allows) and mode; otherwise the mode an ordinary create
// would give. -1 on failure.
[[nodiscard]] int CreateReplacement(const std::string& target, const struct stat* replaced,
                                    std::string& tempPath);

// Flushes the file's data to the disk. False on failure.
[[nodiscard]] bool SyncFile(int fd);

// Puts `tempPath` (closed, synced) in the place of `target` in one step, and
// makes the new name durable. False leaves `target` as it was.
[[nodiscard]] bool CommitReplacement(const std::string& tempPath, const std::string& target);
