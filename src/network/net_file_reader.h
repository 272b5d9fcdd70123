#pragma once
// Reader of the ASCII net file: 280 signed integers (float weight x 10^11),
// hidden layer first, in the memory order of FileWeights. Pure: reads a stream,
// opens no file (files/net_file.h does, with bounded waits) and never touches
// shared state. Safe from any thread.

#include <istream>
#include <string>

#include "network/weights.h"

enum class NetReadStatus {
    Ok,
    EndOfFile,    // the stream ended before the 280th value
    NotANumber,   // stray character, lone sign, 0x with no hex digit, or a value
                  // not followed by whitespace or the end ("08", "1-2", "12abc")
    OutOfRange,   // the value does not fit in a signed 32-bit integer
    StreamError,  // the stream itself failed (I/O error, a folder opened as a file)
};

struct NetReadResult {
    NetReadStatus status = NetReadStatus::Ok;
    int valuesRead = 0;  // values extracted before the failure (280 on success)
    int line = 0;        // on failure: the line (from 1) where it was found
    std::string text;    // NotANumber, OutOfRange: the value's text, cut to 40 characters
};

// The reason of a failed read, with its line: "line 51: '3.5' is not a number",
// "line 280: the file ends after 279 of 280 values". Empty for Ok.
[[nodiscard]] std::string NetReadErrorText(const NetReadResult& result);

// Reads exactly 280 values from `in` into `weights`. Each value is a C integer
// literal with an optional sign: 0x/0X hexadecimal, a leading 0 octal, otherwise
// decimal; any whitespace separates, and a value must end at whitespace or at the
// end of the stream. A UTF-8 byte-order mark at the very start is skipped. Nothing
// after the 280th value is read (the character that ends it is looked at, not taken). On failure
// the contents of `weights` are unspecified: read into a scratch set and commit only on success.
[[nodiscard]] NetReadResult ReadAsciiNet(std::istream& in, FileWeights& weights);
