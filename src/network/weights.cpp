#include "network/weights.h"

ModuleWeights DeriveModuleWeights(const FileWeights& fileWeights) {
    ModuleWeights module{};
    for (int n = 0; n < NET_WEIGHT_COUNT; ++n) module[n] = DeriveModuleWeight(fileWeights[n]);
    return module;
}
