#pragma once
// Flash images of the module weights (Motorola S-record / Intel HEX).
// Placeholder: the writer arrives with the export command.

#include <cstdint>

enum HexFileFormat : std::int32_t {
    FORMAT_S19 = 0,
    FORMAT_HEX = 1,
};
