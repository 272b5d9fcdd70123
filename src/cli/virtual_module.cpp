#include "cli/virtual_module.h"

#include <charconv>
#include <cmath>
#include <cstdio>
#include <numbers>

#include "network/evaluators.h"

namespace {

int HexDigit(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    return -1;
}

std::string Printable(char byte) {
    const auto u = static_cast<unsigned char>(byte);
    if (u >= 0x21 && u < 0x7F) return std::string(1, byte);
    char text[8];
    std::snprintf(text, sizeof text, "0x%02X", u);
    return text;
}

}  // namespace

std::string FormatReplyText(const NetInputs& values) {
    static constexpr char kDigits[] = "0123456789ABCDEF";
    std::string text;
    for (std::uint16_t v : values) {
        text += kDigits[(v >> 4) & 0xF];
        text += kDigits[v & 0xF];
    }
    return text;
}

NetOutputs VirtualModule::Outputs(const NetInputs& inputs) const {
    return emulated_ ? frameOutputs_ : EvaluateInt(inputs, weights_);
}

void VirtualModule::Receive(char byte, const NetInputs& inputs, std::string& reply,
                            std::string* log) {
    if (inFrame_) {
        if (HexDigit(byte) >= 0) {
            frame_ += byte;
            if (frame_.size() < 16) return;
            for (std::size_t i = 0; i < frameOutputs_.size(); ++i) {
                frameOutputs_[i] = static_cast<std::uint16_t>(HexDigit(frame_[2 * i]) * 16 +
                                                              HexDigit(frame_[2 * i + 1]));
            }
            inFrame_ = false;
            if (log) *log += "P" + frame_ + "\n";
            return;
        }
        // A broken frame is dropped; the byte that broke it is taken as a command.
        inFrame_ = false;
        if (log) *log += "P" + frame_ + " (incomplete, dropped)\n";
    }
    Command(byte, inputs, reply, log);
}

void VirtualModule::Command(char byte, const NetInputs& inputs, std::string& reply,
                            std::string* log) {
    switch (byte) {
        case 'I': {
            const std::string text = FormatReplyText(inputs);
            reply += text;
            if (log) *log += "I -> " + text + "\n";
            return;
        }
        case 'O': {
            const std::string text = FormatReplyText(Outputs(inputs));
            reply += text;
            if (log) *log += "O -> " + text + (emulated_ ? " (emulated)\n" : "\n");
            return;
        }
        case 'R':
            emulated_ = false;
            if (log) *log += "R\n";
            return;
        case 'S':
            emulated_ = true;
            if (log) *log += "S\n";
            return;
        case 'P':
            inFrame_ = true;
            frame_.clear();
            return;
        default:
            if (log) *log += "ignored byte " + Printable(byte) + "\n";
            return;
    }
}

NetInputs SweepInputs(double seconds) {
    constexpr double kPeriod = 8.0;
    NetInputs inputs{};
    for (std::size_t i = 0; i < inputs.size(); ++i) {
        const double phase =
            2.0 * std::numbers::pi * (seconds / kPeriod + static_cast<double>(i) / 8.0);
        inputs[i] = static_cast<std::uint16_t>(std::lround(127.5 + 127.5 * std::sin(phase)));
    }
    return inputs;
}

bool ParseInputList(std::string_view text, NetInputs& inputs, std::string& error) {
    NetInputs parsed{};
    std::size_t count = 0;
    std::size_t pos = 0;
    for (;;) {
        const std::size_t comma = text.find(',', pos);
        const std::string_view field = text.substr(
            pos, comma == std::string_view::npos ? std::string_view::npos : comma - pos);
        if (count == parsed.size()) {
            error = "more than 8 values";
            return false;
        }
        unsigned value = 0;
        const auto [end, ec] = std::from_chars(field.data(), field.data() + field.size(), value);
        if (field.empty() || ec != std::errc{} || end != field.data() + field.size() ||
            value > 255) {
            error = "value " + std::to_string(count + 1) + " is not a number 0..255";
            return false;
        }
        parsed[count++] = static_cast<std::uint16_t>(value);
        if (comma == std::string_view::npos) break;
        pos = comma + 1;
    }
    if (count != parsed.size()) {
        error = "8 values expected, got " + std::to_string(count);
        return false;
    }
    inputs = parsed;
    return true;
}
