#pragma once
// The command protocol spoken to the target: one-letter commands, 16-character
// hexadecimal replies, and the 17-byte "P" frame of computed outputs. No framing,
// no checksum, no resynchronisation: a stray byte shifts every later reply.
//
// Thread rules: MonitorCycle and EmulatorCycle run on the worker only; they hold
// hMutex just to write szStatus and to store one reply's 8 values, never around
// serial input or output, a pause or the evaluation. The codec functions are pure.

#include <array>
#include <cstddef>
#include <cstdint>

#include "network/weights.h"

inline constexpr char kCommandReset = 'R';    // Monitor: first command of a step
inline constexpr char kCommandSync = 'S';     // Emulator: first command of a step
inline constexpr char kCommandInputs = 'I';   // reply: 8 input values
inline constexpr char kCommandOutputs = 'O';  // reply: 8 output values
inline constexpr char kCommandFrame = 'P';    // followed by 8 outputs, no reply

inline constexpr std::size_t REPLY_SIZE = 16;  // 8 values, two hex digits each
inline constexpr std::size_t FRAME_SIZE = 17;  // "P" + 8 values of two digits

// Pauses of a step, in milliseconds.
inline constexpr int COMMAND_PAUSE_MS = 50;
inline constexpr int FRAME_PAUSE_MS = 100;

// The value of two characters read as the C library's "%x" does: leading blanks
// skipped, an optional sign taken, reading stops at the first non-digit. A pair
// with no digit at all gives 0. The caller keeps the low 16 bits.
[[nodiscard]] std::int32_t HexPairToValue(char first, char second);

// The 8 values of a 16-byte reply, value 1 first.
[[nodiscard]] std::array<std::uint16_t, 8> DecodeReply(const char* reply);

// "P%2.2X..." from 8 outputs, NUL-terminated. Values above 255 (never produced by
// the evaluator) give more digits; the buffer holds the widest frame.
struct OutputFrame {
    char text[1 + 8 * 4 + 1];
};
[[nodiscard]] OutputFrame FormatOutputFrame(const NetOutputs& outputs);

// One step of MODE_MONITOR: R, pause, I + reply, pause, O + reply, pause.
void MonitorCycle();
// One step of MODE_EMULATOR: S, pause, I + reply, pause, evaluate, P frame, pause.
void EmulatorCycle();
