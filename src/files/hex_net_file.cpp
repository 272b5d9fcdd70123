#include "files/hex_net_file.h"

#include <cstdio>
#include <ostream>
#include <utility>

namespace {

constexpr const char* kS19EndRecord = "S9030000FC";
constexpr const char* kHexEndRecord = ":00000001FF";
constexpr const char* kLineEnd = "\r\n";  // on every platform: the module's tools expect it

// One record: start, count, address, (Intel: type 00), data, checksum, CR LF.
void WriteRecord(std::ostream& out, HexFileFormat format, std::uint16_t address,
                 const std::uint8_t* data, std::size_t size) {
    std::uint8_t checksum = 0;
    if (format == FORMAT_S19) {
        out << "S1";
        // The S-record count covers the address, the data and the checksum.
        WriteHexByte(out, static_cast<std::uint8_t>(size + 3), checksum);
    } else {
        out << ':';
        WriteHexByte(out, static_cast<std::uint8_t>(size), checksum);
    }
    WriteHexByte(out, static_cast<std::uint8_t>(address >> 8), checksum);
    WriteHexByte(out, static_cast<std::uint8_t>(address & 0xFF), checksum);
    if (format == FORMAT_HEX) WriteHexByte(out, 0x00, checksum);
    for (std::size_t n = 0; n < size; ++n) WriteHexByte(out, data[n], checksum);
    const std::uint8_t sum = checksum;
    const auto check = static_cast<std::uint8_t>(format == FORMAT_S19 ? ~sum : -sum);
    WriteHexByte(out, check, checksum);
    out << kLineEnd;
}

}  // namespace

bool ParseFlashBank(std::string_view name, std::uint16_t& address) {
    for (int n = 0; n < FLASH_BANK_COUNT; ++n) {
        const std::string_view bank = FLASH_BANK_NAMES[n];
        if (bank.size() != name.size()) continue;
        bool same = true;
        for (std::size_t k = 0; k < bank.size() && same; ++k) {
            char c = name[k];
            if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
            same = c == bank[k];
        }
        if (same) {
            address = static_cast<std::uint16_t>(FLASH_BANK_FIRST + n * FLASH_BANK_SIZE);
            return true;
        }
    }
    return false;
}

const char* HexFileSuffix(HexFileFormat format) {
    return format == FORMAT_HEX ? "hex" : "s19";
}

void WriteHexByte(std::ostream& out, std::uint8_t byte, std::uint8_t& checksum) {
    char text[3];
    std::snprintf(text, sizeof text, "%2.2X", byte);
    out.write(text, 2);
    checksum = static_cast<std::uint8_t>(checksum + byte);
}

bool WriteHexNetRecords(std::ostream& out, const ModuleWeights& weights, std::uint16_t startAddress,
                        HexFileFormat format) {
    const std::uint8_t marker = BANK_MARKER;
    WriteRecord(out, format, startAddress, &marker, 1);
    if (!out) return false;
    for (int r = 0; r < HEX_WEIGHT_RECORD_COUNT; ++r) {
        std::uint8_t data[2 * HEX_WEIGHTS_PER_RECORD];
        for (int k = 0; k < HEX_WEIGHTS_PER_RECORD; ++k) {
            // The module stores the two's complement, high byte first.
            const auto word = static_cast<std::uint16_t>(weights[HEX_WEIGHTS_PER_RECORD * r + k]);
            data[2 * k] = static_cast<std::uint8_t>(word >> 8);
            data[2 * k + 1] = static_cast<std::uint8_t>(word & 0xFF);
        }
        const auto address = static_cast<std::uint16_t>(startAddress + 1 + sizeof data * r);
        WriteRecord(out, format, address, data, sizeof data);
        if (!out) return false;
    }
    return true;
}

bool WriteHexEndRecord(std::ostream& out, HexFileFormat format) {
    out << (format == FORMAT_S19 ? kS19EndRecord : kHexEndRecord) << kLineEnd;
    return static_cast<bool>(out);
}

bool WriteHexNetFile(std::ostream& out, const ModuleWeights& weights, std::uint16_t startAddress,
                     HexFileFormat format) {
    return WriteHexNetRecords(out, weights, startAddress, format) && WriteHexEndRecord(out, format);
}

std::string HexExportSuccessText(const std::string& path, std::uint16_t startAddress) {
    char address[8];
    std::snprintf(address, sizeof address, "%4.4X", static_cast<unsigned>(startAddress));
    return "Weights saved in file " + path + ", start adress " + address;
}

FileResult ExportHexNetFile(const std::string& path, const ModuleWeights& weights,
                            std::uint16_t startAddress, HexFileFormat format) {
    return WriteWholeFile(path,
                          [&](std::ostream& out) {
                              return WriteHexNetFile(out, weights, startAddress, format);
                          })
        .result;
}
