#include "ui/host_comparison.h"

#include <QStringList>
#include <cstdlib>

#include "network/evaluators.h"
#include "network/pass_verdict.h"
#include "ui/link_health.h"
#include "ui/track_bar.h"

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
    for (CHostMarker* marker : m_marker) marker->SetCount(0);
    emit countsChanged();
}

void CHostComparison::Count(const std::vector<PassSample>& passes,
                            const std::vector<bool>& afterGap, const ModuleWeights& weights) {
    const Counts before = m_counts;
    for (std::size_t n = 0; n < passes.size(); ++n) {
        const PassSample& pass = passes[n];
        if (n < afterGap.size() && afterGap[n]) Forget();
        // Passes that came more than kStaleAfter apart are no neighbours either.
        if (m_pending && pass.steady - m_pending->steady > kStaleAfter) Forget();
        if (pass.mode != MODE_MONITOR) {
            Forget();
            continue;
        }
        if (m_before && m_pending) Judge(*m_before, *m_pending, pass, weights);
        m_before = m_pending;
        m_pending = pass;
    }
    if (before.judged != m_counts.judged || before.inputsMoved != m_counts.inputsMoved) {
        for (int k = 0; k < NET_OUTPUT_COUNT; ++k) m_marker[k]->SetCount(m_counts.mismatches[k]);
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

QString CHostComparison::Summary() const {
    if (m_counts.judged == 0) return QStringLiteral("Compare: no pass judged yet");
    int total = 0;
    QStringList outputs;
    for (int k = 0; k < NET_OUTPUT_COUNT; ++k) {
        total += m_counts.mismatches[k];
        if (m_counts.mismatches[k] > 0) outputs << QStringLiteral("out%1").arg(k + 1);
    }
    if (total == 0) return QStringLiteral("Compare: no mismatch in %1 passes").arg(m_counts.judged);
    return QStringLiteral("Compare: %1 %2 in %3 passes, %4")
        .arg(total)
        .arg(total == 1 ? QStringLiteral("mismatch") : QStringLiteral("mismatches"))
        .arg(m_counts.judged)
        .arg(outputs.join(QStringLiteral(", ")));
}

void CHostComparison::Show(bool on, const PassReport& report, const ModuleWeights& weights,
                           bool stale) {
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
        const int module = ClipToByte(report.outputs[k]);
        CHostMarker::Verdict verdict = CHostMarker::Verdict::Agrees;
        if (stale) {
            verdict = CHostMarker::Verdict::Unsettled;  // no verdict on old values
        } else if (std::abs(module - int(host[k])) > m_tolerance) {
            verdict = m_lastJudgedDiffers[k] ? CHostMarker::Verdict::Differs
                                             : CHostMarker::Verdict::Unsettled;
        }
        m_marker[k]->Show(host[k], module, verdict);
        QString tip = ToolTip(k, module, host[k]);
        if (stale) tip += QStringLiteral("\nnot current: the link stopped, nothing compared");
        m_sliderOut[k]->SetToolTipText(tip);
    }
}
