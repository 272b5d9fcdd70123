#include "ui/train_models.h"

#include <algorithm>
#include <cmath>
#include <numeric>
#include <random>

#include "network/evaluators.h"

// ---- Progress ------------------------------------------------------------------

void TrainingProgressModel::Start() {
    m_state = State::Running;
    m_fraction = 0.0;
    m_beforeEnd = 0.0;
    m_elapsed = 0.0;
}

void TrainingProgressModel::Update(double fraction, double elapsedSeconds) {
    if (m_state != State::Running) return;
    // The bar must not go back, whatever a stage reports.
    const double f = std::clamp(fraction, 0.0, 1.0);
    m_fraction = std::max(m_fraction, f);
    if (f < 1.0) m_beforeEnd = std::max(m_beforeEnd, f);
    m_elapsed = std::max(m_elapsed, elapsedSeconds);
}

void TrainingProgressModel::Finish(bool stoppedEarly, double seconds) {
    m_elapsed = std::max(m_elapsed, seconds);
    if (stoppedEarly) {
        m_state = State::Stopped;
        m_fraction = m_beforeEnd;
    } else {
        m_state = State::Done;
        m_fraction = 1.0;
    }
}

int TrainingProgressModel::Permille() const {
    return static_cast<int>(std::floor(m_fraction * 1000.0));
}

std::optional<double> TrainingProgressModel::SecondsLeft() const {
    // Too little done, or too soon, gives no pace worth telling.
    if (m_state != State::Running || m_fraction < 0.01 || m_elapsed < 0.5) return std::nullopt;
    return m_elapsed * (1.0 - m_fraction) / m_fraction;
}

namespace {

QString Duration(double seconds) {
    const long long s = std::llround(seconds);
    if (s < 60) return QStringLiteral("%1 s").arg(s);
    return QStringLiteral("%1 min %2 s").arg(s / 60).arg(s % 60, 2, 10, QLatin1Char('0'));
}

}  // namespace

QString TrainingProgressModel::Text() const {
    const int percent = Permille() / 10;
    switch (m_state) {
        case State::Idle:
            return QString();
        case State::Running:
            if (const auto left = SecondsLeft()) {
                return QStringLiteral("%1 %, about %2 left").arg(percent).arg(Duration(*left));
            }
            return QStringLiteral("%1 %").arg(percent);
        case State::Stopped:
            return QStringLiteral("Stopped at %1 % after %2").arg(percent).arg(Duration(m_elapsed));
        case State::Done:
            return QStringLiteral("Done in %1").arg(Duration(m_elapsed));
    }
    return QString();
}

// ---- Curve ---------------------------------------------------------------------

void TrainingCurveModel::Add(const TrainingProgress& progress) {
    // The work done only moves on; a report from behind is drawn where the last was.
    const double work = std::clamp(progress.fraction, 0.0, 1.0) * 100.0;
    const double x = m_points.empty() ? work : std::max(work, m_points.back().workPercent);
    m_points.push_back({x, progress.trainRmse, progress.heldOutRmse});
}

void TrainingCurveModel::EndedEarly() {
    if (m_points.size() < 2 || m_points.back().workPercent < 100.0) return;
    m_points.back().workPercent = m_points[m_points.size() - 2].workPercent;
}

double TrainingCurveModel::Top() const {
    double top = 0.0;
    for (const Point& p : m_points) {
        top = std::max(top, p.train);
        if (m_heldOut) top = std::max(top, p.heldOut);
    }
    return std::max(5.0, std::ceil(top / 5.0) * 5.0);
}

// ---- Held-out rows --------------------------------------------------------------

void HeldOutModel::Clear() {
    m_outputs = {};
    m_rowCount = 0;
}

void HeldOutModel::Compute(const std::vector<TrainingRow>& rows,
                           const std::vector<std::size_t>& rowNumbers,
                           const ModuleWeights& weights) {
    Clear();
    std::array<double, NET_OUTPUT_COUNT> squares{};
    for (const std::size_t n : rowNumbers) {
        if (n >= rows.size()) continue;
        const TrainingRow& row = rows[n];
        NetInputs inputs{};
        for (int i = 0; i < NET_INPUT_COUNT; ++i) inputs[i] = row.in[i];
        const NetOutputs outputs = EvaluateInt(inputs, weights);
        for (int m = 0; m < NET_OUTPUT_COUNT; ++m) {
            const int wanted = row.out[m];
            const int predicted = outputs[m];
            const int error = std::abs(predicted - wanted);
            Output& out = m_outputs[m];
            out.samples.push_back({n, wanted, predicted});
            out.maxError = std::max(out.maxError, error);
            squares[m] += static_cast<double>(error) * error;
        }
        ++m_rowCount;
    }
    if (m_rowCount == 0) return;
    for (int m = 0; m < NET_OUTPUT_COUNT; ++m) {
        m_outputs[m].rmse = std::sqrt(squares[m] / static_cast<double>(m_rowCount));
    }
}

int HeldOutModel::WorstOutput() const {
    if (Empty()) return -1;
    int worst = 0;
    for (int m = 1; m < NET_OUTPUT_COUNT; ++m) {
        if (m_outputs[m].rmse > m_outputs[worst].rmse) worst = m;
    }
    return worst;
}

std::vector<HeldOutModel::WorstRow> HeldOutModel::WorstRows(std::size_t count) const {
    std::vector<WorstRow> all;
    for (int m = 0; m < NET_OUTPUT_COUNT; ++m) {
        for (const Sample& s : m_outputs[m].samples) {
            if (s.predicted != s.wanted) all.push_back({s.row, m, s.wanted, s.predicted});
        }
    }
    const auto error = [](const WorstRow& w) { return std::abs(w.predicted - w.wanted); };
    // Ties in row then output order, so the table does not shuffle between runs.
    std::stable_sort(all.begin(), all.end(),
                     [&](const WorstRow& a, const WorstRow& b) { return error(a) > error(b); });
    if (all.size() > count) all.resize(count);
    return all;
}

double HeldOutModel::Rmse() const {
    if (Empty()) return 0.0;
    double squares = 0.0;
    for (const Output& out : m_outputs) squares += out.rmse * out.rmse;
    return std::sqrt(squares / NET_OUTPUT_COUNT);
}

bool HeldOutRowsMatch(const std::vector<TrainingRow>& rows,
                      const std::vector<std::size_t>& rowNumbers, const TrainingResult& result) {
    if (rowNumbers.size() != result.heldOutRows) return false;
    std::vector<TrainingRow> held;
    held.reserve(rowNumbers.size());
    for (const std::size_t n : rowNumbers) {
        if (n >= rows.size()) return false;
        held.push_back(rows[n]);
    }
    const ErrorFigures figures = ModuleErrorFigures(held, result.weights);
    for (int m = 0; m < NET_OUTPUT_COUNT; ++m) {
        if (std::abs(figures.outputs[m].rmse - result.moduleHeldOut.outputs[m].rmse) > 1e-9 ||
            figures.outputs[m].maxError != result.moduleHeldOut.outputs[m].maxError) {
            return false;
        }
    }
    return true;
}
