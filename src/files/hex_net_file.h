#pragma once
// Flash images of the module weights: Motorola S-record or Intel HEX.
// Qt-free; writers take a stream so tests can use memory.

#include <cstdint>

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
