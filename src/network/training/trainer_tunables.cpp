#include "network/training/trainer_tunables.h"

#include <algorithm>

std::vector<std::string> TrainerTunables::Problems() const {
    std::vector<std::string> problems;
    auto need = [&](bool ok, const char* what) {
        if (!ok) problems.emplace_back(what);
    };
    need(starts >= 1, "starts: at least one float start");
    need(decays[0] >= 0.0 && std::is_sorted(decays.begin(), decays.end()),
         "decays: not negative, ascending (ties keep the smaller)");
    need(startSampleRows >= 1, "startSampleRows: at least one row");
    need(startIterations >= 1, "startIterations: at least one");
    need(patience >= 1, "patience: at least one evaluation");
    need(validationEvery >= 1 && validationEvery <= patience,
         "validationEvery: 1..patience, or no run would ever be judged");
    need(checkpointEvery >= 1, "checkpointEvery: at least one evaluation");
    need(lbfgsMemory >= 1, "lbfgsMemory: at least one pair");
    need(lbfgsEpsilon >= 0.0 && lbfgsDelta >= 0.0, "lbfgsEpsilon, lbfgsDelta: not negative");
    need(lbfgsPast >= 0 && lbfgsMaxLineSearch >= 1, "lbfgsPast >= 0, lbfgsMaxLineSearch >= 1");
    need(biasPenaltyWeight > 0.0, "biasPenaltyWeight: above 0, or biases run off");
    need(modulePolishRowEvaluations > 0.0, "modulePolishRowEvaluations: above 0");
    need(minModulePolishIterations >= 1 && minModulePolishIterations <= maxModulePolishIterations,
         "module polish iterations: 1 <= min <= max");
    need(roundingRounds >= 1 && roundingIterations >= 1, "rounding: at least one round and step");
    need(refitIterations >= 1 && maxRefits >= 0, "refits: iterations >= 1, count >= 0");
    need(candidates >= 1 && candidates <= static_cast<std::size_t>(std::max(starts, 1)),
         "candidates: 1..starts");
    need(outputDecays[0] >= 0.0 && std::is_sorted(outputDecays.begin(), outputDecays.end()),
         "outputDecays: not negative, ascending");
    need(maxSweeps >= 1 && sweepPatience >= 1, "sweeps: at least one, patience at least one");
    need(maxRepeats >= 1, "maxRepeats: at least one");
    need(steps[0] >= 1 && std::is_sorted(steps.begin(), steps.end()) &&
             std::adjacent_find(steps.begin(), steps.end()) == steps.end(),
         "steps: positive, strictly ascending (shortest first)");
    need(folds >= 2, "folds: at least two, or a row is never judged");
    need(validationShare > 0.0 && validationShare < 1.0, "validationShare: between 0 and 1");
    need(farAbove >= 1.0 && farAboveLsb >= 0.0, "farAbove >= 1, farAboveLsb >= 0");
    return problems;
}
