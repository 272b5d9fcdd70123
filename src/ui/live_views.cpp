#include "ui/live_views.h"

#include <QFile>
#include <QFileInfo>
#include <QWidget>

#include "engine/engine.h"
#include "ui/chart_window.h"
#include "ui/dialog_seams.h"
#include "ui/engine_update_poster.h"

CLiveViews::CLiveViews(Engine& engine, std::shared_ptr<EngineUpdatePoster> poster,
                       const std::array<CTrackBar*, NET_OUTPUT_COUNT>& outputs, DialogSeams& seams,
                       QWidget* owner)
    : QObject(owner),
      m_engine(engine),
      m_poster(std::move(poster)),
      m_seams(seams),
      m_owner(owner),
      m_comparison(new CHostComparison(outputs, this)) {
    setObjectName(QStringLiteral("live"));
    m_passes.reserve(kMaxQueuedSamples);
    m_afterGap.reserve(kMaxQueuedSamples);
}

void CLiveViews::TakePasses(bool comparing) {
    m_poster->TakeSamples(m_passes, m_afterGap);
    if (m_passes.empty()) return;
    FileResult recorded = FileResult::Ok;
    if (m_recorder.Recording()) {
        for (const PassSample& pass : m_passes) {
            recorded = m_recorder.Append(pass);
            if (recorded != FileResult::Ok) break;
            ++m_recordedLines;
        }
    }
    if (comparing) {
        const ModuleWeights weights = m_engine.CopyModuleWeights();
        if (m_chart) m_chart->AddSamples(m_passes, m_afterGap, &weights);
        m_comparison->Count(m_passes, m_afterGap, weights);
    } else {
        if (m_chart) m_chart->AddSamples(m_passes, m_afterGap);
        m_comparison->Forget();
    }
    // The message box runs a nested event loop whose refreshes reuse m_passes, so it
    // comes only when this refresh is done with them.
    if (recorded != FileResult::Ok) {
        emit recordingChanged(false);
        m_seams.ShowMessage(m_owner, QString::fromLatin1(FileResultText(recorded)));
    }
}

void CLiveViews::AddFailure(std::chrono::steady_clock::time_point steady) {
    if (m_chart) m_chart->AddFailure(steady);
}

void CLiveViews::SetStale(bool stale) {
    m_stale = stale;
    if (m_chart) m_chart->SetStale(stale);
}

void CLiveViews::ShowComparison(bool on, const PassReport& report, bool stale) {
    if (!on) {
        m_comparison->Show(false, report, ModuleWeights{});
        return;
    }
    m_comparison->Show(true, report, m_engine.CopyModuleWeights(), stale);
}

QString CLiveViews::RecordingText() const {
    if (!m_recorder.Recording()) return {};
    return QStringLiteral("Recording %1: %2 %3")
        .arg(QFileInfo(m_recordPath).fileName())
        .arg(m_recordedLines)
        .arg(m_recordedLines == 1 ? QStringLiteral("line") : QStringLiteral("lines"));
}

void CLiveViews::OnRecordValues() {
    if (m_recorder.Recording()) {
        m_recorder.Stop();
        m_recordPath.clear();
        emit recordingChanged(false);
        return;
    }
    const QString path = m_seams.GetRecordFileName(m_owner);
    if (path.isEmpty()) return;
    const FileResult result = m_recorder.Start(QFile::encodeName(path).toStdString());
    if (result != FileResult::Ok) {
        m_seams.ShowMessage(m_owner, QString::fromLatin1(FileResultText(result)));
        return;
    }
    m_recordPath = path;
    m_recordedLines = 0;
    emit recordingChanged(true);
}

void CLiveViews::OnViewChart() {
    if (!m_chart) {
        m_chart = new CChartWindow(m_owner);
        m_chart->SetStale(m_stale);
        m_chart->show();
    }
    m_chart->raise();
    m_chart->activateWindow();
}
