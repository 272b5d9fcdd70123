#pragma once
// Reading flash images back: a strict reader of Motorola S-record and Intel HEX
// text that finds the bank and the 280 module weights the writer put there.
// Comparing them with a net's is files/weight_difference.h; the net file that gives
// the image back is network/net_file_writer.h. Qt-free.
//
// Thread rules: everything here is free of shared state and safe from any thread.
// Reading a file blocks its caller for at most the ReadLimits given.

#include <cstddef>
#include <cstdint>
#include <iosfwd>
#include <string>
#include <string_view>

#include "files/file_reading.h"
#include "files/hex_net_file.h"
#include "network/weights.h"

// Why an image was refused. Every reason comes with the line it was found on.
enum class ImageError {
    None,
    OpenFailed,       // the file cannot be opened (line 0)
    ReadFailed,       // a read error, a folder, or a writer that went quiet (line 0)
    TooLarge,         // more text than any image of this tool could need
    BadCharacter,     // not a hexadecimal digit where one belongs, or no record start
    ShortRecord,      // fewer digits than the record's count asks for
    LongRecord,       // more digits than the record's count asks for
    BadChecksum,      // the checksum byte does not match the record
    UnknownRecord,    // a record type this reader does not know
    BadRecord,        // a known record type with a length it cannot have
    BadCount,         // an S5/S6 count that does not match the data records before it
    DataAfterEnd,     // a record after the end record
    NoEndRecord,      // the text ends without an end record
    ConflictingData,  // an address given a second, different value
    OutsideImage,     // a data byte outside the marker and the 280 weights
    NoMarker,         // no bank start holds the marker byte
    IncompleteImage,  // the marker's bank lacks some of the 561 bytes
};

struct FlashImage {
    HexFileFormat format = FORMAT_S19;
    std::uint16_t wStartAddress = 0;  // one of the 12 bank starts
    int recordCount = 0;              // every record of the file, header and end included
    ModuleWeights weights{};
};

struct FlashImageRead {
    ImageError error = ImageError::None;
    int line = 0;               // 1-based line of the error (0 when no line applies)
    std::uint32_t address = 0;  // the address concerned for data and image errors
    FlashImage image;           // meaningful only when error == None
    std::string cause;          // OpenFailed, ReadFailed: why, in words (may be empty)

    [[nodiscard]] bool Ok() const { return error == ImageError::None; }
};

// Nothing larger is read: the tool's own images are about 2 KiB, and a re-written
// image with one byte per record stays far below this.
constexpr std::size_t kMaxImageTextSize = 1 << 20;

// Parses `text` as a whole. Any bytes are safe: nothing is read outside `text`,
// and the memory used is fixed (it does not grow with the text or the addresses).
[[nodiscard]] FlashImageRead ReadFlashImage(std::string_view text);
// Reads `in` to its end (at most kMaxImageTextSize bytes), then parses it.
[[nodiscard]] FlashImageRead ReadFlashImage(std::istream& in);
// Opens `path` and reads it within `limits` (a FIFO whose writer stays idle is
// given up, as ReadFailed).
[[nodiscard]] FlashImageRead ReadFlashImageFile(const std::string& path, ReadLimits limits = {});

// "line 12: bad checksum", "line 3: data outside the image at D000", ...
[[nodiscard]] std::string FlashImageErrorText(const FlashImageRead& read);
// The read as every file's outcome: OpenFailed or ReadFailed with the cause, a
// format error as ReadFailed with FlashImageErrorText.
[[nodiscard]] FileOutcome FlashImageOutcome(const FlashImageRead& read);
// "Motorola S-record" or "Intel HEX".
[[nodiscard]] const char* HexFileFormatName(HexFileFormat format);
// "B000" .. "DC00".
[[nodiscard]] std::string FlashBankName(std::uint16_t startAddress);
