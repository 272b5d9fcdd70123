#pragma once
// What the "Train network..." dialog shows, kept apart from its widgets so that
// tests need none: the progress with its time left, the curve of the training
// and held-out error, and how each output fares on the held-out rows.
//
// Thread rules: plain values; the dialog uses them on the UI thread only.

#include <QString>
#include <array>
#include <cstddef>
#include <optional>
#include <vector>

#include "network/training/trainer.h"

// The bar's position and words. The fraction never goes back, and a run that
// ended early keeps the share it had reached.
class TrainingProgressModel {
public:
    void Start();
    void Update(double fraction, double elapsedSeconds);
    // A run that went to its end fills the bar; a stopped one stays where it was.
    // The trainer's last report carries the final figures at fraction 1 however the
    // run ended, so a stopped run's bar keeps the share reported before that.
    void Finish(bool stoppedEarly, double seconds);

    [[nodiscard]] int Permille() const;
    // "37 %, about 12 s left", "Stopped at 37 % after 8 s", "Done in 21 s".
    [[nodiscard]] QString Text() const;
    // The time left estimated from the pace so far; none before there is a pace.
    [[nodiscard]] std::optional<double> SecondsLeft() const;

private:
    enum class State { Idle, Running, Stopped, Done };
    State m_state = State::Idle;
    double m_fraction = 0.0;
    double m_beforeEnd = 0.0;  // the largest fraction reported below 1
    double m_elapsed = 0.0;
};

// The points of the training curve: x is the share of the planned work done
// (percent), y the module RMSE (LSB) of the best weights so far.
class TrainingCurveModel {
public:
    struct Point {
        double workPercent = 0.0;
        double train = 0.0;
        double heldOut = 0.0;
    };
    void Clear() { m_points.clear(); }
    void Add(const TrainingProgress& progress);
    // The run was stopped: its last point, the final figures reported at the whole
    // work, goes back to the work actually done.
    void EndedEarly();
    [[nodiscard]] const std::vector<Point>& Points() const { return m_points; }
    // No held-out rows: the held-out line is left out.
    void SetHeldOut(bool heldOut) { m_heldOut = heldOut; }
    [[nodiscard]] bool HasHeldOut() const { return m_heldOut; }
    // The top of the y axis: the largest value, rounded up to a step of 5 LSB.
    [[nodiscard]] double Top() const;

private:
    std::vector<Point> m_points;
    bool m_heldOut = true;
};

// How the trained weights fare, output by output, on the rows they were judged
// on: what the module computes (its integer arithmetic) against what was wanted.
class HeldOutModel {
public:
    struct Sample {
        std::size_t row = 0;  // 0-based, in the order the files were read
        int wanted = 0;
        int predicted = 0;
    };
    struct Output {
        std::vector<Sample> samples;
        double rmse = 0.0;
        int maxError = 0;
    };
    struct WorstRow {
        std::size_t row = 0;
        int output = 0;  // 0-based
        int wanted = 0;
        int predicted = 0;
    };

    // Evaluates `weights` with the module's integer evaluator on `rows[n]` for each
    // n of `rowNumbers`.
    void Compute(const std::vector<TrainingRow>& rows, const std::vector<std::size_t>& rowNumbers,
                 const ModuleWeights& weights);
    void Clear();

    [[nodiscard]] bool Empty() const { return m_rowCount == 0; }
    [[nodiscard]] std::size_t RowCount() const { return m_rowCount; }
    [[nodiscard]] const std::array<Output, NET_OUTPUT_COUNT>& Outputs() const { return m_outputs; }
    // The output with the largest RMSE (0-based); -1 when empty.
    [[nodiscard]] int WorstOutput() const;
    // The largest errors of any output, largest first, at most `count`.
    [[nodiscard]] std::vector<WorstRow> WorstRows(std::size_t count) const;
    // All outputs pooled.
    [[nodiscard]] double Rmse() const;

private:
    std::array<Output, NET_OUTPUT_COUNT> m_outputs{};
    std::size_t m_rowCount = 0;
};

// Whether `rowNumbers` (the trainer's HeldOutRowIndices) are the rows the result's
// held-out figures were measured on: it recomputes them and compares.
[[nodiscard]] bool HeldOutRowsMatch(const std::vector<TrainingRow>& rows,
                                    const std::vector<std::size_t>& rowNumbers,
                                    const TrainingResult& result);
