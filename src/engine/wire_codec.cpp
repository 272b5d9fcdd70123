#include "engine/wire_codec.h"

#include <cstdio>

#include "network/hex_digit.h"

std::int32_t HexPairToValue(char first, char second) {
    const char text[3] = {first, second, '\0'};
    unsigned int value = 0;
    // No conversion (no digit after blanks and sign) leaves the chosen 0.
    if (std::sscanf(text, "%x", &value) != 1) return 0;
    return static_cast<std::int32_t>(value);
}

WireValues DecodeReply(const char* reply) {
    WireValues values{};
    for (std::size_t i = 0; i < values.size(); ++i) {
        values[i] = static_cast<std::uint16_t>(HexPairToValue(reply[2 * i], reply[2 * i + 1]));
    }
    return values;
}

OutputFrame FormatOutputFrame(const NetOutputs& o) {
    OutputFrame frame;
    std::snprintf(frame.text, sizeof frame.text, "P%2.2X%2.2X%2.2X%2.2X%2.2X%2.2X%2.2X%2.2X",
                  unsigned{o[0]}, unsigned{o[1]}, unsigned{o[2]}, unsigned{o[3]}, unsigned{o[4]},
                  unsigned{o[5]}, unsigned{o[6]}, unsigned{o[7]});
    return frame;
}

std::string FormatReplyText(const WireValues& values) {
    static constexpr char kDigits[] = "0123456789ABCDEF";
    std::string text;
    text.reserve(kReplySize);
    for (std::uint16_t v : values) {
        text += kDigits[(v >> 4) & 0xF];
        text += kDigits[v & 0xF];
    }
    return text;
}

bool DecodeFrameDigits(const char* digits, WireValues& values) {
    WireValues decoded{};
    for (std::size_t i = 0; i < decoded.size(); ++i) {
        const int high = HexDigitValue(digits[2 * i]);
        const int low = HexDigitValue(digits[2 * i + 1]);
        if (high < 0 || low < 0) return false;
        decoded[i] = static_cast<std::uint16_t>(high * 16 + low);
    }
    values = decoded;
    return true;
}
