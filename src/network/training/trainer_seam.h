#pragma once
// The trainer's seam for tests: TrainNetwork with other tunables, and every module
// net it considers as the one to write ("candidate") shown as it is considered.
//
// Thread rules: as TrainNetwork's; `onCandidate` runs on the training's threads,
// one call at a time (under the lock of the kept net), and must not block.

#include <atomic>
#include <functional>
#include <vector>

#include "network/training/trainer.h"
#include "network/training/trainer_tunables.h"

struct TrainingSeam {
    TrainerTunables tunables;
    std::function<void(const ModuleWeights&)> onCandidate;
};

// Throws std::invalid_argument when seam.tunables has Problems().
[[nodiscard]] TrainingResult TrainNetworkWith(const std::vector<TrainingRow>& rows,
                                              const TrainingOptions& options,
                                              const TrainingSeam& seam,
                                              const TrainingProgressFn& progress = {},
                                              const std::atomic<bool>* stop = nullptr);
