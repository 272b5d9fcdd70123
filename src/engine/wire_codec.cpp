#include "engine/wire_codec.h"

#include <cstdio>

#include "network/hex_digit.h"

std::int32_t HexPairToValue(char first, char second) {
    const int high = HexDigitValue(first);
    const int low = HexDigitValue(second);
    if (high < 0 || low < 0) return -1;
    return high * 16 + low;
}

bool DecodeReply(const char* reply, WireValues& values) {
    WireValues decoded{};
    for (std::size_t i = 0; i < decoded.size(); ++i) {
        const std::int32_t value = HexPairToValue(reply[2 * i], reply[2 * i + 1]);
        if (value < 0) return false;
        decoded[i] = static_cast<std::uint16_t>(value);
    }
    values = decoded;
    return true;
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
    return DecodeReply(digits, values);
}
