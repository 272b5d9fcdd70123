#include "engine/weight_loader.h"

#include <fstream>

#include "network/net_file_reader.h"

const char* LoadResultText(LoadResult result) {
    switch (result) {
        case LoadResult::Ok:
            return "";
        case LoadResult::OpenFailed:
            return "Error opening file";
        case LoadResult::ReadFailed:
            return "Error reading file";
    }
    return "";
}

LoadResult ReadAsciiNetFile(const std::string& path, FileWeights& weights) {
    std::ifstream file(path);
    if (!file.is_open()) return LoadResult::OpenFailed;
    FileWeights scratch{};
    if (ReadAsciiNet(file, scratch).status != NetReadStatus::Ok) return LoadResult::ReadFailed;
    weights = scratch;
    return LoadResult::Ok;
}
