#pragma once
// Reading the rows a network is trained on: training files (16 values a line,
// in1..in8 then out1..out8, header line optional) and recordings or timestamped
// output (columns found by their header names in1..in8 and out1..out8), through
// the one reader of value lines (files/value_lines.h), so a line means here what
// it means to `simulate`, `quantize` and `target --replay`.
//
// Thread rules: pure; reads the files it is given and nothing else.

#include <istream>
#include <string>
#include <vector>

#include "network/training/trainer.h"

struct TrainingRowsRead {
    bool ok = true;
    std::vector<TrainingRow> rows;  // of every file, in order
    std::string error;              // when !ok: "FILE: line N: reason" or "FILE: reason"
};

// Reads every file in turn; stops at the first row that cannot be read.
[[nodiscard]] TrainingRowsRead ReadTrainingRows(const std::vector<std::string>& paths);

// The same for one stream; `name` stands for the file in the error text.
[[nodiscard]] TrainingRowsRead ReadTrainingRows(std::istream& in, const std::string& name);
