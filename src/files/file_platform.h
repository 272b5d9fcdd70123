#pragma once
// The file-system calls of the file readers and writers that differ between POSIX
// and Windows. One implementation per platform (file_platform_posix.cpp,
// file_platform_win32.cpp), chosen by CMake; descriptors are the C runtime's on both.
//
// Thread rules: no state of its own.

#include <sys/stat.h>

#include <chrono>
#include <cstddef>
#include <string>

// Flags for open() that every writer adds: no inheritance by child processes,
// and on Windows binary mode (the writers put their own CR LF).
extern const int kFileOpenFlags;

// Reads up to `size` bytes from a descriptor of os/io.h's OpenForReading, waiting
// at most `wait` for the first of them where the descriptor can make a reader
// wait (a FIFO or a pipe on POSIX). Returns the bytes read, 0 at the end, -1 on an
// error or when nothing came in time.
[[nodiscard]] long ReadWithin(int fd, void* buffer, std::size_t size,
                              std::chrono::milliseconds wait);

// True when `fd` is a regular file: its bytes are all there, so no writer can make
// a reader of it wait, and a large one may take as long as reading it takes.
[[nodiscard]] bool IsRegularFile(int fd);

// The crash-safe replacement's steps (replace_file.cpp uses them on both
// platforms; Open has one implementation per platform).

// Flushes the file's data to the disk. False on failure.
[[nodiscard]] bool SyncFile(int fd);

// Closes a descriptor; false when the close reported an error (a late write error
// of some file systems).
[[nodiscard]] bool CloseFile(int fd);

// Puts `tempPath` (closed, synced) in the place of `target` in one step, and
// makes the new name durable. False leaves `target` as it was.
[[nodiscard]] bool CommitReplacement(const std::string& tempPath, const std::string& target);

// Removes a file this program created; errors are of no use to the caller.
void RemoveFile(const std::string& path);

// Takes back a file just created by opening `path` (as `fd`): removes the file
// itself, wherever symbolic links on `path` led, and leaves the links as they
// were. Nothing is removed unless it is still the file behind `fd`.
void RemoveCreatedFile(const std::string& path, int fd);

#ifdef _WIN32
// Opens an existing non-regular file (a device) for writing in place, truncated.
// -1 on failure.
[[nodiscard]] int OpenInPlace(const std::string& path);

// Creates a new, empty, hidden file next to `target` and opens it for writing;
// `tempPath` receives its name. -1 on failure.
[[nodiscard]] int CreateReplacement(const std::string& target, std::string& tempPath);
#else
enum class Lookup { Missing, Found, Failed };

// Follows symbolic links at the end of `path` as open() would, so that the file
// meant is the one an ordinary open would have reached, and a dangling link leads
// to the file an ordinary create would have made. `st` describes what was found.
[[nodiscard]] Lookup FollowLinks(std::string& path, struct stat& st);
#endif
