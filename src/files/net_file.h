#pragma once
// Opening an ASCII net file by name: the one way every front end (the window, each
// command of pelkora-cli) reads one, parsed by network/net_file_reader.h. Qt-free.
//
// Thread rules: no shared state. The weights read are the caller's to hand over
// (Engine::LoadWeights replaces both forms under its lock).

#include <string>

#include "files/file_reading.h"
#include "files/file_result.h"
#include "network/weights.h"

// Reads the net file at `path` into `weights`, which is only written when all 280
// values were read. A missing or unopenable file is OpenFailed; anything that does
// not yield 280 values (a folder, a read error, a bad value, a FIFO without a
// writer, one whose writer stays quiet longer than `limits`) is ReadFailed.
[[nodiscard]] FileResult ReadNetFile(const std::string& path, FileWeights& weights,
                                     ReadLimits limits = {});

// The same, with the operator's text of a failure: the system's text, then where
// and why, in the form of the training-file reader -- "Error reading file:
// net.txt: line 51: '3.5' is not a number". `name` stands for the file in it (the
// path as the user gave it, or the file's name in the window).
struct NetFileRead {
    FileResult result = FileResult::Ok;
    // Empty for Ok; "Error opening file" alone when the file cannot be opened (the
    // window's text), else with the name and the reason.
    std::string message;
    std::string reason;  // why: "No such file or directory", "line 51: ...", ...
    [[nodiscard]] FileOutcome Outcome() const { return {result, reason}; }
};
[[nodiscard]] NetFileRead ReadNetFile(const std::string& path, const std::string& name,
                                      FileWeights& weights, ReadLimits limits = {});
