#include "files/training_rows.h"

#include "files/value_lines.h"

namespace {

TrainingRowsRead Failed(const std::string& name, FileOutcome failure) {
    TrainingRowsRead read;
    read.ok = false;
    read.file = name;
    read.failure = std::move(failure);
    read.error =
        name + ": " +
        (read.failure.reason.empty() ? FileResultText(read.failure.result) : read.failure.reason);
    return read;
}

}  // namespace

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
    // BadLine: "line N: reason"; a read error: its cause.
    if (!result.Ok()) return Failed(name, {FileResult::ReadFailed, result.error});
    return read;
}

TrainingRowsRead ReadTrainingRows(const std::vector<std::string>& paths, ReadLimits limits,
                                  const std::atomic<bool>* stop) {
    TrainingRowsRead all;
    for (const std::string& path : paths) {
        if (stop && *stop) break;
        BoundedFileStream in(limits);
        if (in.Open(path) != FileResult::Ok) return Failed(path, in.Outcome());
        TrainingRowsRead one = ReadTrainingRows(in, path);
        // A time-out ends the stream like its end: what was read says nothing.
        if (in.Result() != FileResult::Ok) return Failed(path, in.Outcome());
        if (!one.ok) return one;
        all.rows.insert(all.rows.end(), one.rows.begin(), one.rows.end());
    }
    return all;
}
