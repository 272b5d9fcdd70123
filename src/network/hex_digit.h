#pragma once
// The one hexadecimal digit rule of the project's own parsers (net files, frames,
// flash images). Pure.

// 0..15 for 0-9, a-f, A-F; -1 for anything else. Two unsigned range checks (the
// second on the letter with its case folded away): the flash image reader runs
// this on every character, and the compiler can vectorise it.
[[nodiscard]] constexpr int HexDigitValue(char c) {
    const unsigned u = static_cast<unsigned char>(c);
    if (u - '0' < 10u) return static_cast<int>(u - '0');
    const unsigned letter = (u | 0x20u) - 'a';
    if (letter < 6u) return static_cast<int>(letter + 10);
    return -1;
}
