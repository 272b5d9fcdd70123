#pragma once
// The live chart: the sixteen values of the last minute of passes, inputs in the
// upper plot and outputs in the lower one, each 0..255 against the seconds before
// the newest pass. A legend beside the plots shows each series' current value and
// hides or shows the series on a click; Pause (or Space) freezes the picture while
// the values keep being collected, Resume brings it up to date.
//
// It draws only when it is given new values: no timer runs, so an idle engine (Hold)
// costs nothing, and a closed chart (the window deletes itself) is not fed at all.
//
// Thread rules: UI thread only; the window is fed the samples the main window takes
// from the engine's poster.

#include <QWidget>
#include <array>
#include <deque>
#include <vector>

#include "files/pass_recorder.h"

class QChart;
class QLineSeries;
class QPushButton;
class QToolButton;

// How far back the chart reaches.
inline constexpr int kChartSpanSeconds = 60;
// Inputs then outputs.
inline constexpr int kChartSeriesCount = NET_INPUT_COUNT + NET_OUTPUT_COUNT;

class CChartWindow : public QWidget {
    Q_OBJECT
public:
    // A window of its own beside `parent`, deleted when closed.
    explicit CChartWindow(QWidget* parent);

    // Takes the values of `samples` (oldest first) and redraws unless paused.
    void AddSamples(const std::vector<PassSample>& samples);
    void SetPaused(bool paused);
    [[nodiscard]] bool Paused() const { return m_paused; }

    // Series 0..7 are in1..in8, 8..15 out1..out8.
    [[nodiscard]] QLineSeries* Series(int k) const { return m_series[k]; }
    [[nodiscard]] QToolButton* LegendEntry(int k) const { return m_legend[k]; }

private:
    struct Point {
        double seconds;  // on the steady clock
        std::array<std::uint16_t, kChartSeriesCount> values;
    };

    void Redraw();
    void OnLegendToggled(int k, bool shown);
    [[nodiscard]] static QString LegendText(int k, int value);

    std::deque<Point> m_points;  // oldest first, the last kChartSpanSeconds and one more
    bool m_paused = false;
    std::array<QLineSeries*, kChartSeriesCount> m_series{};
    std::array<QToolButton*, kChartSeriesCount> m_legend{};
    std::array<int, kChartSeriesCount> m_shownValue{};  // what each legend entry says
    QPushButton* m_pause = nullptr;
};
