#pragma once
// Reading an ASCII net file from a path (the engine's load replaces its weights
// with the result, see Engine::LoadAsciiNetFile).
//
// Thread rules: any thread; no shared state.

#include <string>

#include "network/weights.h"

enum class LoadResult {
    Ok,
    OpenFailed,  // "Error opening file"
    ReadFailed,  // "Error reading file"
};

// The operator's text for a failed load (empty for Ok).
[[nodiscard]] const char* LoadResultText(LoadResult result);

// Reads the file at `path` into `weights`; `weights` is only written when all 280
// values were read.
[[nodiscard]] LoadResult ReadAsciiNetFile(const std::string& path, FileWeights& weights);
