#include "network/net_file_writer.h"

#include <cstdint>
#include <limits>

int FirstUnwritableWeight(const ModuleWeights& weights) {
    for (int n = 0; n < NET_WEIGHT_COUNT; ++n) {
        const std::int64_t value = std::int64_t{weights[n]} * MODULE_WEIGHT_DIVISOR;
        if (value > std::numeric_limits<std::int32_t>::max() ||
            value < std::numeric_limits<std::int32_t>::min()) {
            return n;
        }
    }
    return -1;
}

bool WriteModuleNetFile(std::ostream& out, const ModuleWeights& weights) {
    if (FirstUnwritableWeight(weights) >= 0) return false;
    for (std::int16_t w : weights) {
        out << std::int64_t{w} * MODULE_WEIGHT_DIVISOR << "\r\n";
    }
    return static_cast<bool>(out);
}
