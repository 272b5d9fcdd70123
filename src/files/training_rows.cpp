#include "files/training_rows.h"

#include <filesystem>
#include <fstream>

#include "files/value_lines.h"

TrainingRowsRead ReadTrainingRows(std::istream& in, const std::string& name) {
    TrainingRowsRead read;
    const ValueReadResult result = ReadValueLines(in, kMaxRowValues, [&](const ValueRow& row) {
        TrainingRow training;
        for (int i = 0; i < NET_INPUT_COUNT; ++i)
            training.in[i] = static_cast<std::uint8_t>(row.values[i]);
        for (int m = 0; m < NET_OUTPUT_COUNT; ++m)
            training.out[m] = static_cast<std::uint8_t>(row.values[NET_INPUT_COUNT + m]);
        read.rows.push_back(training);
        return true;
    });
    if (!result.Ok()) {
        read.ok = false;
        read.rows.clear();
        // BadLine: "line N: reason"; a read error: its cause.
        read.error = name + ": " + result.error;
    }
    return read;
}

TrainingRowsRead ReadTrainingRows(const std::vector<std::string>& paths) {
    TrainingRowsRead all;
    for (const std::string& path : paths) {
        std::error_code error;
        if (std::filesystem::is_directory(path, error)) {
            all.ok = false;
            all.error = path + ": is a folder, not a training file";
            return all;
        }
        std::ifstream in(path, std::ios::binary);
        if (!in) {
            all.ok = false;
            all.error = path + ": cannot open";
            return all;
        }
        TrainingRowsRead one = ReadTrainingRows(in, path);
        if (!one.ok) return one;
        all.rows.insert(all.rows.end(), one.rows.begin(), one.rows.end());
    }
    return all;
}
