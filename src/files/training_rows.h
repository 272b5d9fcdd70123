#pragma once
// Reading the rows a network is trained on: training files (16 values a line,
// in1..in8 then out1..out8, header line optional) and recordings or timestamped
// output (columns found by their header names in1..in8 and out1..out8), through
// the one reader of value lines (files/value_lines.h), so a line means here what
// it means to `simulate`, `quantize` and `target --replay`. Files are opened and
// read through BoundedFileStream (files/file_reading.h), so a FIFO without a
// writer, or one that goes quiet, ends the read instead of holding the caller.
//
// Thread rules: pure; reads the files it is given and nothing else. The window
// calls it on its training thread, never on the UI thread.

#include <atomic>
#include <istream>
#include <string>
#include <vector>

#include "files/file_reading.h"
#include "files/file_result.h"
#include "network/training/trainer.h"

struct TrainingRowsRead {
    bool ok = true;
    std::vector<TrainingRow> rows;  // of every file, in order
    // When !ok: the file (as named) and what went wrong with it; a bad row is
    // ReadFailed with "line N: reason".
    std::string file;
    FileOutcome failure;
    std::string error;  // when !ok, as the window shows it: "FILE: line N: reason"
};

// Reads every file in turn; stops at the first file or row that cannot be read,
// or before the next file once `stop` is set.
[[nodiscard]] TrainingRowsRead ReadTrainingRows(const std::vector<std::string>& paths,
                                                ReadLimits limits = {},
                                                const std::atomic<bool>* stop = nullptr);

// The same for one stream; `name` stands for the file in the error text.
[[nodiscard]] TrainingRowsRead ReadTrainingRows(std::istream& in, const std::string& name);
