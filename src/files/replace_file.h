#pragma once
// Crash-safe replacement of a whole file, for every writer whose output must never
// be left half written (a flash image that could end up in a module, a net file).
// Qt-free.
//
// The bytes go into a hidden temporary file in the target's folder, which is
// synced and renamed over the target only by Commit, so a failure or a crash never
// leaves a partial file nor harms the one it was to replace. The replacement does
// no more than an ordinary write could:
// - a file the user may not write is refused (OpenFailed);
// - the new file keeps the old one's mode, owner and group; where the owner or
//   group cannot be kept, the old file is left alone (OpenFailed) rather than
//   taken over;
// - a symbolic link keeps pointing at the replaced file; a dangling one gets its
//   target created; a link loop fails (OpenFailed);
// - a file with other hard links is written in place (truncated and rewritten),
//   so that every name keeps seeing the same file;
// - a target that exists but is no regular file (a device, a FIFO) is written
//   directly; a FIFO without a reader fails at once instead of blocking.
// The folder must be writable for the temporary file.
//
// Writers use it through WriteWholeFile (below), the one way a whole-file output
// is written (flash images, net files, reports, the window's saves):
//
//   const FileOutcome written = WriteWholeFile(path, [&](std::ostream& out) {
//       return WriteSomething(out);                // false: give up, old file kept
//   });                                            // Ok only when all of it is on disk
//
// Thread rules: one object per write; not thread-safe. The object touches no
// shared state, so writes to different files may run on different threads.

#include <functional>
#include <memory>
#include <ostream>
#include <string>
#include <vector>

#include "files/file_result.h"
#include "os/unique_fd.h"

class FileReplacement {
public:
    explicit FileReplacement(std::string path);
    // Discards an unfinished temporary file (a file written in place or directly
    // keeps what reached it).
    ~FileReplacement();
    FileReplacement(const FileReplacement&) = delete;
    FileReplacement& operator=(const FileReplacement&) = delete;

    // Ok or OpenFailed; nothing is written yet, the target is untouched.
    [[nodiscard]] FileResult Open();
    // The stream to write to, valid after a successful Open (before, and after
    // Commit, a stream in error that takes nothing). Its error state is checked by
    // Commit, so a writer may stop at its first error without reporting it.
    [[nodiscard]] std::ostream& Stream();
    // Flush, sync and rename: Ok, or WriteFailed when any byte did not reach the
    // disk or Open did not succeed. The object is spent afterwards.
    [[nodiscard]] FileResult Commit();
    // The temporary file while it exists, else empty: for a signal handler that
    // must take it back before the process leaves without unwinding.
    [[nodiscard]] const std::string& TemporaryPath() const { return tempPath_; }
    [[nodiscard]] const std::string& Path() const { return path_; }
    // The errno of the step that failed (0 when none is known): the cause in words
    // of an OpenFailed or WriteFailed.
    [[nodiscard]] int Error() const;

private:
    enum class Kind {
        Replace,  // a temporary file renamed over the target
        InPlace,  // a regular file with other hard links: truncated and rewritten
        Direct,   // a device or a FIFO: written as it is
    };
    class FdBuf;

    // Finds what path_ names (target_, kind_) and opens fd_ for it; the platform's
    // part (replace_file_posix.cpp, replace_file_win32.cpp). False: nothing opened
    // that Discard does not take back.
    [[nodiscard]] bool OpenTarget();
    void Discard();

    std::string path_;      // as given
    std::string target_;    // path_ with symbolic links followed: the file written
    std::string tempPath_;  // the temporary file while it exists (Kind::Replace)
    Kind kind_ = Kind::Replace;
    bool opened_ = false;  // Open was called: one write per object
    int error_ = 0;        // see Error()
    UniqueFd fd_;
    std::unique_ptr<FdBuf> buf_;
    std::ostream out_{nullptr};
};

// Replaces `path` as a whole with what `write` puts on the stream; `write` returns
// false to give up (WriteFailed, the old file left as it was). OpenFailed's reason
// is OutputOpenText's, WriteFailed's the cause of the failed step.
[[nodiscard]] FileOutcome WriteWholeFile(const std::string& path,
                                         const std::function<bool(std::ostream&)>& write);
// The same in two halves, for a writer that must know before long work that its
// output can be written (train --out opens before it trains): Open with its reason,
// then write and Commit.
[[nodiscard]] FileOutcome OpenWholeFile(FileReplacement& file);
[[nodiscard]] FileOutcome FinishWholeFile(FileReplacement& file,
                                          const std::function<bool(std::ostream&)>& write);

// What a command's output is, for telling whether an existing file there may be
// replaced without --force.
enum class OutputKind {
    FlashImage,   // Motorola S-record or Intel HEX lines
    NetFile,      // 280 whole numbers and nothing else
    JUnitReport,  // XML with a <testsuite>
    Any,          // whatever is there (only the inputs are checked)
};

// Why a command may not write its output; found before the command does any work.
struct OutputCheck {
    enum class Refusal {
        None,
        SameAsInput,  // the output is one of the inputs, by another name perhaps
        OtherKind,    // an existing file holds something the command does not write
    };
    Refusal refusal = Refusal::None;
    std::string input;  // SameAsInput: the input as the user named it
    [[nodiscard]] bool Refused() const { return refusal != Refusal::None; }
};

// Refuses an `output` that is the same file as one of `inputs` (the same device
// and inode, whatever links lead there), and, unless `force`, an existing regular
// file that is not empty and not of `kind`. A missing output, a device and a FIFO
// are never refused as of another kind.
[[nodiscard]] OutputCheck CheckOutput(const std::string& output,
                                      const std::vector<std::string>& inputs, OutputKind kind,
                                      bool force);
// Why `path` could not be opened for writing, in words ("is a folder", "its folder
// ... does not exist", ...); `error` is the errno right after the failed Open.
[[nodiscard]] std::string OutputOpenText(const std::string& path, int error);
// The user's text for a refusal: "OUTPUT: ...".
[[nodiscard]] std::string OutputCheckText(const OutputCheck& check, const std::string& output,
                                          OutputKind kind);
