// The reply decoder on any 16 bytes: it reads no byte beyond the reply, takes a
// reply only when all 16 characters are hexadecimal digits, and then gives each
// pair's value exactly; otherwise it leaves the values alone.

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
    constexpr std::uint16_t kUntouched = 0xBEEF;
    WireValues values;
    values.fill(kUntouched);
    const bool decoded = DecodeReply(reply.get(), values);
    bool allDigits = true;
    for (std::size_t i = 0; i < values.size(); ++i) {
        const char first = reply[2 * i];
        const char second = reply[2 * i + 1];
        const std::int32_t value = HexPairToValue(first, second);
        const int high = HexDigit(first);
        const int low = HexDigit(second);
        if (high >= 0 && low >= 0) {
            FUZZ_CHECK(value == high * 16 + low);
        } else {
            FUZZ_CHECK(value == -1);
            allDigits = false;
        }
    }
    FUZZ_CHECK(decoded == allDigits);
    for (std::size_t i = 0; i < values.size(); ++i) {
        const std::int32_t expected =
            decoded ? HexPairToValue(reply[2 * i], reply[2 * i + 1]) : kUntouched;
        FUZZ_CHECK(values[i] == static_cast<std::uint16_t>(expected));
    }
    return 0;
}
