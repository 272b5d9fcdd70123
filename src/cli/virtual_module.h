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
#include <vector>

#include "network/weights.h"

// A deliberate error of the module: `delta` added to output `output` (0..7) of
// its "O" replies, clamped to 0..255, on every reply (`every` 1) or on one reply
// in `every` (the every-th, the 2 x every-th, ...).
struct OutputFault {
    int output = 0;
    int delta = 0;
    int every = 1;
};

// "K:D[:EVERY]" with K 1..8, D -255..255, EVERY >= 1. On failure `error` says why.
[[nodiscard]] bool ParseOutputFault(std::string_view text, OutputFault& fault, std::string& error);

class VirtualModule {
public:
    explicit VirtualModule(const ModuleWeights& weights, std::vector<OutputFault> faults = {})
        : weights_(weights), faults_(std::move(faults)) {}

    // Takes one received byte. Appends the reply, if any, to `reply` and, when `log`
    // is given, one line describing what was received (frames when complete).
    void Receive(char byte, const NetInputs& inputs, std::string& reply, std::string* log);

    // From now on "O" reports these outputs (a replayed recording's) instead of
    // computing them; the faults and an "S" still apply.
    void SetRecordedOutputs(const NetOutputs& outputs) {
        recorded_ = outputs;
        hasRecorded_ = true;
    }

    // Outputs reported to "O" for these inputs.
    [[nodiscard]] NetOutputs Outputs(const NetInputs& inputs) const;

private:
    void Command(char byte, const NetInputs& inputs, std::string& reply, std::string* log);

    // The faults due on the reply numbered `reply` (1 = the first "O").
    [[nodiscard]] NetOutputs WithFaults(NetOutputs outputs, unsigned long reply) const;

    ModuleWeights weights_;
    std::vector<OutputFault> faults_;
    unsigned long outputReplies_ = 0;  // "O" replies sent so far
    bool emulated_ = false;
    bool hasRecorded_ = false;
    NetOutputs recorded_{};      // set by "S", cleared by "R"
    NetOutputs frameOutputs_{};  // the last complete "P" frame
    bool inFrame_ = false;
    std::string frame_;  // hex digits of the frame being received
};

// The inputs of a live-looking module: a slow sweep, each input a phase apart,
// one period every 16 seconds, in steps that each hold for kSweepStepSeconds.
// The steps let a tool tell whether the inputs held still during a pass (they
// hold for several passes), as comparing outputs with inputs needs.
inline constexpr double kSweepStepSeconds = 1.0;
[[nodiscard]] NetInputs SweepInputs(double seconds);

// "v1,...,v8", each 0..255. On failure `error` says what is wrong.
[[nodiscard]] bool ParseInputList(std::string_view text, NetInputs& inputs, std::string& error);
