#pragma once
// Reader of the ASCII net file: 280 signed integers (float weight x 10^11),
// hidden layer first, in the memory order of FileWeights. Pure: reads a stream,
// never touches shared state. Safe from any thread.

#include <istream>
#include <string>

#include "network/file_result.h"
#include "network/weights.h"

enum class NetReadStatus {
    Ok,
    EndOfFile,    // the stream ended before the 280th value
    NotANumber,   // stray character, lone sign, or 0x with no hex digit
    OutOfRange,   // the value does not fit in a signed 32-bit integer
    StreamError,  // the stream itself failed (I/O error, a folder opened as a file)
};

struct NetReadResult {
    NetReadStatus status = NetReadStatus::Ok;
    int valuesRead = 0;  // values extracted before the failure (280 on success)
};

// Reads exactly 280 values from `in` into `weights`. Each value is a C integer
// literal with an optional sign: 0x/0X hexadecimal, a leading 0 octal, otherwise
// decimal; any whitespace separates, and a value ends at the first character that
// cannot continue it. Nothing after the 280th value is read. On failure the
// contents of `weights` are unspecified: read into a scratch set and commit only
// on success.
[[nodiscard]] NetReadResult ReadAsciiNet(std::istream& in, FileWeights& weights);

// Reads the net file at `path` into `weights`, which is only written when all 280
// values were read. A missing or unopenable file is OpenFailed; anything that does
// not yield 280 values (a folder, a read error, a FIFO without a writer, which
// reads as empty at once) is ReadFailed.
[[nodiscard]] FileResult ReadAsciiNetFile(const std::string& path, FileWeights& weights);
