#include "network/net_file_reader.h"

#include "network/hex_digit.h"

#include <cstdint>
#include <exception>
#include <limits>
#include <streambuf>
#include <string>

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

    // Skips a UTF-8 byte-order mark at the start, as editors on Windows write one.
    // Only a whole mark is taken; anything else is left for Next to judge.
    void SkipByteOrderMark() {
        static constexpr unsigned char kMark[] = {0xEF, 0xBB, 0xBF};
        if (Peek() != kMark[0]) return;
        // A stream buffer can put back one character only: the mark's three are taken
        // as they come, and a partial mark is an error of the first value.
        for (unsigned char byte : kMark) {
            if (Peek() != byte) {
                partialMark_ = true;  // its bytes are kept in text_ for the message
                return;
            }
            Advance();
        }
        text_.clear();
    }

    NetReadStatus Next(std::int32_t& value) {
        using Traits = std::streambuf::traits_type;
        int c = Peek();
        if (partialMark_) {
            partialMark_ = false;
            TakeRest(c);
            return NetReadStatus::NotANumber;
        }
        while (c != Traits::eof() && IsSpace(c)) {
            if (c == '\n') ++line_;
            c = Advance();
        }
        text_.clear();
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
        // "08" or "1-2" would otherwise read as two values and shift every later
        // weight: a value ends at whitespace or at the end of the file.
        if (!anyDigit || (c != Traits::eof() && !IsSpace(c))) {
            TakeRest(c);
            return NetReadStatus::NotANumber;
        }

        const std::int64_t signedValue = negative ? -magnitude : magnitude;
        if (signedValue > std::numeric_limits<std::int32_t>::max() ||
            signedValue < std::numeric_limits<std::int32_t>::min()) {
            return NetReadStatus::OutOfRange;
        }
        value = static_cast<std::int32_t>(signedValue);
        return NetReadStatus::Ok;
    }

    // The line of the last value looked at, from 1.
    [[nodiscard]] int Line() const { return line_; }
    // The text of the last value looked at, for a message.
    [[nodiscard]] const std::string& Text() const { return text_; }

private:
    int Peek() { return buf_ ? buf_->sgetc() : std::streambuf::traits_type::eof(); }
    // Takes the current character (into the value's text) and looks at the next.
    int Advance() {
        const int c = buf_->sgetc();
        if (text_.size() < kQuoted && c != std::streambuf::traits_type::eof()) {
            text_ += static_cast<char>(c);
        }
        return buf_->snextc();
    }
    // A bad value: the rest of its text up to whitespace, for the message only (the
    // read ends here).
    void TakeRest(int c) {
        while (c != std::streambuf::traits_type::eof() && !IsSpace(c) && text_.size() < kQuoted) {
            c = Advance();
        }
    }

    static constexpr std::size_t kQuoted = 40;
    std::streambuf* buf_;
    int line_ = 1;
    std::string text_;
    bool partialMark_ = false;  // the start was part of a byte-order mark only
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
        scanner.SkipByteOrderMark();
        for (int n = 0; n < NET_WEIGHT_COUNT; ++n) {
            std::int32_t value = 0;
            const NetReadStatus status = scanner.Next(value);
            if (status != NetReadStatus::Ok) {
                result.status = status;
                result.line = scanner.Line();
                result.text = scanner.Text();
                return result;
            }
            weights[n] = value;
            result.valuesRead = n + 1;
        }
    } catch (const std::exception&) {
        result.status = NetReadStatus::StreamError;
        result.line = scanner.Line();
    }
    return result;
}

std::string NetReadErrorText(const NetReadResult& result) {
    const std::string line = "line " + std::to_string(result.line) + ": ";
    switch (result.status) {
        case NetReadStatus::Ok:
            return {};
        case NetReadStatus::EndOfFile:
            return line + "the file ends after " + std::to_string(result.valuesRead) + " of " +
                   std::to_string(NET_WEIGHT_COUNT) + " values";
        case NetReadStatus::NotANumber:
            return line + "'" + result.text + "' is not a number";
        case NetReadStatus::OutOfRange:
            return line + "'" + result.text + "' is outside the signed 32-bit range";
        case NetReadStatus::StreamError:
            return line + "the file cannot be read";
    }
    return {};
}
