#include "engine/target_protocol.h"

#include <cstdio>
#include <mutex>

#include "engine/engine.h"
#include "engine/serial_link.h"
#include "engine/shared_state.h"
#include "engine/stop_signal.h"

std::int32_t HexPairToValue(char first, char second) {
    const char text[3] = {first, second, '\0'};
    unsigned int value = 0;
    // No conversion (no digit after blanks and sign) leaves the chosen 0.
    if (std::sscanf(text, "%x", &value) != 1) return 0;
    return static_cast<std::int32_t>(value);
}

std::array<std::uint16_t, 8> DecodeReply(const char* reply) {
    std::array<std::uint16_t, 8> values{};
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

namespace {

// Sends a one-letter command.
bool Command(char letter) {
    const char text[2] = {letter, '\0'};
    return WriteTarget(text);
}

// Sends `letter`, reads its 16-byte reply and decodes it.
bool Exchange(char letter, std::array<std::uint16_t, 8>& values) {
    if (!Command(letter)) return false;
    char reply[REPLY_SIZE];
    if (!ReadTarget(reply, sizeof reply)) return false;
    values = DecodeReply(reply);
    return true;
}

}  // namespace

// A stop request cuts a pause short; the step then ends at once, as the loop is
// about to close the port.
void MonitorCycle() {
    SetStatus("%s", kStatusMonitor);
    if (!Command(kCommandReset)) return;
    if (!EngineSleep(COMMAND_PAUSE_MS)) return;

    std::array<std::uint16_t, 8> values{};
    if (!Exchange(kCommandInputs, values)) return;
    {
        std::lock_guard lock(g_State.hMutex);
        g_State.wInputs = values;
    }
    if (!EngineSleep(COMMAND_PAUSE_MS)) return;

    if (!Exchange(kCommandOutputs, values)) return;
    {
        std::lock_guard lock(g_State.hMutex);
        g_State.wOutputs = values;
    }
    (void)EngineSleep(COMMAND_PAUSE_MS);
}

void EmulatorCycle() {
    SetStatus("%s", kStatusEmulator);
    const bool synced = Command(kCommandSync);
    // The pause follows a failed "S" too.
    if (!EngineSleep(COMMAND_PAUSE_MS)) return;
    if (!synced) return;

    std::array<std::uint16_t, 8> values{};
    if (!Exchange(kCommandInputs, values)) return;
    {
        std::lock_guard lock(g_State.hMutex);
        g_State.wInputs = values;
    }
    if (!EngineSleep(COMMAND_PAUSE_MS)) return;

    EvaluateNetworkInt();
    // Only this thread writes wOutputs, so reading it without the lock is consistent.
    const OutputFrame frame = FormatOutputFrame(g_State.wOutputs);
    // A failed frame leaves its text in szStatus; the pause follows all the same.
    (void)WriteTarget(frame.text);
    (void)EngineSleep(FRAME_PAUSE_MS);
}
