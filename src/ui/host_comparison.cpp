#include "ui/host_comparison.h"

#include <cstdlib>

#include "network/evaluators.h"
#include "network/pass_verdict.h"
#include "ui/track_bar.h"

namespace {

// Sliders show 0..255; a larger value shows at the top end.
int Shown(std::uint16_t value) {
    return value > 255 ? 255 : value;
}

}  // namespace

CHostComparison::CHostComparison(const std::array<CTrackBar*, NET_OUTPUT_COUNT>& outputs,
                                 QObject* parent)
    : QObject(parent), m_sliderOut(outputs) {
    for (int k = 0; k < NET_OUTPUT_COUNT; ++k) m_marker[k] = new CHostMarker(m_sliderOut[k]);
}

void CHostComparison::SetTolerance(int lsb) {
    m_tolerance = lsb < 0 ? 0 : lsb;
}

void CHostComparison::Forget() {
    m_before.reset();
    m_pending.reset();
}

void CHostComparison::ClearCounts() {
    m_counts = Counts{};
    m_lastJudgedDiffers.fill(false);
    emit countsChanged();
}

void CHostComparison::Count(const std::vector<PassSample>& passes,
                            const std::vector<bool>& afterGap, const ModuleWeights& weights) {
    const Counts before = m_counts;
    for (std::size_t n = 0; n < passes.size(); ++n) {
        const PassSample& pass = passes[n];
        if (n < afterGap.size() && afterGap[n]) Forget();
        if (pass.mode != MODE_MONITOR) {
            Forget();
            continue;
        }
        if (m_before && m_pending) Judge(*m_before, *m_pending, pass, weights);
        m_before = m_pending;
        m_pending = pass;
    }
    if (before.judged != m_counts.judged || before.inputsMoved != m_counts.inputsMoved) {
        emit countsChanged();
    }
}

void CHostComparison::Judge(const PassSample& before, const PassSample& pass,
                            const PassSample& after, const ModuleWeights& weights) {
    const NetInputs readings[3] = {before.inputs, pass.inputs, after.inputs};
    const PassVerdict v = JudgePass(readings, pass.outputs, weights, m_tolerance);
    if (!v.decided) {
        ++m_counts.inputsMoved;
        return;
    }
    ++m_counts.judged;
    for (int k = 0; k < NET_OUTPUT_COUNT; ++k) {
        if (v.differs[k]) ++m_counts.mismatches[k];
        m_lastJudgedDiffers[k] = v.differs[k];
    }
}

QString CHostComparison::ToolTip(int k, int module, int host) const {
    return CHostMarker::ComparisonText(module, host) +
           QStringLiteral("\nmismatching passes: %1 of %2 (tolerance %3)")
               .arg(m_counts.mismatches[k])
               .arg(m_counts.judged)
               .arg(m_tolerance) +
           QStringLiteral("\ninputs moved: %1 passes, not compared").arg(m_counts.inputsMoved);
}

void CHostComparison::Show(bool on, const PassReport& report, const ModuleWeights& weights) {
    if (!on) {
        if (!m_shown) return;
        m_shown = false;
        for (int k = 0; k < NET_OUTPUT_COUNT; ++k) {
            m_marker[k]->Show(std::nullopt, 0, CHostMarker::Verdict::Agrees);
            m_sliderOut[k]->SetToolTipText(QString());
        }
        return;
    }
    m_shown = true;
    const NetOutputs host = EvaluateInt(report.inputs, weights);
    for (int k = 0; k < NET_OUTPUT_COUNT; ++k) {
        const int module = Shown(report.outputs[k]);
        CHostMarker::Verdict verdict = CHostMarker::Verdict::Agrees;
        if (std::abs(module - int(host[k])) > m_tolerance) {
            verdict = m_lastJudgedDiffers[k] ? CHostMarker::Verdict::Differs
                                             : CHostMarker::Verdict::Unsettled;
        }
        m_marker[k]->Show(host[k], module, verdict);
        m_sliderOut[k]->SetToolTipText(ToolTip(k, module, host[k]));
    }
}
