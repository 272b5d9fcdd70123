// The reply decoder on any 16 bytes: it reads no byte beyond the reply, and every
// pair gives what "%x" can give for two characters.

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>

#include "engine/wire_codec.h"
#include "fuzz_check.h"

namespace {

int HexDigit(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < kReplySize) return 0;
    // A heap copy of exactly one reply, so that reading past it is an ASan report.
    const auto reply = std::make_unique<char[]>(kReplySize);
    std::memcpy(reply.get(), data, kReplySize);
    const auto values = DecodeReply(reply.get());
    for (std::size_t i = 0; i < values.size(); ++i) {
        const char first = reply[2 * i];
        const char second = reply[2 * i + 1];
        const std::int32_t value = HexPairToValue(first, second);
        // At most two hex digits, or a sign and one.
        FUZZ_CHECK(value >= -15 && value <= 255);
        FUZZ_CHECK(values[i] == static_cast<std::uint16_t>(value));
        const int high = HexDigit(first);
        const int low = HexDigit(second);
        if (high >= 0 && low >= 0) FUZZ_CHECK(value == high * 16 + low);
        if (high < 0 && low < 0) FUZZ_CHECK(value == 0);
    }
    return 0;
}
