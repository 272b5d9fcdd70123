#pragma once
// Loading an ASCII net file into the weight set of g_State.
//
// Thread rules: any thread; the file is read without the lock and both weight
// forms are replaced together under hMutex, only when all 280 values were read.
// A failed load changes nothing.

#include <string>

#include "network/file_result.h"
#include "network/weights.h"

// Ok, OpenFailed or ReadFailed (see ReadAsciiNetFile of network/net_file_reader.h).
[[nodiscard]] FileResult LoadAsciiNetFile(const std::string& path);
