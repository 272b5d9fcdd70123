#include "engine/weight_loader.h"

#include "engine/shared_state.h"
#include "network/net_file_reader.h"

FileResult LoadAsciiNetFile(const std::string& path) {
    FileWeights scratch{};
    const FileResult result = ReadAsciiNetFile(path, scratch);
    if (result != FileResult::Ok) return result;
    const ModuleWeights module = DeriveModuleWeights(scratch);

    std::lock_guard lock(g_State.hMutex);
    g_State.lFileWeights = scratch;
    g_State.sModuleWeights = module;
    return FileResult::Ok;
}
