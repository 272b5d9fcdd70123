#include "cli/virtual_module.h"

#include <charconv>
#include <cmath>
#include <cstdio>
#include <numbers>

#include "engine/wire_codec.h"
#include "network/evaluators.h"
#include "network/hex_digit.h"
#include "network/pass_values.h"

namespace {

std::string Printable(char byte) {
    const auto u = static_cast<unsigned char>(byte);
    if (u >= 0x21 && u < 0x7F) return std::string(1, byte);
    char text[8];
    std::snprintf(text, sizeof text, "0x%02X", u);
    return text;
}

}  // namespace

bool ParseOutputFault(std::string_view text, OutputFault& fault, std::string& error) {
    int fields[3] = {0, 0, 1};
    std::size_t count = 0;
    for (std::size_t pos = 0; count < 3;) {
        const std::size_t colon = text.find(':', pos);
        const std::string_view field = text.substr(
            pos, colon == std::string_view::npos ? std::string_view::npos : colon - pos);
        const char* first = field.data();
        if (!field.empty() && field.front() == '+') ++first;
        const auto [end, ec] = std::from_chars(first, field.data() + field.size(), fields[count]);
        if (field.empty() || ec != std::errc{} || end != field.data() + field.size()) {
            error = "'" + std::string(text.substr(0, 40)) + "' is not K:D[:EVERY]";
            return false;
        }
        ++count;
        if (colon == std::string_view::npos) break;
        pos = colon + 1;
        if (count == 3) {
            error = "'" + std::string(text.substr(0, 40)) + "' has more than three fields";
            return false;
        }
    }
    if (count < 2) {
        error = "'" + std::string(text.substr(0, 40)) + "' is not K:D[:EVERY]";
        return false;
    }
    if (fields[0] < 1 || fields[0] > 8) {
        error = "output " + std::to_string(fields[0]) + " is not 1..8";
        return false;
    }
    if (fields[1] < -255 || fields[1] > 255) {
        error = "difference " + std::to_string(fields[1]) + " is not -255..255";
        return false;
    }
    if (fields[2] < 1) {
        error = "EVERY must be 1 or more";
        return false;
    }
    fault = {fields[0] - 1, fields[1], fields[2]};
    return true;
}

NetOutputs VirtualModule::WithFaults(NetOutputs outputs, unsigned long reply) const {
    for (const OutputFault& f : faults_) {
        if (reply % static_cast<unsigned long>(f.every) != 0) continue;
        const int value = outputs[f.output] + f.delta;
        outputs[f.output] = ClipToByte(value);
    }
    return outputs;
}

NetOutputs VirtualModule::Outputs(const NetInputs& inputs) const {
    if (emulated_) return frameOutputs_;
    return hasRecorded_ ? recorded_ : EvaluateInt(inputs, weights_);
}

void VirtualModule::Receive(char byte, const NetInputs& inputs, std::string& reply,
                            std::string* log) {
    if (inFrame_) {
        if (HexDigitValue(byte) >= 0) {
            frame_ += byte;
            if (frame_.size() < kFrameSize - 1) return;
            (void)DecodeFrameDigits(frame_.data(), frameOutputs_);  // all digits, checked above
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
        case kCommandInputs: {
            const std::string text = FormatReplyText(inputs);
            reply += text;
            if (log) *log += "I -> " + text + "\n";
            return;
        }
        case kCommandOutputs: {
            const std::string text = FormatReplyText(WithFaults(Outputs(inputs), ++outputReplies_));
            reply += text;
            if (log) *log += "O -> " + text + (emulated_ ? " (emulated)\n" : "\n");
            return;
        }
        case kCommandReset:
            emulated_ = false;
            if (log) *log += "R\n";
            return;
        case kCommandSync:
            emulated_ = true;
            if (log) *log += "S\n";
            return;
        case kCommandFrame:
            inFrame_ = true;
            frame_.clear();
            return;
        default:
            if (log) *log += "ignored byte " + Printable(byte) + "\n";
            return;
    }
}

NetInputs SweepInputs(double seconds) {
    constexpr double kPeriod = 16.0;
    // The start of the step `seconds` falls in: every value holds for a step.
    const double held = std::floor(seconds / kSweepStepSeconds) * kSweepStepSeconds;
    NetInputs inputs{};
    for (std::size_t i = 0; i < inputs.size(); ++i) {
        const double phase =
            2.0 * std::numbers::pi * (held / kPeriod + static_cast<double>(i) / 8.0);
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
