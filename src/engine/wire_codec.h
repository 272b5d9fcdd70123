#pragma once
// The bytes spoken on the link to the module: one-letter commands, 16-character
// hexadecimal replies, and the 17-byte "P" frame of computed outputs. No framing
// and no checksum; the link keeps replies apart by discarding its input queue
// before each command that expects one, by refusing a reply that is not 16 hex
// digits or that more bytes follow, and by waiting out the rest of a failed one.
//
// Used by the engine (the tool's side) and by the virtual module (the module's
// side), so both ends always agree. Pure functions, any thread.

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>

#include "network/weights.h"

inline constexpr char kCommandReset = 'R';    // Monitor: first command of a step
inline constexpr char kCommandSync = 'S';     // Emulator: first command of a step
inline constexpr char kCommandInputs = 'I';   // reply: 8 input values
inline constexpr char kCommandOutputs = 'O';  // reply: 8 output values
inline constexpr char kCommandFrame = 'P';    // followed by 8 outputs, no reply

inline constexpr std::size_t kReplySize = 16;  // 8 values, two hex digits each
inline constexpr std::size_t kFrameSize = 17;  // "P" + 8 values of two digits

using WireValues = std::array<std::uint16_t, 8>;

// The value 0..255 of two hexadecimal digits (either case), more significant
// first; -1 when either character is not a hexadecimal digit. Blanks, signs and
// anything else make a pair no value at all, so that a garbled reply is never
// taken for numbers.
[[nodiscard]] std::int32_t HexPairToValue(char first, char second);

// The 8 values of a 16-byte reply, value 1 first. False, and `values` left
// alone, unless all 16 characters are hexadecimal digits.
[[nodiscard]] bool DecodeReply(const char* reply, WireValues& values);

// "P%2.2X..." from 8 outputs, NUL-terminated. Values above 255 (never produced by
// the evaluator) give more digits; the buffer holds the widest frame.
struct OutputFrame {
    char text[1 + 8 * 4 + 1];
};
[[nodiscard]] OutputFrame FormatOutputFrame(const NetOutputs& outputs);

// The module's side: a reply of 16 upper-case hexadecimal characters, value 1
// first (low 8 bits of each).
[[nodiscard]] std::string FormatReplyText(const WireValues& values);

// The module's side: the 8 values of a frame's 16 hex digits (after the "P"), by
// the rule of DecodeReply.
[[nodiscard]] bool DecodeFrameDigits(const char* digits, WireValues& values);
