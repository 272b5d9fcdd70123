#pragma once
// The frame every sub-command runs in, so that a command's own file holds only its
// own job: the one message rule, the exit code of each kind of failure, loading
// --net, opening named inputs, writing whole-file outputs and finishing stdout.
//
// The message rule: every failure is one line on stderr, "pelkora-cli CMD: FILE:
// reason" ("pelkora-cli CMD: reason" where no file is concerned, as for stdin and
// stdout). A file's reason starts with the system's text of its FileResult, then
// the cause: "pelkora-cli verify: net.txt: Error opening file: No such file or
// directory". The exit codes are in commands.h.
//
// Thread rules: the command's main thread; no shared state.

#include <functional>
#include <ostream>
#include <string>
#include <vector>

#include "files/file_reading.h"
#include "files/file_result.h"
#include "files/replace_file.h"
#include "network/weights.h"

class CommandFrame {
public:
    explicit CommandFrame(std::string command) : command_(std::move(command)) {}

    [[nodiscard]] const std::string& Name() const { return command_; }

    // "pelkora-cli CMD: TEXT"; returns kExitFailure.
    int Fail(const std::string& text) const;
    // "pelkora-cli CMD: FILE: Error reading file: reason"; returns kExitFailure, the
    // code of every file that cannot be opened, read or written.
    int FailFile(const std::string& file, const FileOutcome& outcome) const;

    // Loads --net FILE into `weights` (left all zero when `path` is empty, the
    // network the window starts with). False once the failure is told.
    [[nodiscard]] bool LoadNet(const std::string& path, FileWeights& weights) const;
    // Opens a named input through the bounded reader. False once the failure is told.
    [[nodiscard]] bool OpenInput(const std::string& path, BoundedFileStream& in) const;
    // After a read of `in`: false, with the failure told, when the stream failed (a
    // read error, a folder, a writer that went quiet).
    [[nodiscard]] bool InputRead(const std::string& path, const BoundedFileStream& in) const;

    // Before any work: refuses an `output` that is one of the command's `inputs`, or
    // (unless `force`) an existing file that is not of `kind`, saying why. True when
    // refused: the command then ends with kExitUsage and nothing touched.
    [[nodiscard]] bool RefuseOutput(const std::string& output,
                                    const std::vector<std::string>& inputs, OutputKind kind,
                                    bool force) const;
    // Writes `path` as a whole (WriteWholeFile). False once the failure is told.
    [[nodiscard]] bool WriteFile(const std::string& path,
                                 const std::function<bool(std::ostream&)>& write) const;

    // Flushes stdout; when that (or an earlier write) failed, says so ("pelkora-cli
    // CMD: error writing the output[: cause]") and gives kExitFailure, else
    // `exitCode`. A command whose output did not all arrive never reports success.
    [[nodiscard]] int Finish(int exitCode) const;

private:
    std::string command_;
};
