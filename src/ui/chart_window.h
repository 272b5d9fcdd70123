#pragma once
// The live chart: the sixteen values of the last minute of passes, inputs in the
// upper plot and outputs in the lower one, each 0..255 against the seconds before
// now (the newest pass, good or failed). Lines break where passes failed or did
// not come, and an outage shows as a band with its length; with Compare on, the
// host's prediction of each output is a dashed line beside the module's. What is
// drawn comes from a ChartSeries (chart_series.h); this window only draws it. A legend beside the
// plots shows each series' current value and hides or shows the series on a click; Pause (or Space)
// freezes the picture while the values keep being collected, Resume brings it up to date. While
// paused, the wheel zooms and a drag pans the time axis, and the value under the mouse is read out.
// "Save picture..." writes the window as a PNG file.
//
// Drawing is what costs, so the chart draws at most kChartFramesPerSecond frames a
// second, however fast passes come, and none when the picture would not change: a
// frame sets each series' points at once, and only for series whose drawn line
// moved by a pixel. No timer runs while nothing comes in, so an idle engine (Hold)
// costs nothing, and a closed chart (the window deletes itself) is not fed at all.
//
// Thread rules: UI thread only; the window is fed the samples the main window takes
// from the engine's poster.

#include <QElapsedTimer>
#include <QTimer>
#include <QWidget>
#include <array>
#include <chrono>
#include <deque>
#include <vector>

#include "network/pass_values.h"
#include "ui/chart_series.h"

class CChartPlot;
class QCPAxisRect;
class QCPGraph;
class QCPItemRect;
class QCPItemText;
class QCPItemTracer;
class QCPRange;
class QCustomPlot;
class QLabel;
class QMouseEvent;
class QPushButton;
class QToolButton;

// More than a person follows on a slowly moving line; fewer would look jerky.
inline constexpr int kChartFramesPerSecond = 10;

class CChartWindow : public QWidget {
    Q_OBJECT
public:
    // A window of its own beside `parent`, inside its screen, deleted when closed.
    explicit CChartWindow(QWidget* parent);

    // Takes the values of `samples` (oldest first); unless paused, they are drawn
    // with the next frame. `afterGap` (beside `samples`, or empty): a sample not
    // joined to the one before. `host`: the weights to draw the host's prediction
    // with (Compare on), or null.
    void AddSamples(const std::vector<PassSample>& samples, const std::vector<bool>& afterGap = {},
                    const ModuleWeights* host = nullptr);
    // A pass that failed at `steady`: the lines break, the outage band grows.
    void AddFailure(std::chrono::steady_clock::time_point steady);
    // The values are no longer current: the legend says so.
    void SetStale(bool stale);
    void SetPaused(bool paused);
    [[nodiscard]] bool Paused() const { return m_paused; }
    // Writes the window's picture to `path` as PNG; false when it cannot be written.
    [[nodiscard]] bool SavePicture(const QString& path);

protected:
    void changeEvent(QEvent* event) override;

private:
    friend class CChartWindowTestPeer;  // tests look at the plot, legend and read-out

    // The plot, as what it is to the outside (CChartPlot is this file's own).
    [[nodiscard]] QCustomPlot* Plot() const;

    // Draws now if the last frame is old enough, else once it is.
    void RequestFrame();
    void DrawFrame();
    // The series the picture shows: the live one, or the one frozen by Pause.
    [[nodiscard]] const ChartSeries& Shown() const { return m_paused ? m_frozen : m_series; }
    // Places the outage bands of the shown series; true when any moved.
    bool PlaceOutages();
    void OnLegendToggled(int k, bool shown);
    void OnTimeRangeChanged(const QCPRange& range);
    void OnPlotMouseMove(QMouseEvent* event);
    void OnSavePicture();
    [[nodiscard]] static QString LegendText(int k, int value);
    // Where the lines and the tracer are drawn: the insides of the two axis rects.
    [[nodiscard]] QRegion PlotAreas() const;

    ChartSeries m_series;  // the last kChartSpanSeconds and one more
    ChartSeries m_frozen;  // what was shown when Pause froze the picture
    bool m_stale = false;
    bool m_hostShown = false;  // the host's lines carry values
    bool m_paused = false;
    bool m_drawWhenRestored = false;  // a frame came due while minimised
    bool m_fullReplot = true;         // the axes changed since the last full replot
    int m_framesDrawn = 0;
    QTimer m_frameTimer;         // single shot: the next frame, when one is due
    QElapsedTimer m_sinceFrame;  // invalid until the first frame
    CChartPlot* m_plot = nullptr;
    std::array<QCPAxisRect*, 2> m_rects{};  // inputs, outputs
    std::array<QCPGraph*, kChartSeriesCount> m_graphs{};
    std::array<QCPGraph*, NET_OUTPUT_COUNT> m_hostGraphs{};
    // A band and a label per outage and plot, made as needed and hidden when unused.
    struct Band {
        std::array<QCPItemRect*, 2> rects{};
        QCPItemText* label = nullptr;  // in the outputs plot
    };
    std::vector<Band> m_bands;
    std::vector<std::pair<int, int>> m_bandPixels;  // each band's drawn edges
    std::string m_lastBandLabel;                    // the newest band's drawn label
    // Each series' line as last drawn, in pixels, so that a frame that would move
    // nothing draws nothing.
    std::array<std::vector<ChartPixel>, kChartSeriesCount + NET_OUTPUT_COUNT> m_drawn;
    std::array<QToolButton*, kChartSeriesCount> m_legend{};
    std::array<int, kChartSeriesCount> m_shownValue{};  // what each legend entry says
    QCPItemTracer* m_tracer = nullptr;                  // marks the value read out
    QLabel* m_readout = nullptr;
    QLabel* m_pausedLabel = nullptr;
    QPushButton* m_pause = nullptr;
};
