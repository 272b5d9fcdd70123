#pragma once
// The behaviour of a module at the other end of the link, for `pelkora-cli target`:
// it answers "I" with its inputs and "O" with its outputs (16 upper-case hex
// characters), never answers "R", "S" or a "P" frame, and after an "S" reports the
// outputs of the last "P" frame it received instead of its own. Pure: bytes in,
// bytes out; the caller owns the pseudo-terminal and the clock.
//
// Thread rules: one instance per thread; no shared state.

#include <string>
#include <string_view>

#include "network/weights.h"

class VirtualModule {
public:
    explicit VirtualModule(const ModuleWeights& weights) : weights_(weights) {}

    // Takes one received byte. Appends the reply, if any, to `reply` and, when `log`
    // is given, one line describing what was received (frames when complete).
    void Receive(char byte, const NetInputs& inputs, std::string& reply, std::string* log);

    // Outputs reported to "O" for these inputs.
    [[nodiscard]] NetOutputs Outputs(const NetInputs& inputs) const;
    [[nodiscard]] bool Emulated() const { return emulated_; }

private:
    void Command(char byte, const NetInputs& inputs, std::string& reply, std::string* log);

    ModuleWeights weights_;
    bool emulated_ = false;      // set by "S", cleared by "R"
    NetOutputs frameOutputs_{};  // the last complete "P" frame
    bool inFrame_ = false;
    std::string frame_;  // hex digits of the frame being received
};

// 16 upper-case hexadecimal characters, value 1 first (low 8 bits of each).
[[nodiscard]] std::string FormatReplyText(const NetInputs& values);

// The inputs of a live-looking module: a slow smooth sweep, each input a phase
// apart, one period every 8 seconds.
[[nodiscard]] NetInputs SweepInputs(double seconds);

// "v1,...,v8", each 0..255. On failure `error` says what is wrong.
[[nodiscard]] bool ParseInputList(std::string_view text, NetInputs& inputs, std::string& error);
