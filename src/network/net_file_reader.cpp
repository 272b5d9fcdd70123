#include "network/net_file_reader.h"

#include "network/hex_digit.h"

#include <cstdint>
#include <exception>
#include <limits>
#include <streambuf>

namespace {

constexpr int kNoDigit = -1;

bool IsSpace(int c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

int DigitValue(int c, int base) {
    const int d = c >= 0 && c <= 0xFF ? HexDigitValue(static_cast<char>(c)) : kNoDigit;
    return d < base ? d : kNoDigit;
}

// Works on the stream buffer directly: one virtual-free peek per character, and the
// character that ends a value stays unread, so the next value starts at it.
class ValueScanner {
public:
    explicit ValueScanner(std::streambuf* buf) : buf_(buf) {}

    NetReadStatus Next(std::int32_t& value) {
        using Traits = std::streambuf::traits_type;
        int c = Peek();
        while (c != Traits::eof() && IsSpace(c)) c = Advance();
        if (c == Traits::eof()) return NetReadStatus::EndOfFile;

        bool negative = false;
        if (c == '+' || c == '-') {
            negative = (c == '-');
            c = Advance();
        }

        int base = 10;
        bool anyDigit = false;
        if (c == '0') {
            anyDigit = true;  // a lone 0 is a complete value
            c = Advance();
            if (c == 'x' || c == 'X') {
                base = 16;
                anyDigit = false;  // 0x must be followed by a hex digit
                c = Advance();
            } else {
                base = 8;
            }
        }

        // Saturate instead of overflowing; anything beyond the 32-bit range is rejected.
        constexpr std::int64_t kLimit = std::int64_t{std::numeric_limits<std::int32_t>::max()} + 1;
        std::int64_t magnitude = 0;
        for (int d = DigitValue(c, base); d != kNoDigit; d = DigitValue(c, base)) {
            anyDigit = true;
            magnitude = magnitude * base + d;
            if (magnitude > kLimit) magnitude = kLimit + 1;
            c = Advance();
        }
        if (!anyDigit) return NetReadStatus::NotANumber;
        // "08" or "1-2" would otherwise read as two values and shift every later
        // weight: a value ends at whitespace or at the end of the file.
        if (c != Traits::eof() && !IsSpace(c)) return NetReadStatus::NotANumber;

        const std::int64_t signedValue = negative ? -magnitude : magnitude;
        if (signedValue > std::numeric_limits<std::int32_t>::max() ||
            signedValue < std::numeric_limits<std::int32_t>::min()) {
            return NetReadStatus::OutOfRange;
        }
        value = static_cast<std::int32_t>(signedValue);
        return NetReadStatus::Ok;
    }

private:
    int Peek() { return buf_ ? buf_->sgetc() : std::streambuf::traits_type::eof(); }
    int Advance() { return buf_->snextc(); }

    std::streambuf* buf_;
};

}  // namespace

NetReadResult ReadAsciiNet(std::istream& in, FileWeights& weights) {
    NetReadResult result;
    std::istream::sentry guard(in, /*noskipws=*/true);
    if (!guard) {
        result.status = NetReadStatus::EndOfFile;
        return result;
    }
    ValueScanner scanner(in.rdbuf());
    // A file buffer reports read errors (EIO, EISDIR) by throwing from underflow;
    // they are an ordinary failed read here, never an exception to the caller.
    try {
        for (int n = 0; n < NET_WEIGHT_COUNT; ++n) {
            std::int32_t value = 0;
            const NetReadStatus status = scanner.Next(value);
            if (status != NetReadStatus::Ok) {
                result.status = status;
                return result;
            }
            weights[n] = value;
            result.valuesRead = n + 1;
        }
    } catch (const std::exception&) {
        result.status = NetReadStatus::StreamError;
    }
    return result;
}
