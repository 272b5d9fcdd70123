#pragma once
// A recording of passes: the pass log's columns plus `mode`, one line per pass that
// produced values, appended to a file that stays open while the recording runs.
// Every line goes out in one write as soon as it is made, so a reader (or a crash)
// never loses more than the line being written; a write that fails takes back the
// part of its line that reached the file, so the file keeps whole lines only.
// It never waits without bound: a FIFO without a reader fails to open at once, and
// a write that a pipe's reader does not take within kRecordWriteWait fails.
// Qt-free.
//
// Thread rules: a PassRecorder belongs to one thread (the window's UI thread). It
// never touches the engine; the caller hands it copies of the pass values.

#include <chrono>
#include <cstdint>
#include <string>

#include "files/file_result.h"
#include "files/pass_log.h"
#include "network/pass_values.h"
#include "os/unique_fd.h"

// How long one line may wait for a pipe's reader to make room before the write
// counts as failed (the caller is the UI thread).
constexpr std::chrono::milliseconds kRecordWriteWait{500};

class PassRecorder {
public:
    PassRecorder() = default;
    PassRecorder(const PassRecorder&) = delete;
    PassRecorder& operator=(const PassRecorder&) = delete;

    // Opens `path` for appending (created when missing) and writes the header line
    // when the file is empty. Any recording already running is stopped first.
    // OpenFailed ("Error opening file") or WriteFailed ("Error writing file").
    [[nodiscard]] FileResult Start(const std::string& path);
    // Appends the line of `sample`; t_ms counts from the first sample of this
    // recording. On WriteFailed the recording has stopped.
    [[nodiscard]] FileResult Append(const PassSample& sample);
    // Closes the file; the lines written so far stay.
    void Stop();
    [[nodiscard]] bool Recording() const { return fd_.valid(); }

private:
    // Writes `text` whole or takes back what reached the file; stops on failure.
    [[nodiscard]] FileResult WriteWhole(const std::string& text);

    UniqueFd fd_;
    PassClock clock_;  // restarted by Start
};
