#include <iostream>

#include "cli/commands.h"
#include "files/net_file.h"

bool LoadNetOption(const std::string& path, FileWeights& weights) {
    if (path.empty()) return true;  // the all-zero network, as at the window's start
    const FileResult result = ReadNetFile(path, weights);
    if (result == FileResult::Ok) return true;
    std::cerr << FileResultText(result) << '\n';
    return false;
}
