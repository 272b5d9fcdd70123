#pragma once
// Training set files: "train%3.3d.txt", a TAB-separated header for a new file and
// one line of 16 values per stored set, CR LF line ends, append only. Qt-free.
// Thread rules: no shared state; call from one thread per file (the UI thread).

#include <array>
#include <cstdint>
#include <string>

#include "files/file_result.h"

inline constexpr const char* TRAINING_FILE_FORMAT = "train%3.3d.txt";

// "train000.txt", "train1000.txt", ...
[[nodiscard]] std::string TrainingFileName(std::uint16_t number);
// The up-down control: up gives the next number (65535 wraps to 0), down the
// previous one (0 stays 0).
[[nodiscard]] std::uint16_t NextTrainingFileNumber(std::uint16_t number);
[[nodiscard]] std::uint16_t PreviousTrainingFileNumber(std::uint16_t number);

// in1..in8 then out1..out8, as the sliders show them.
using TrainingSet = std::array<int, 16>;

// The operator's text for a failed store (empty for Ok). The store has its own
// words for a file it cannot open, "File opening failed. Check file name..."; the
// other results read as for every file command (FileResultText).
[[nodiscard]] const char* TrainingFileResultText(FileResult result);

// The lines exactly as they go into the file, CR LF included.
[[nodiscard]] std::string TrainingHeaderLine();
[[nodiscard]] std::string TrainingSetLine(const TrainingSet& values);

// Appends one set to the file at `path`, writing the header first when the file did
// not exist. A failed write takes back what this store added, so the file keeps
// whole lines (and a file this store created is removed, so the next store writes
// the header again).
// Ok, OpenFailed or WriteFailed.
[[nodiscard]] FileResult AppendTrainingSet(const std::string& path, const TrainingSet& values);

// The rows the training file at `path` holds: its lines, less a header line at the
// start (one not starting with a digit). 0 when it cannot be read or is no
// regular file.
[[nodiscard]] long CountTrainingRows(const std::string& path);
