#pragma once
// Reading the files an operator names (net files, flash images, training rows,
// input vectors, recordings to replay) without ever waiting without bound: the
// name may be a FIFO whose writer never comes or goes idle. Every front end reads
// a named file through this stream, so they all fail the same way, with the same
// causes (Outcome). A FIFO without a writer reads as empty at once; otherwise a
// read gives up when no byte came for `idle`, or, for anything but a regular file,
// when the whole read took longer than `total` (a writer that trickles). A regular
// file is read to its end however large it is. On Windows the C runtime's files
// and pipes need no such care, and the limits are not used.
//
// Thread rules: no shared state; one stream per reader. A read blocks its caller
// for at most the limits.

#include <chrono>
#include <istream>
#include <memory>
#include <string>

#include "files/file_result.h"

struct ReadLimits {
    std::chrono::milliseconds idle{3000};
    std::chrono::milliseconds total{10000};
};

// An input stream over a file opened for reading. A read error, a time-out or a
// folder ends the stream as its end does; Result() tells them apart.
class BoundedFileStream : public std::istream {
public:
    explicit BoundedFileStream(ReadLimits limits = {});
    ~BoundedFileStream() override;
    BoundedFileStream(const BoundedFileStream&) = delete;
    BoundedFileStream& operator=(const BoundedFileStream&) = delete;

    // Ok or OpenFailed. The clock of the total limit starts here.
    [[nodiscard]] FileResult Open(const std::string& path);
    // Ok while nothing went wrong; ReadFailed after a read error or a time-out;
    // OpenFailed when Open did not succeed.
    [[nodiscard]] FileResult Result() const;
    // Result() with its cause in words ("No such file or directory", "is a folder,
    // not a file", "no data came for 3000 ms", ...).
    [[nodiscard]] FileOutcome Outcome() const;

private:
    class Buf;
    std::unique_ptr<Buf> buf_;
};
