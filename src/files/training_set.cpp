#include "files/training_set.h"

#include <cstdio>

// Placeholder until the recorder lands.
std::string TrainingFileName(std::uint16_t number) {
    char name[32];
    std::snprintf(name, sizeof name, TRAINING_FILE_FORMAT, number);
    return name;
}
std::uint16_t NextTrainingFileNumber(std::uint16_t number) { return static_cast<std::uint16_t>(number + 1); }
std::uint16_t PreviousTrainingFileNumber(std::uint16_t number) { return number > 0 ? number - 1 : 0; }
const char* TrainingStoreResultText(TrainingStoreResult) { return ""; }
TrainingStoreResult AppendTrainingSet(const std::string&, const TrainingSet&) {
    return TrainingStoreResult::OpenFailed;
}
