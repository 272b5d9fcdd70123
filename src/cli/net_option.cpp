#include <iostream>

#include "cli/commands.h"
#include "engine/weight_loader.h"

bool LoadNetOption(const std::string& path, FileWeights& weights) {
    if (path.empty()) return true;  // the all-zero network, as at the window's start
    const LoadResult result = ReadAsciiNetFile(path, weights);
    if (result == LoadResult::Ok) return true;
    std::cerr << LoadResultText(result) << '\n';
    return false;
}
