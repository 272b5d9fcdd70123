#include "engine/weight_loader.h"

#include <fstream>

#include "engine/shared_state.h"
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

LoadResult LoadAsciiNetFile(const std::string& path) {
    FileWeights scratch{};
    const LoadResult result = ReadAsciiNetFile(path, scratch);
    if (result != LoadResult::Ok) return result;
    const ModuleWeights module = DeriveModuleWeights(scratch);

    std::lock_guard lock(g_State.hMutex);
    g_State.lFileWeights = scratch;
    g_State.sModuleWeights = module;
    return LoadResult::Ok;
}
