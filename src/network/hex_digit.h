#pragma once
// The one hexadecimal digit rule of the project's own parsers (net files, frames,
// flash images). Pure.

// 0..15 for 0-9, a-f, A-F; -1 for anything else.
[[nodiscard]] constexpr int HexDigitValue(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}
