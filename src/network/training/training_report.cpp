#include "network/training/training_report.h"

#include <iomanip>
#include <sstream>
#include <string>

namespace {

std::string Percent(double share) {
    std::ostringstream s;
    s << std::fixed << std::setprecision(1) << share * 100.0 << '%';
    return s.str();
}

void WriteFigureColumns(std::ostream& out, const ErrorFigure& f) {
    out << std::setw(8) << f.rmse << std::setw(7) << f.maxError << std::setw(9)
        << Percent(f.shareWithinOne);
}

// No rows held out: nothing was measured, and no figure pretends it was.
void WriteHeldOutColumns(std::ostream& out, const ErrorFigure& f, bool measured) {
    if (measured) {
        WriteFigureColumns(out, f);
    } else {
        out << std::setw(8) << "n/a" << std::setw(7) << "n/a" << std::setw(9) << "n/a";
    }
}

void WriteTable(std::ostream& out, const char* name, const ErrorFigures& train,
                const ErrorFigures& held, bool perOutput, bool heldMeasured) {
    for (int m = 0; perOutput && m < NET_OUTPUT_COUNT; ++m) {
        out << std::left << std::setw(11) << name << "out" << m + 1 << std::right << "  ";
        WriteFigureColumns(out, train.outputs[m]);
        out << "   ";
        WriteHeldOutColumns(out, held.outputs[m], heldMeasured);
        out << '\n';
    }
    out << std::left << std::setw(11) << name << "all " << std::right << "  ";
    WriteFigureColumns(out, train.all);
    out << "   ";
    WriteHeldOutColumns(out, held.all, heldMeasured);
    out << '\n';
}

}  // namespace

void WriteTrainingReport(std::ostream& out, const TrainingResult& r) {
    out << std::fixed << std::setprecision(2);
    out << "rows: " << r.trainRows + r.heldOutRows << " (" << r.trainRows << " trained on, "
        << r.heldOutRows << " held out)\n";
    out << "stage 1, float: " << r.floatStarts << " starts, " << r.floatEvaluations
        << " evaluations; stage 2, module: " << r.moduleSweeps << " sweeps"
        << (r.stoppedEarly ? "; stopped early, best so far kept" : "") << '\n';
    out << "time: " << r.seconds << " s\n";
    out << "errors in LSB       ---- training rows ----    ---- held-out rows ----\n";
    out << "                      RMSE    max  within 1      RMSE    max  within 1\n";
    const bool held = r.heldOutRows > 0;
    WriteTable(out, "float", r.floatTrain, r.floatHeldOut, true, held);
    WriteTable(out, "module", r.moduleTrain, r.moduleHeldOut, true, held);
    WriteTable(out, "truncated", r.truncatedTrain, r.truncatedHeldOut, false, held);
    out << "quantization cost (held out, module - float RMSE): ";
    if (held) {
        out << std::showpos << r.moduleHeldOut.all.rmse - r.floatHeldOut.all.rmse << std::noshowpos
            << " LSB\n";
    } else {
        out << "n/a (no rows held out)\n";
    }
    if (r.validationFolds > 0) {
        out << "choices made on rows not fitted on: " << r.validationRows << " validation rows";
        if (r.validationFolds > 1) out << " (" << r.validationFolds << "-fold cross-validation)";
        out << ", weight decay " << std::setprecision(4) << r.weightDecay
            << ", output weight decay " << r.outputDecay << std::setprecision(2)
            << "; module RMSE on them " << r.moduleValidation.all.rmse << " LSB\n";
        if (r.heldOutRows == 0) {
            out << "no rows held out: the figure above is the cross-validation estimate of the "
                   "error on new inputs\n";
        }
    }
    for (const std::string& warning : r.warnings) out << "warning: " << warning << '\n';
}
