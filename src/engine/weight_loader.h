#pragma once
// Loading an ASCII net file into the weight set of g_State.
//
// Thread rules: any thread; the file is read without the lock and both weight
// forms are replaced together under hMutex, only when all 280 values were read.
// A failed load changes nothing.

#include <string>

#include "network/weights.h"

enum class LoadResult {
    Ok,
    OpenFailed,  // "Error opening file"
    ReadFailed,  // "Error reading file"
};

// The operator's text for a failed load (empty for Ok).
[[nodiscard]] const char* LoadResultText(LoadResult result);

// Reads the file at `path` into `weights` without touching g_State; `weights` is
// only written when all 280 values were read.
[[nodiscard]] LoadResult ReadAsciiNetFile(const std::string& path, FileWeights& weights);

[[nodiscard]] LoadResult LoadAsciiNetFile(const std::string& path);
