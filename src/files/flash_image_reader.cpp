#include "files/flash_image_reader.h"

#include <algorithm>
#include <array>
#include <cstdio>
#include <istream>
#include <memory>

#include "files/file_reading.h"
#include "network/hex_digit.h"

namespace {

// Only the 12 banks can hold an image; any byte elsewhere is refused as soon as it
// is seen, so the memory below covers just these 12 KiB whatever the addresses.
constexpr std::uint32_t kRegionFirst = FLASH_BANK_FIRST;
constexpr std::uint32_t kRegionSize = FLASH_BANK_COUNT * FLASH_BANK_SIZE;

// Count byte, up to four address bytes, Intel's type byte, 255 data bytes, checksum.
constexpr std::size_t kMaxRecordBytes = 1 + 4 + 1 + 255 + 1;

FlashImageRead Refused(ImageError error, int line, std::uint32_t address = 0) {
    FlashImageRead read;
    read.error = error;
    read.line = line;
    read.address = address;
    return read;
}

bool IsBlank(char c) {
    return c == ' ' || c == '\t' || c == '\r';
}

struct Failure {
    ImageError error = ImageError::None;
    std::uint32_t address = 0;
};

// The bytes given so far, with the line that gave each (0: not given).
struct Memory {
    std::array<std::uint8_t, kRegionSize> value{};
    std::array<std::int32_t, kRegionSize> line{};
};

class Parser {
public:
    explicit Parser(Memory& memory) : memory_(memory) {}

    FlashImageRead Run(std::string_view text);

private:
    // One record's digits (after "Sn" or ":") as bytes.
    Failure Decode(std::string_view digits, std::size_t headerBytes);
    Failure ParseSRecord(std::string_view line);
    Failure ParseIntelRecord(std::string_view line);
    Failure Store(std::uint64_t address, const std::uint8_t* data, std::size_t size);
    FlashImageRead Finish(FlashImageRead read) const;

    Memory& memory_;
    std::array<std::uint8_t, kMaxRecordBytes> bytes_{};
    std::size_t size_ = 0;  // bytes of the current record in bytes_

    bool formatKnown_ = false;
    HexFileFormat format_ = FORMAT_S19;
    bool ended_ = false;
    int line_ = 0;
    int endLine_ = 0;
    int records_ = 0;
    int dataRecords_ = 0;          // S1/S2/S3, what an S5/S6 counts
    std::uint64_t intelBase_ = 0;  // from the last 02 or 04 record
};

// `headerBytes`: the bytes the count does not cover or that always precede the data
// (S-record: the count itself; Intel HEX: count, address, type and checksum).
Failure Parser::Decode(std::string_view digits, std::size_t headerBytes) {
    for (char c : digits) {
        if (HexDigitValue(c) < 0) return {ImageError::BadCharacter};
    }
    if (digits.size() < 2) return {ImageError::ShortRecord};
    const std::size_t count =
        static_cast<std::size_t>(HexDigitValue(digits[0]) * 16 + HexDigitValue(digits[1]));
    const std::size_t expected = 2 * (count + headerBytes);
    if (digits.size() < expected) return {ImageError::ShortRecord};
    if (digits.size() > expected) return {ImageError::LongRecord};
    size_ = count + headerBytes;  // at most 255 + 5, within bytes_
    for (std::size_t n = 0; n < size_; ++n) {
        bytes_[n] = static_cast<std::uint8_t>(HexDigitValue(digits[2 * n]) * 16 +
                                              HexDigitValue(digits[2 * n + 1]));
    }
    return {};
}

Failure Parser::Store(std::uint64_t address, const std::uint8_t* data, std::size_t size) {
    for (std::size_t n = 0; n < size; ++n, ++address) {
        if (address < kRegionFirst || address >= kRegionFirst + kRegionSize) {
            return {ImageError::OutsideImage, static_cast<std::uint32_t>(address)};
        }
        const std::size_t k = static_cast<std::size_t>(address - kRegionFirst);
        if (memory_.line[k] != 0 && memory_.value[k] != data[n]) {
            return {ImageError::ConflictingData, static_cast<std::uint32_t>(address)};
        }
        if (memory_.line[k] == 0) {
            memory_.value[k] = data[n];
            memory_.line[k] = line_;
        }
    }
    return {};
}

Failure Parser::ParseSRecord(std::string_view line) {
    if (line.size() < 2) return {ImageError::ShortRecord};
    const char type = line[1];
    if (type < '0' || type > '9') return {ImageError::BadCharacter};
    // Address bytes per record type; 0 marks the types that do not exist.
    constexpr int kAddressBytes[10] = {2, 2, 3, 4, 0, 2, 3, 4, 3, 2};
    const Failure decoded = Decode(line.substr(2), 1);
    if (decoded.error != ImageError::None) return decoded;
    const int t = type - '0';
    if (kAddressBytes[t] == 0) return {ImageError::UnknownRecord};
    std::uint8_t sum = 0;
    for (std::size_t n = 0; n < size_; ++n) sum = static_cast<std::uint8_t>(sum + bytes_[n]);
    if (sum != 0xFF) return {ImageError::BadChecksum};

    const auto addressBytes = static_cast<std::size_t>(kAddressBytes[t]);
    const std::size_t count = bytes_[0];
    if (count < addressBytes + 1) return {ImageError::BadRecord};
    std::uint64_t address = 0;
    for (std::size_t n = 0; n < addressBytes; ++n) address = address << 8 | bytes_[1 + n];
    const std::size_t dataSize = count - addressBytes - 1;
    const std::uint8_t* data = bytes_.data() + 1 + addressBytes;

    switch (t) {
        case 0:  // header: free text, nothing to check beyond the checksum
            return {};
        case 1:
        case 2:
        case 3:
            ++dataRecords_;
            return Store(address, data, dataSize);
        case 5:
        case 6:
            if (dataSize != 0) return {ImageError::BadRecord};
            if (address != static_cast<std::uint64_t>(dataRecords_)) return {ImageError::BadCount};
            return {};
        default:  // 7, 8, 9: the end, with a start address nobody here uses
            if (dataSize != 0) return {ImageError::BadRecord};
            ended_ = true;
            return {};
    }
}

Failure Parser::ParseIntelRecord(std::string_view line) {
    const Failure decoded = Decode(line.substr(1), 5);
    if (decoded.error != ImageError::None) return decoded;
    std::uint8_t sum = 0;
    for (std::size_t n = 0; n < size_; ++n) sum = static_cast<std::uint8_t>(sum + bytes_[n]);
    if (sum != 0) return {ImageError::BadChecksum};

    const std::size_t count = bytes_[0];
    const std::uint32_t offset = static_cast<std::uint32_t>(bytes_[1] << 8 | bytes_[2]);
    const std::uint8_t* data = bytes_.data() + 4;
    switch (bytes_[3]) {
        case 0x00:
            return Store(intelBase_ + offset, data, count);
        case 0x01:
            if (count != 0) return {ImageError::BadRecord};
            ended_ = true;
            return {};
        case 0x02:
        case 0x04: {
            if (count != 2) return {ImageError::BadRecord};
            const std::uint64_t value = static_cast<std::uint64_t>(data[0] << 8 | data[1]);
            intelBase_ = bytes_[3] == 0x02 ? value << 4 : value << 16;
            return {};
        }
        case 0x03:
        case 0x05:  // start addresses: of no use for a weight image
            if (count != 4) return {ImageError::BadRecord};
            return {};
        default:
            return {ImageError::UnknownRecord};
    }
}

FlashImageRead Parser::Run(std::string_view text) {
    FlashImageRead read;
    std::size_t pos = 0;
    while (pos < text.size()) {
        std::size_t end = text.find('\n', pos);
        if (end == std::string_view::npos) end = text.size();
        std::string_view line = text.substr(pos, end - pos);
        pos = end + 1;
        ++line_;
        while (!line.empty() && IsBlank(line.back())) line.remove_suffix(1);
        if (line.empty()) continue;

        if (ended_) return Refused(ImageError::DataAfterEnd, line_);
        const bool srec = line[0] == 'S' || line[0] == 's';
        const bool intel = line[0] == ':';
        if (!formatKnown_ && (srec || intel)) {
            formatKnown_ = true;
            format_ = srec ? FORMAT_S19 : FORMAT_HEX;
        }
        if (!formatKnown_ || (format_ == FORMAT_S19 ? !srec : !intel)) {
            return Refused(ImageError::BadCharacter, line_);
        }
        const Failure failure = srec ? ParseSRecord(line) : ParseIntelRecord(line);
        if (failure.error != ImageError::None) {
            read.error = failure.error;
            read.line = line_;
            read.address = failure.address;
            return read;
        }
        ++records_;
        if (ended_) endLine_ = line_;
    }
    if (!ended_) return Refused(ImageError::NoEndRecord, std::max(line_, 1));
    return Finish(read);
}

FlashImageRead Parser::Finish(FlashImageRead read) const {
    const auto fail = [&read](ImageError error, int line, std::uint32_t address) {
        read.error = error;
        read.line = line;
        read.address = address;
        return read;
    };
    // The marker makes the bank, and the bank must hold the whole image: a first
    // complete one is taken, and every other byte is then refused below.
    int bank = -1;
    int incomplete = -1;
    std::uint32_t missing = 0;
    for (int b = 0; b < FLASH_BANK_COUNT && bank < 0; ++b) {
        const std::uint32_t start = static_cast<std::uint32_t>(b) * FLASH_BANK_SIZE;
        if (memory_.line[start] == 0 || memory_.value[start] != BANK_MARKER) continue;
        std::uint32_t k = start;
        while (k < start + FLASH_IMAGE_SIZE && memory_.line[k] != 0) ++k;
        if (k == start + FLASH_IMAGE_SIZE) {
            bank = b;
        } else if (incomplete < 0) {
            incomplete = b;
            missing = k;
        }
    }
    if (bank < 0 && incomplete >= 0) {
        const std::uint32_t start = static_cast<std::uint32_t>(incomplete) * FLASH_BANK_SIZE;
        return fail(ImageError::IncompleteImage, memory_.line[start], kRegionFirst + missing);
    }
    if (bank < 0) {
        // Point at the lowest byte given: that is where the marker was looked for.
        for (std::uint32_t k = 0; k < kRegionSize; ++k) {
            if (memory_.line[k] != 0)
                return fail(ImageError::NoMarker, memory_.line[k], kRegionFirst + k);
        }
        return fail(ImageError::NoMarker, endLine_, 0);
    }

    const std::uint32_t start = static_cast<std::uint32_t>(bank) * FLASH_BANK_SIZE;
    int outsideLine = 0;
    std::uint32_t outside = 0;
    for (std::uint32_t k = 0; k < kRegionSize; ++k) {
        const int line = memory_.line[k];
        if (line == 0 || (k >= start && k < start + FLASH_IMAGE_SIZE)) continue;
        if (outsideLine == 0 || line < outsideLine) {
            outsideLine = line;
            outside = k;
        }
    }
    if (outsideLine != 0)
        return fail(ImageError::OutsideImage, outsideLine, kRegionFirst + outside);

    read.image.format = format_;
    read.image.wStartAddress = static_cast<std::uint16_t>(kRegionFirst + start);
    read.image.recordCount = records_;
    for (int n = 0; n < NET_WEIGHT_COUNT; ++n) {
        const std::uint32_t k = start + 1 + 2 * static_cast<std::uint32_t>(n);
        read.image.weights[n] =
            static_cast<std::int16_t>(memory_.value[k] << 8 | memory_.value[k + 1]);
    }
    return read;
}

const char* ImageErrorReason(ImageError error) {
    switch (error) {
        case ImageError::None:
            return "";
        case ImageError::OpenFailed:
            return "Error opening file";
        case ImageError::ReadFailed:
            return "Error reading file";
        case ImageError::TooLarge:
            return "more text than a flash image can hold";
        case ImageError::BadCharacter:
            return "bad character";
        case ImageError::ShortRecord:
            return "short record";
        case ImageError::LongRecord:
            return "record longer than its count";
        case ImageError::BadChecksum:
            return "bad checksum";
        case ImageError::UnknownRecord:
            return "unknown record type";
        case ImageError::BadRecord:
            return "wrong length for its record type";
        case ImageError::BadCount:
            return "record count does not match";
        case ImageError::DataAfterEnd:
            return "data after the end record";
        case ImageError::NoEndRecord:
            return "no end record";
        case ImageError::ConflictingData:
            return "a second, different value for address";
        case ImageError::OutsideImage:
            return "data outside the image at";
        case ImageError::NoMarker:
            return "no bank marker (AA at B000, B400, ... DC00); lowest address";
        case ImageError::IncompleteImage:
            return "image incomplete, no data at";
    }
    return "";
}

bool HasAddress(ImageError error) {
    return error == ImageError::ConflictingData || error == ImageError::OutsideImage ||
           error == ImageError::IncompleteImage || error == ImageError::NoMarker;
}

}  // namespace

FlashImageRead ReadFlashImage(std::string_view text) {
    if (text.size() > kMaxImageTextSize) return Refused(ImageError::TooLarge, 0);
    // 60 KiB: too much for every caller's stack, so once per call on the heap.
    const auto memory = std::make_unique<Memory>();
    Parser parser(*memory);
    return parser.Run(text);
}

FlashImageRead ReadFlashImage(std::istream& in) {
    std::string text;
    char chunk[4096];
    while (in.read(chunk, sizeof chunk) || in.gcount() > 0) {
        text.append(chunk, static_cast<std::size_t>(in.gcount()));
        if (text.size() > kMaxImageTextSize) return Refused(ImageError::TooLarge, 0);
    }
    if (in.bad()) return Refused(ImageError::ReadFailed, 0);
    return ReadFlashImage(std::string_view(text));
}

FlashImageRead ReadFlashImageFile(const std::string& path, ReadLimits limits) {
    BoundedFileStream in(limits);
    if (in.Open(path) != FileResult::Ok) {
        FlashImageRead refused = Refused(ImageError::OpenFailed, 0);
        refused.cause = in.Outcome().reason;
        return refused;
    }
    FlashImageRead read = ReadFlashImage(in);
    // A folder, a read error or a writer that went quiet: the text seen so far says
    // nothing about the file, so no format error is made of it.
    if (in.Result() != FileResult::Ok && read.error != ImageError::TooLarge) {
        FlashImageRead refused = Refused(ImageError::ReadFailed, 0);
        refused.cause = in.Outcome().reason;
        return refused;
    }
    return read;
}

std::string FlashImageErrorText(const FlashImageRead& read) {
    if (read.error == ImageError::None || read.error == ImageError::OpenFailed ||
        read.error == ImageError::ReadFailed) {
        return ImageErrorReason(read.error);
    }
    std::string text = "line " + std::to_string(read.line) + ": " + ImageErrorReason(read.error);
    if (HasAddress(read.error) && !(read.error == ImageError::NoMarker && read.address == 0)) {
        char address[16];
        std::snprintf(address, sizeof address, " %4.4X", static_cast<unsigned>(read.address));
        text += address;
    }
    return text;
}

FileOutcome FlashImageOutcome(const FlashImageRead& read) {
    if (read.Ok()) return {};
    if (read.error == ImageError::OpenFailed) return {FileResult::OpenFailed, read.cause};
    if (read.error == ImageError::ReadFailed) return {FileResult::ReadFailed, read.cause};
    return {FileResult::ReadFailed, FlashImageErrorText(read)};
}

const char* HexFileFormatName(HexFileFormat format) {
    return format == FORMAT_HEX ? "Intel HEX" : "Motorola S-record";
}

std::string FlashBankName(std::uint16_t startAddress) {
    char name[8];
    std::snprintf(name, sizeof name, "%4.4X", static_cast<unsigned>(startAddress));
    return name;
}
