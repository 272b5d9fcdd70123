#include "files/pass_log.h"

#include <cstdio>
#include <ctime>

#include "network/pass_values.h"

std::string LocalIso8601(std::chrono::system_clock::time_point at) {
    using namespace std::chrono;
    const auto ms = duration_cast<milliseconds>(at.time_since_epoch());
    std::time_t seconds = static_cast<std::time_t>(floor<std::chrono::seconds>(ms).count());
    const int millis = static_cast<int>(ms.count() - std::int64_t{seconds} * 1000);
    std::tm local{};
#ifdef _WIN32
    localtime_s(&local, &seconds);
    // No tm_gmtoff there: the local fields read as UTC, less the moment itself.
    std::tm fields = local;
    const long offset = static_cast<long>(_mkgmtime(&fields) - seconds);
#else
    localtime_r(&seconds, &local);
    // tm_gmtoff: seconds east of UTC, the offset in force at that moment.
    const long offset = local.tm_gmtoff;
#endif
    char date[32];
    std::strftime(date, sizeof date, "%Y-%m-%dT%H:%M:%S", &local);
    const long absOffset = offset < 0 ? -offset : offset;
    char text[80];
    std::snprintf(text, sizeof text, "%s.%03d%c%02ld:%02ld", date, millis, offset < 0 ? '-' : '+',
                  absOffset / 3600, (absOffset % 3600) / 60);
    return text;
}

PassClock::Stamp PassClock::Now() {
    return At(std::chrono::steady_clock::now(), std::chrono::system_clock::now());
}

PassClock::Stamp PassClock::At(std::chrono::steady_clock::time_point steady,
                               std::chrono::system_clock::time_point wall) {
    if (!started_) {
        started_ = true;
        first_ = steady;
    }
    return {LocalIso8601(wall),
            std::chrono::duration_cast<std::chrono::milliseconds>(steady - first_).count()};
}

std::string PassValuesHeader(bool withTime) {
    std::string line = withTime ? "time\tt_ms\t" : "";
    for (int k = 1; k <= NET_INPUT_COUNT; ++k) line += "in" + std::to_string(k) + '\t';
    for (int k = 1; k <= NET_OUTPUT_COUNT; ++k) {
        line += "out" + std::to_string(k);
        if (k < NET_OUTPUT_COUNT) line += '\t';
    }
    return line;
}

std::string PassValuesLine(const PassClock::Stamp* stamp, const NetInputs& inputs,
                           const NetOutputs& outputs) {
    std::string line;
    if (stamp != nullptr) line = stamp->time + '\t' + std::to_string(stamp->ms) + '\t';
    for (std::uint16_t v : inputs) line += std::to_string(v) + '\t';
    for (int k = 0; k < NET_OUTPUT_COUNT; ++k) {
        line += std::to_string(outputs[k]);
        if (k + 1 < NET_OUTPUT_COUNT) line += '\t';
    }
    return line;
}

std::string PassLogHeader(bool withMode) {
    std::string line = PassValuesHeader(true);
    if (withMode) line += "\tmode";
    return line;
}

std::string PassLogLine(const PassClock::Stamp& stamp, const NetInputs& inputs,
                        const NetOutputs& outputs, const char* mode) {
    std::string line = PassValuesLine(&stamp, inputs, outputs);
    if (mode != nullptr && *mode != '\0') {
        line += '\t';
        line += mode;
    }
    return line;
}

const char* PassLogModeName(int mode) {
    switch (mode) {
        case MODE_MONITOR:
            return "monitor";
        case MODE_SIM_FLOAT:
            return "sim-float";
        case MODE_SIM_INT:
            return "sim-int";
        case MODE_EMULATOR:
            return "emulator";
        default:
            return "hold";
    }
}
