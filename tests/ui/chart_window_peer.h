#pragma once
// What the chart window's tests look at inside it, kept out of its public surface:
// the plot and its graphs, the legend, the read-out, the band labels and the
// count of frames drawn.

#include <qcustomplot.h>

#include <QLabel>
#include <QStringList>
#include <QToolButton>

#include "ui/chart_window.h"

class CChartWindowTestPeer {
public:
    // Series 0..7 are in1..in8, 8..15 out1..out8.
    static QCPGraph* Graph(const CChartWindow& chart, int k) { return chart.m_graphs[k]; }
    static QToolButton* LegendEntry(const CChartWindow& chart, int k) { return chart.m_legend[k]; }
    static QCustomPlot* Plot(const CChartWindow& chart) { return chart.Plot(); }
    // What the read-out under the plots says (the value under the mouse while paused).
    static QString Readout(const CChartWindow& chart) { return chart.m_readout->text(); }
    // Frames that redrew the lines since the window opened.
    static int FramesDrawn(const CChartWindow& chart) { return chart.m_framesDrawn; }
    // The band texts drawn now ("link down 13 s"), oldest first.
    static QStringList OutageLabels(const CChartWindow& chart) {
        QStringList labels;
        for (const CChartWindow::Band& band : chart.m_bands) {
            if (band.label->visible()) labels << band.label->text();
        }
        return labels;
    }
};
