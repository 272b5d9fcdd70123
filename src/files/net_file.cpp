#include "files/net_file.h"

#include "network/net_file_reader.h"

NetFileRead ReadNetFile(const std::string& path, const std::string& name, FileWeights& weights,
                        ReadLimits limits) {
    NetFileRead read;
    BoundedFileStream in(limits);
    read.result = in.Open(path);
    if (read.result != FileResult::Ok) {
        // The window's text stays the system's own; the cause goes with the outcome.
        read.message = FileResultText(read.result);
        read.reason = in.Outcome().reason;
        return read;
    }
    FileWeights scratch{};
    const NetReadResult parsed = ReadAsciiNet(in, scratch);
    // A time-out ends the stream like its end; the last value could then look
    // complete while its digits were still on their way.
    if (in.Result() != FileResult::Ok) {
        read.result = FileResult::ReadFailed;
        read.reason = in.Outcome().reason;
        read.message = std::string(FileResultText(read.result)) + ": " + name + ": " + read.reason;
        return read;
    }
    if (parsed.status != NetReadStatus::Ok) {
        read.result = FileResult::ReadFailed;
        read.reason = NetReadErrorText(parsed);
        read.message = std::string(FileResultText(read.result)) + ": " + name + ": " + read.reason;
        return read;
    }
    weights = scratch;
    return read;
}

FileResult ReadNetFile(const std::string& path, FileWeights& weights, ReadLimits limits) {
    return ReadNetFile(path, path, weights, limits).result;
}
