#pragma once
// What the main window shows of the passes besides its sliders: the recording
// (File > Record values...), the live chart (View > Chart) and the comparison with
// the host (View > Compare with host). Each takes a pass's values from that pass's
// report, through the samples the poster keeps of every pass that read values.
//
// Thread rules: UI thread only.

#include <QObject>
#include <QPointer>
#include <QString>
#include <array>
#include <chrono>
#include <memory>
#include <vector>

#include "files/pass_recorder.h"
#include "ui/host_comparison.h"

class CChartWindow;
class CTrackBar;
class DialogSeams;
class Engine;
class EngineUpdatePoster;
class QWidget;

class CLiveViews : public QObject {
    Q_OBJECT
public:
    // `engine`, `seams`, the sliders and `owner` must outlive the views.
    CLiveViews(Engine& engine, std::shared_ptr<EngineUpdatePoster> poster,
               const std::array<CTrackBar*, NET_OUTPUT_COUNT>& outputs, DialogSeams& seams,
               QWidget* owner);

    // Writes, draws and counts the passes queued since the last call. `comparing`:
    // the comparison shows, so its counts take the passes and the chart draws the
    // host's lines.
    void TakePasses(bool comparing);
    // A pass failed at `steady`: the chart breaks its lines there.
    void AddFailure(std::chrono::steady_clock::time_point steady);
    // The values shown are not current (the chart's legend says so).
    void SetStale(bool stale);
    // The markers for the latest report, or none; `stale`: no verdict on it.
    void ShowComparison(bool on, const PassReport& report, bool stale = false);

    // "Record values..." / "Stop recording".
    void OnRecordValues();
    [[nodiscard]] bool Recording() const { return m_recorder.Recording(); }
    // While recording: "Recording rec.txt: 51 lines"; the file's path apart.
    [[nodiscard]] QString RecordingText() const;
    [[nodiscard]] const QString& RecordingPath() const { return m_recordPath; }
    // Opens the chart, or raises it.
    void OnViewChart();

    [[nodiscard]] CHostComparison& Comparison() { return *m_comparison; }

signals:
    // The recording started or stopped (also by a failed write).
    void recordingChanged(bool recording);

private:
    Engine& m_engine;
    std::shared_ptr<EngineUpdatePoster> m_poster;
    DialogSeams& m_seams;
    QWidget* m_owner;
    CHostComparison* m_comparison;
    PassRecorder m_recorder;
    QPointer<CChartWindow> m_chart;    // null while the chart is closed (it deletes itself)
    std::vector<PassSample> m_passes;  // reused by TakePasses, so it allocates once
    std::vector<bool> m_afterGap;      // beside m_passes
    QString m_recordPath;              // the recording's file, while it runs
    long m_recordedLines = 0;          // lines this recording wrote
    bool m_stale = false;
};
