#pragma once
// Writer of the ASCII net file, the counterpart of net_file_reader.h: the net file
// whose module weights are a given set (what `decode` makes of a flash image).
// Pure: writes a stream, never touches shared state. Safe from any thread.

#include <ostream>

#include "network/weights.h"

// The first entry whose file value (weight x 2,000,000) would not fit a net file's
// signed 32-bit range, or -1 when every weight can be written.
[[nodiscard]] int FirstUnwritableWeight(const ModuleWeights& weights);

// The net file of `weights`: 280 lines of weight x 2,000,000, each ending in CR LF.
// Loading it gives these module weights back exactly. False when a weight cannot
// be written (see FirstUnwritableWeight; nothing is written then) or the stream
// failed.
[[nodiscard]] bool WriteModuleNetFile(std::ostream& out, const ModuleWeights& weights);
