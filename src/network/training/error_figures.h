#pragma once
// The error figures of the report (RMSE, largest |error|, share within 1 LSB, per
// output and pooled) of a float network or of module weights over a set of rows,
// and the warnings drawn from them.
//
// Thread rules: pure functions of their arguments.

#include <cmath>
#include <cstddef>
#include <string>
#include <vector>

#include "network/training/parametrisation.h"
#include "network/training/trainer.h"
#include "network/training/trainer_tunables.h"

namespace training {

// Figures from the squared and absolute errors of every output of every row.
class FigureAccumulator {
public:
    void Add(int m, double error) {
        const double e = std::abs(error);
        Counts& c = counts_[m];
        c.sumSquares += e * e;
        c.max = std::max(c.max, e);
        if (e <= 1.0) ++c.withinOne;
        ++c.n;
    }
    [[nodiscard]] ErrorFigures Figures() const {
        ErrorFigures f;
        Counts all;
        for (int m = 0; m < NET_OUTPUT_COUNT; ++m) {
            f.outputs[m] = Figure(counts_[m]);
            all.sumSquares += counts_[m].sumSquares;
            all.max = std::max(all.max, counts_[m].max);
            all.withinOne += counts_[m].withinOne;
            all.n += counts_[m].n;
        }
        f.all = Figure(all);
        return f;
    }

private:
    struct Counts {
        double sumSquares = 0.0;
        double max = 0.0;
        std::size_t withinOne = 0;
        std::size_t n = 0;
    };
    static ErrorFigure Figure(const Counts& c) {
        if (c.n == 0) return {};
        return {std::sqrt(c.sumSquares / static_cast<double>(c.n)), c.max,
                static_cast<double>(c.withinOne) / static_cast<double>(c.n)};
    }
    std::array<Counts, NET_OUTPUT_COUNT> counts_{};
};

// The float network `u` (module units) in its own arithmetic, outputs unrounded.
ErrorFigures FloatFigures(const std::vector<TrainingRow>& rows,
                          const std::vector<std::size_t>& index, const Vector& u);
// `weights` in the module's arithmetic (EvaluateInt).
ErrorFigures ModuleFigures(const std::vector<TrainingRow>& rows,
                           const std::vector<std::size_t>& index, const ModuleWeights& weights);

// Plain-word warnings of a net that may be wrong on new inputs, each with what to do.
std::vector<std::string> TrainingWarnings(const TrainingResult& r, const TrainerTunables& t);

}  // namespace training
