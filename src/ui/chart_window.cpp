#include "ui/chart_window.h"

#include <QChart>
#include <QChartView>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineSeries>
#include <QPen>
#include <QPixmap>
#include <QPushButton>
#include <QShortcut>
#include <QToolButton>
#include <QVBoxLayout>
#include <QValueAxis>

namespace {

constexpr int kWidth = 720;
constexpr int kHeight = 520;
constexpr int kGap = 8;  // between the main window and the chart

// One hue per channel, the same in both plots: in3 and out3 share a colour, so the
// eye finds a channel's pair at once.
constexpr QRgb kColours[NET_INPUT_COUNT] = {0x1f77b4, 0xff7f0e, 0x2ca02c, 0xd62728,
                                            0x9467bd, 0x8c564b, 0xe377c2, 0x17becf};

// "in1".."in8", "out1".."out8".
QString SeriesName(int k) {
    return k < NET_INPUT_COUNT ? QStringLiteral("in%1").arg(k + 1)
                               : QStringLiteral("out%1").arg(k - NET_INPUT_COUNT + 1);
}

// Values above 255 show at the top edge, as on the sliders.
std::uint16_t Shown(std::uint16_t value) {
    return value > 255 ? 255 : value;
}

QColor SeriesColour(int k) {
    return QColor(kColours[k % NET_INPUT_COUNT]);
}

// A plot of eight series, 0..255 over the last span, without Qt's own legend (the
// window's legend carries the values).
QChartView* MakePlot(const QString& title, QLineSeries* const* series, QWidget* parent) {
    auto* chart = new QChart;
    chart->setTitle(title);
    chart->legend()->hide();
    chart->setAnimationOptions(QChart::NoAnimation);
    chart->setMargins(QMargins(4, 4, 4, 4));
    // The theme's shadow is a blur effect, redone on every pass.
    chart->setDropShadowEnabled(false);
    auto* x = new QValueAxis;
    x->setRange(-kChartSpanSeconds, 0);
    x->setTickCount(7);
    x->setLabelFormat(QStringLiteral("%d s"));
    auto* y = new QValueAxis;
    y->setRange(0, 255);
    y->setTickCount(6);
    y->setLabelFormat(QStringLiteral("%d"));
    chart->addAxis(x, Qt::AlignBottom);
    chart->addAxis(y, Qt::AlignLeft);
    for (int k = 0; k < NET_INPUT_COUNT; ++k) {
        chart->addSeries(series[k]);
        series[k]->attachAxis(x);
        series[k]->attachAxis(y);
    }
    auto* view = new QChartView(chart, parent);
    view->setRenderHint(QPainter::Antialiasing, false);
    view->setOptimizationFlags(QGraphicsView::DontAdjustForAntialiasing |
                               QGraphicsView::DontSavePainterState);
    return view;
}

}  // namespace

CChartWindow::CChartWindow(QWidget* parent) : QWidget(parent, Qt::Window) {
    setAttribute(Qt::WA_DeleteOnClose);
    setWindowTitle(QStringLiteral("Chart"));
    resize(kWidth, kHeight);

    auto* legend = new QVBoxLayout;
    for (int k = 0; k < kChartSeriesCount; ++k) {
        if (k == 0 || k == NET_INPUT_COUNT) {
            legend->addWidget(
                new QLabel(k == 0 ? QStringLiteral("Inputs") : QStringLiteral("Outputs")));
        }
        auto* series = new QLineSeries;
        series->setName(SeriesName(k));
        // One-pixel lines take the raster engine's fast path; wider ones cost a
        // stroke per segment on every pass.
        series->setPen(QPen(SeriesColour(k), 1));
        m_series[k] = series;

        QPixmap swatch(12, 12);
        swatch.fill(SeriesColour(k));
        auto* entry = new QToolButton(this);
        entry->setObjectName(QStringLiteral("legend_%1").arg(series->name()));
        entry->setIcon(QIcon(swatch));
        entry->setToolButtonStyle(Qt::ToolButtonTextBesideIcon);
        entry->setCheckable(true);
        entry->setChecked(true);
        entry->setAutoRaise(true);
        // Space belongs to Pause; a focused button would take it.
        entry->setFocusPolicy(Qt::NoFocus);
        // A fixed size: a value of another width must not lay the window out anew,
        // which would resize and redraw both plots once more.
        entry->setText(LegendText(NET_INPUT_COUNT, 888));
        entry->setFixedSize(entry->sizeHint());
        entry->setText(LegendText(k, 0));
        connect(entry, &QToolButton::toggled, this,
                [this, k](bool shown) { OnLegendToggled(k, shown); });
        m_legend[k] = entry;
        legend->addWidget(entry);
    }
    legend->addStretch();
    m_pause = new QPushButton(QStringLiteral("Pause"), this);
    m_pause->setObjectName(QStringLiteral("pause"));
    m_pause->setFocusPolicy(Qt::NoFocus);
    connect(m_pause, &QPushButton::clicked, this, [this] { SetPaused(!m_paused); });
    legend->addWidget(m_pause);
    auto* space = new QShortcut(QKeySequence(Qt::Key_Space), this);
    connect(space, &QShortcut::activated, this, [this] { SetPaused(!m_paused); });

    auto* plots = new QVBoxLayout;
    plots->addWidget(MakePlot(QStringLiteral("Inputs"), m_series.data(), this));
    plots->addWidget(MakePlot(QStringLiteral("Outputs"), m_series.data() + NET_INPUT_COUNT, this));
    auto* layout = new QHBoxLayout(this);
    layout->addLayout(plots, 1);
    layout->addLayout(legend);

    // Beside the main window, not over it.
    if (parent != nullptr) {
        const QRect main = parent->frameGeometry();
        move(main.right() + kGap, main.top());
    }
}

QString CChartWindow::LegendText(int k, int value) {
    return QStringLiteral("%1 %2").arg(SeriesName(k)).arg(value, 3);
}

void CChartWindow::AddSamples(const std::vector<PassSample>& samples) {
    if (samples.empty()) return;
    for (const PassSample& sample : samples) {
        Point point{std::chrono::duration<double>(sample.steady.time_since_epoch()).count(), {}};
        for (int k = 0; k < NET_INPUT_COUNT; ++k) point.values[k] = Shown(sample.inputs[k]);
        for (int k = 0; k < NET_OUTPUT_COUNT; ++k)
            point.values[NET_INPUT_COUNT + k] = Shown(sample.outputs[k]);
        m_points.push_back(point);
    }
    // One point older than the span stays, so the lines run in from the left edge.
    const double oldest = m_points.back().seconds - kChartSpanSeconds;
    while (m_points.size() > 1 && m_points[1].seconds <= oldest) m_points.pop_front();
    if (!m_paused) Redraw();
}

void CChartWindow::SetPaused(bool paused) {
    if (paused == m_paused) return;
    m_paused = paused;
    m_pause->setText(paused ? QStringLiteral("Resume") : QStringLiteral("Pause"));
    if (!paused) Redraw();
}

void CChartWindow::OnLegendToggled(int k, bool shown) {
    m_series[k]->setVisible(shown);
    // A hidden series is not kept up to date; it catches up when shown again.
    if (shown) Redraw();
}

void CChartWindow::Redraw() {
    if (m_points.empty()) return;
    const double newest = m_points.back().seconds;
    const Point& last = m_points.back();
    QList<QPointF> line;
    line.reserve(static_cast<qsizetype>(m_points.size()));
    for (int k = 0; k < kChartSeriesCount; ++k) {
        const int value = last.values[k];
        if (m_shownValue[k] != value) {
            m_shownValue[k] = value;
            m_legend[k]->setText(LegendText(k, value));
        }
        if (!m_series[k]->isVisible()) continue;
        line.clear();
        for (const Point& point : m_points) {
            line.append(QPointF(point.seconds - newest, point.values[k]));
        }
        // One replace per series: a single repaint instead of one per point.
        m_series[k]->replace(line);
    }
}
