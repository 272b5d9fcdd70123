#include <iostream>

#include "cli/commands.h"
#include "network/net_file_reader.h"

bool LoadNetOption(const std::string& path, FileWeights& weights) {
    if (path.empty()) return true;  // the all-zero network, as at the window's start
    const FileResult result = ReadAsciiNetFile(path, weights);
    if (result == FileResult::Ok) return true;
    std::cerr << FileResultText(result) << '\n';
    return false;
}
