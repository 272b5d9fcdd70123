#pragma once
// What the main window shows of the passes besides its sliders: the recording
// (File > Record values...), the live chart (View > Chart) and the comparison with
// the host (View > Compare with host). Each takes a pass's values from that pass's
// report, through the samples the poster keeps of every pass that read values.
//
// Thread rules: UI thread only.

#include <QObject>
#include <QPointer>
#include <array>
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
    // the comparison shows, so its counts take the passes.
    void TakePasses(bool comparing);
    // The markers for the latest report, or none.
    void ShowComparison(bool on, const PassReport& report);

    // "Record values..." / "Stop recording".
    void OnRecordValues();
    [[nodiscard]] bool Recording() const { return m_recorder.Recording(); }
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
};
