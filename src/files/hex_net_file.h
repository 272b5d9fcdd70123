#pragma once
// Flash images of the module weights: Motorola S-record or Intel HEX.
// Qt-free; writers take a stream so tests can use memory.
//
// Thread rules: everything here is free of shared state; callers hand in a copy of
// the weights (the window copies them through the engine, under its lock).

#include <array>
#include <cstddef>
#include <cstdint>
#include <iosfwd>
#include <string>
#include <string_view>

#include "files/file_result.h"
#include "files/replace_file.h"
#include "network/weights.h"

enum HexFileFormat : std::int32_t {
    FORMAT_S19 = 0,
    FORMAT_HEX = 1,
};

// What the flash bank dialog hands to the export command.
struct FlashBankChoice {
    bool bConfirmed = false;               // true only when the dialog ended with OK
    std::uint16_t wStartAddress = 0xB000;  // first address of the bank (defined when confirmed)
    HexFileFormat nFormat = FORMAT_S19;    // defined when confirmed
};

// The first byte of every image; the module looks for it to find the last used bank.
constexpr std::uint8_t BANK_MARKER = 0xAA;

constexpr int HEX_WEIGHTS_PER_RECORD = 4;
constexpr int HEX_WEIGHT_RECORD_COUNT = NET_WEIGHT_COUNT / HEX_WEIGHTS_PER_RECORD;  // 70
constexpr int HEX_LINE_COUNT = HEX_WEIGHT_RECORD_COUNT + 2;                         // 72
// Marker plus two bytes per weight: A .. A + 0x230.
constexpr int FLASH_IMAGE_SIZE = 1 + 2 * NET_WEIGHT_COUNT;  // 561
// File sizes with CR LF line ends; they do not depend on the weights.
constexpr std::size_t HEX_S19_FILE_SIZE = 1986;
constexpr std::size_t HEX_INTEL_FILE_SIZE = 2058;

// The module's flash banks: 12 blocks of 1 KiB from 0xB000 to 0xDC00.
constexpr int FLASH_BANK_COUNT = 12;
constexpr std::uint16_t FLASH_BANK_FIRST = 0xB000;
constexpr std::uint16_t FLASH_BANK_SIZE = 0x400;
// "B000", "B400", ... "DC00", in the order the dialog lists them.
inline constexpr std::array<const char*, FLASH_BANK_COUNT> FLASH_BANK_NAMES = {
    "B000", "B400", "B800", "BC00", "C000", "C400", "C800", "CC00", "D000", "D400", "D800", "DC00",
};

// Reads a bank name as a hexadecimal number, any letter case. Only the twelve
// bank names are accepted; false leaves `address` unchanged.
[[nodiscard]] bool ParseFlashBank(std::string_view name, std::uint16_t& address);

// "s19" or "hex": the default suffix of the save-as dialog.
[[nodiscard]] const char* HexFileSuffix(HexFileFormat format);

// Writes `byte` as two uppercase hexadecimal digits and adds it to `checksum`
// (modulo 256).
void WriteHexByte(std::ostream& out, std::uint8_t byte, std::uint8_t& checksum);

// The marker record and the 70 weight records, each ending in CR LF. The stream is
// checked after each weight record; on an error no further record is written and
// false is returned.
[[nodiscard]] bool WriteHexNetRecords(std::ostream& out, const ModuleWeights& weights,
                                      std::uint16_t startAddress, HexFileFormat format);
// "S9030000FC" or ":00000001FF" and CR LF; false when the stream is in error.
[[nodiscard]] bool WriteHexEndRecord(std::ostream& out, HexFileFormat format);
// The whole image: records, then the end record (only when the records went well).
[[nodiscard]] bool WriteHexNetFile(std::ostream& out, const ModuleWeights& weights,
                                   std::uint16_t startAddress, HexFileFormat format);

// "Weights saved in file <path>, start adress B000" (the spelling is the tool's own).
[[nodiscard]] std::string HexExportSuccessText(const std::string& path, std::uint16_t startAddress);

// Writes a flash image file as a whole (WriteWholeFile, files/replace_file.h), so a
// failure never leaves a partial image (which could end up flashed into a module)
// nor destroys the file it was to replace. The window's export; the CLI's writes
// WriteHexNetFile through the same WriteWholeFile to tell the cause too.
[[nodiscard]] FileResult ExportHexNetFile(const std::string& path, const ModuleWeights& weights,
                                          std::uint16_t startAddress, HexFileFormat format);
