#pragma once
// The training report as text columns: rows, stages, time, and per output and for
// all outputs the RMSE, largest |error| and share within 1 LSB of the float
// network, of the module's arithmetic and of the float network truncated, on the
// training and the held-out rows. Pure; safe from any thread.

#include <ostream>

#include "network/training/trainer.h"

void WriteTrainingReport(std::ostream& out, const TrainingResult& result);
