#include "files/net_file.h"

#include "network/net_file_reader.h"

FileResult ReadNetFile(const std::string& path, FileWeights& weights, ReadLimits limits) {
    BoundedFileStream in(limits);
    const FileResult opened = in.Open(path);
    if (opened != FileResult::Ok) return opened;
    FileWeights scratch{};
    // A time-out ends the stream like its end; the last value could then look
    // complete while its digits were still on their way.
    if (ReadAsciiNet(in, scratch).status != NetReadStatus::Ok || in.Result() != FileResult::Ok) {
        return FileResult::ReadFailed;
    }
    weights = scratch;
    return FileResult::Ok;
}
