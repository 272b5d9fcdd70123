#include "ui/chart_window.h"

#include <qcustomplot.h>

#include <QHBoxLayout>
#include <QLabel>
#include <QPen>
#include <QPixmap>
#include <QPushButton>
#include <QShortcut>
#include <QToolButton>
#include <QVBoxLayout>
#include <algorithm>
#include <cmath>

#include "ui/dialog_seams.h"
#include "ui/picture_file.h"
#include "ui/window_placement.h"

namespace {

constexpr int kWidth = 720;
constexpr int kHeight = 560;
constexpr int kGap = 8;  // between the main window and the chart
constexpr int kFrameMs = 1000 / kChartFramesPerSecond;
// A little room above 255 and below 0, so that a line along an edge stays visible.
constexpr double kValueMargin = 4;

// One hue per channel, the same in both plots: in3 and out3 share a colour, so the
// eye finds a channel's pair at once.
constexpr QRgb kColours[NET_INPUT_COUNT] = {0x1f77b4, 0xff7f0e, 0x2ca02c, 0xd62728,
                                            0x9467bd, 0x8c564b, 0xe377c2, 0x17becf};

// "in1".."in8", "out1".."out8".
QString SeriesName(int k) {
    return k < NET_INPUT_COUNT ? QStringLiteral("in%1").arg(k + 1)
                               : QStringLiteral("out%1").arg(k - NET_INPUT_COUNT + 1);
}

const QColor kBandColour(0xd0, 0xd0, 0xd0, 0x90);

QColor SeriesColour(int k) {
    return QColor(kColours[k % NET_INPUT_COUNT]);
}

// A filled swatch for a shown series, an empty outline for a hidden one.
QIcon Swatch(int k, bool shown) {
    QPixmap swatch(12, 12);
    swatch.fill(Qt::transparent);
    QPainter painter(&swatch);
    painter.setPen(SeriesColour(k));
    if (shown) painter.setBrush(SeriesColour(k));
    painter.drawRect(0, 0, 11, 11);
    return QIcon(swatch);
}

// One of the two plots: eight series, 0..255 with ticks at the quarters, against
// the seconds before the newest pass.
QCPAxisRect* MakeRect(QCustomPlot* plot, const QString& valueLabel) {
    auto* rect = new QCPAxisRect(plot);
    QCPAxis* time = rect->axis(QCPAxis::atBottom);
    QCPAxis* value = rect->axis(QCPAxis::atLeft);
    time->setRange(-kChartSpanSeconds, 0);
    time->setLabel(QStringLiteral("Seconds before now"));
    auto ticks = QSharedPointer<QCPAxisTickerText>::create();
    for (int v : {0, 64, 128, 192, 255}) ticks->addTick(v, QString::number(v));
    value->setTicker(ticks);
    value->setSubTicks(false);
    value->setRange(-kValueMargin, 255 + kValueMargin);
    value->setLabel(valueLabel);
    // The time axis only, and only while paused (the window turns these on).
    rect->setRangeDrag(Qt::Horizontal);
    rect->setRangeZoom(Qt::Horizontal);
    return rect;
}

}  // namespace

// The plot with a cheaper way to bring one buffered layer up to date.
class CChartPlot final : public QCustomPlot {
public:
    using QCustomPlot::QCustomPlot;

    // Redraws `layer`'s buffer and repaints only `area`, where its layerables are
    // clipped to: QCPLayer::replot would repaint the whole widget, axes, texts and
    // margins included, which is most of a frame's cost. A layout or buffer change
    // since the last replot needs the whole plot, and gets it.
    void ReplotLayer(QCPLayer* layer, const QRegion& area) {
        if (hasInvalidatedPaintBuffers() || layer->mode() != QCPLayer::lmBuffered) {
            replot();
            return;
        }
        const bool disabled = testAttribute(Qt::WA_UpdatesDisabled);
        // Not setUpdatesEnabled: enabling again would schedule the whole widget.
        setAttribute(Qt::WA_UpdatesDisabled, true);
        layer->replot();
        setAttribute(Qt::WA_UpdatesDisabled, disabled);
        update(area);
    }
};

CChartWindow::CChartWindow(QWidget* parent) : QWidget(parent, Qt::Window) {
    setAttribute(Qt::WA_DeleteOnClose);
    setWindowTitle(QStringLiteral("Chart"));
    resize(kWidth, kHeight);

    m_plot = new CChartPlot(this);
    m_plot->setObjectName(QStringLiteral("plot"));
    // It paints every pixel of itself, so the window's background under it is not.
    m_plot->setAttribute(Qt::WA_OpaquePaintEvent);
    // One-pixel lines without antialiasing take the raster engine's fast path.
    m_plot->setNotAntialiasedElements(QCP::aeAll);
    m_plot->plotLayout()->clear();
    auto* margins = new QCPMarginGroup(m_plot);
    for (int half = 0; half < 2; ++half) {
        const bool inputs = half == 0;
        m_plot->plotLayout()->addElement(
            2 * half, 0,
            new QCPTextElement(m_plot,
                               inputs ? QStringLiteral("Inputs") : QStringLiteral("Outputs"),
                               QFont(font().family(), font().pointSize(), QFont::Bold)));
        QCPAxisRect* rect = MakeRect(m_plot, QStringLiteral("Value (0..255)"));
        rect->setMarginGroup(QCP::msLeft | QCP::msRight, margins);
        m_plot->plotLayout()->addElement(2 * half + 1, 0, rect);
        m_rects[half] = rect;
        connect(rect->axis(QCPAxis::atBottom), qOverload<const QCPRange&>(&QCPAxis::rangeChanged),
                this, &CChartWindow::OnTimeRangeChanged);
    }
    // The titles and the layout do not change from frame to frame: they belong in the
    // buffer under the lines, not in the lines' own, which every frame redraws.
    m_plot->plotLayout()->setLayer(QStringLiteral("background"));
    for (int i = 0; i < m_plot->plotLayout()->elementCount(); ++i)
        m_plot->plotLayout()->elementAt(i)->setLayer(QStringLiteral("background"));
    // The time axis is named once, under the lower plot.
    m_rects[0]->axis(QCPAxis::atBottom)->setLabel(QString());

    // Narrower than this, a second on the time axis is a pixel or two.
    m_plot->setMinimumWidth(360);

    auto* legend = new QVBoxLayout;
    // Sixteen entries and the buttons must fit a small screen's height.
    legend->setSpacing(2);
    for (int k = 0; k < kChartSeriesCount; ++k) {
        if (k == 0 || k == NET_INPUT_COUNT) {
            legend->addWidget(
                new QLabel(k == 0 ? QStringLiteral("Inputs") : QStringLiteral("Outputs")));
        }
        QCPAxisRect* rect = m_rects[k < NET_INPUT_COUNT ? 0 : 1];
        QCPGraph* graph =
            m_plot->addGraph(rect->axis(QCPAxis::atBottom), rect->axis(QCPAxis::atLeft));
        graph->setName(SeriesName(k));
        graph->setPen(QPen(SeriesColour(k), 1));
        m_graphs[k] = graph;
        if (k >= NET_INPUT_COUNT) {
            // The host's prediction beside the module's output, in its colour, dashed.
            QCPGraph* host =
                m_plot->addGraph(rect->axis(QCPAxis::atBottom), rect->axis(QCPAxis::atLeft));
            host->setName(QStringLiteral("host%1").arg(k - NET_INPUT_COUNT + 1));
            host->setPen(QPen(SeriesColour(k), 1, Qt::DashLine));
            host->setVisible(false);
            m_hostGraphs[k - NET_INPUT_COUNT] = host;
        }

        auto* entry = new QToolButton(this);
        entry->setObjectName(QStringLiteral("legend_%1").arg(SeriesName(k)));
        entry->setIcon(Swatch(k, true));
        entry->setToolButtonStyle(Qt::ToolButtonTextBesideIcon);
        entry->setCheckable(true);
        entry->setChecked(true);
        entry->setAutoRaise(true);
        entry->setToolTip(QStringLiteral("Click to hide or show %1").arg(SeriesName(k)));
        // Space belongs to Pause; a focused button would take it.
        entry->setFocusPolicy(Qt::NoFocus);
        // A fixed size: a value of another width must not lay the window out anew,
        // which would resize and redraw the plots once more.
        entry->setText(LegendText(NET_INPUT_COUNT, 888));
        entry->setFixedSize(entry->sizeHint());
        entry->setText(LegendText(k, 0));
        connect(entry, &QToolButton::toggled, this,
                [this, k](bool shown) { OnLegendToggled(k, shown); });
        m_legend[k] = entry;
        legend->addWidget(entry);
    }
    legend->addStretch();
    m_pausedLabel = new QLabel(QStringLiteral("Paused"), this);
    m_pausedLabel->setObjectName(QStringLiteral("paused"));
    m_pausedLabel->setAlignment(Qt::AlignCenter);
    m_pausedLabel->setStyleSheet(
        QStringLiteral("QLabel { background: #fff3b0; border: 1px solid #c8a800; font-weight: bold;"
                       " padding: 2px 8px; }"));
    // Its room is kept, so that pausing does not lay the plots out anew.
    QSizePolicy keepRoom = m_pausedLabel->sizePolicy();
    keepRoom.setRetainSizeWhenHidden(true);
    m_pausedLabel->setSizePolicy(keepRoom);
    m_pausedLabel->hide();
    m_pause = new QPushButton(QStringLiteral("Pause"), this);
    m_pause->setObjectName(QStringLiteral("pause"));
    m_pause->setFocusPolicy(Qt::NoFocus);
    connect(m_pause, &QPushButton::clicked, this, [this] { SetPaused(!m_paused); });
    auto* save = new QPushButton(QStringLiteral("Save picture..."), this);
    save->setObjectName(QStringLiteral("save_picture"));
    save->setFocusPolicy(Qt::NoFocus);
    connect(save, &QPushButton::clicked, this, &CChartWindow::OnSavePicture);
    auto* space = new QShortcut(QKeySequence(Qt::Key_Space), this);
    connect(space, &QShortcut::activated, this, [this] { SetPaused(!m_paused); });

    m_tracer = new QCPItemTracer(m_plot);
    m_tracer->setStyle(QCPItemTracer::tsCircle);
    m_tracer->setSize(9);
    m_tracer->setPen(QPen(Qt::black, 1));
    m_tracer->setLayer(QStringLiteral("overlay"));
    m_tracer->setVisible(false);
    // The lines have a buffer of their own, on top: a frame redraws them alone and
    // lays them over one buffer that holds everything else from the last full
    // replot (the axes and their texts, the grid, the tracer under the lines).
    QCPLayer* lines = m_plot->layer(QStringLiteral("main"));
    lines->setMode(QCPLayer::lmBuffered);
    QCPLayer* overlay = m_plot->layer(QStringLiteral("overlay"));
    overlay->setMode(QCPLayer::lmLogical);
    m_plot->moveLayer(m_plot->layer(QStringLiteral("axes")), overlay, QCustomPlot::limBelow);
    m_plot->moveLayer(m_plot->layer(QStringLiteral("legend")), overlay, QCustomPlot::limBelow);
    m_plot->moveLayer(lines, overlay, QCustomPlot::limAbove);
    connect(m_plot, &QCustomPlot::mouseMove, this, &CChartWindow::OnPlotMouseMove);

    m_readout = new QLabel(this);
    m_readout->setObjectName(QStringLiteral("readout"));
    // Pause and Resume must not resize the window: the read-out's texts take the
    // room there is (never more), and the button is as wide as its wider text.
    m_readout->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
    m_readout->setMinimumWidth(0);
    {
        const QFontMetrics metrics(m_pause->font());
        m_pause->setText(QStringLiteral("Resume"));
        const int resume = m_pause->sizeHint().width();
        m_pause->setText(QStringLiteral("Pause"));
        m_pause->setMinimumWidth(std::max(resume, m_pause->sizeHint().width()));
    }
    // The buttons go under the plots, not under the legend: the window stays low
    // enough for a small screen at scale 2.
    auto* controls = new QHBoxLayout;
    controls->addWidget(m_readout, 1);
    controls->addWidget(m_pausedLabel);
    controls->addWidget(m_pause);
    controls->addWidget(save);
    auto* plots = new QVBoxLayout;
    plots->addWidget(m_plot, 1);
    plots->addLayout(controls);
    auto* layout = new QHBoxLayout(this);
    layout->addLayout(plots, 1);
    layout->addLayout(legend);

    m_frameTimer.setSingleShot(true);
    // A coarse timer may fire early, which would let frames come faster than allowed.
    m_frameTimer.setTimerType(Qt::PreciseTimer);
    connect(&m_frameTimer, &QTimer::timeout, this, &CChartWindow::DrawFrame);

    // Beside the main window, not over it, and on its screen.
    if (parent != nullptr) PlaceWindowBeside(*this, *parent->window(), kGap);
}

QString CChartWindow::LegendText(int k, int value) {
    return QStringLiteral("%1 %2").arg(SeriesName(k)).arg(value, 3);
}

QCustomPlot* CChartWindow::Plot() const {
    return m_plot;
}

void CChartWindow::AddSamples(const std::vector<PassSample>& samples,
                              const std::vector<bool>& afterGap, const ModuleWeights* host) {
    if (samples.empty()) return;
    m_series.Add(samples, afterGap, host);
    const bool hostShown = host != nullptr;
    if (hostShown != m_hostShown) {
        m_hostShown = hostShown;
        for (QCPGraph* graph : m_hostGraphs) graph->setVisible(hostShown);
        m_fullReplot = true;
    }
    if (!m_paused) RequestFrame();
}

void CChartWindow::AddFailure(std::chrono::steady_clock::time_point steady) {
    m_series.AddFailure(ChartSeconds(steady));
    if (!m_paused) RequestFrame();
}

void CChartWindow::SetStale(bool stale) {
    if (stale == m_stale) return;
    m_stale = stale;
    // Greyed values say "last known", not "now"; the tooltip says why.
    for (int k = 0; k < kChartSeriesCount; ++k) {
        m_legend[k]->setEnabled(true);
        QFont font = m_legend[k]->font();
        font.setItalic(stale);
        m_legend[k]->setFont(font);
        m_legend[k]->setStyleSheet(stale ? QStringLiteral("QToolButton { color: gray; }")
                                         : QString());
        m_legend[k]->setToolTip(
            stale ? QStringLiteral("%1: last value before the link stopped (not current)")
                        .arg(SeriesName(k))
                  : QStringLiteral("Click to hide or show %1").arg(SeriesName(k)));
    }
}

void CChartWindow::RequestFrame() {
    if (m_frameTimer.isActive()) return;
    // Passes slower than frames (Monitor) are drawn at once, without a wake-up more;
    // faster ones wait for the frame, which takes all that came in the meantime.
    const qint64 since = m_sinceFrame.isValid() ? m_sinceFrame.elapsed() : kFrameMs;
    if (since >= kFrameMs) {
        DrawFrame();
        return;
    }
    m_frameTimer.start(int(kFrameMs - since));
}

void CChartWindow::SetPaused(bool paused) {
    if (paused == m_paused) return;
    m_paused = paused;
    m_pause->setText(paused ? QStringLiteral("Resume") : QStringLiteral("Pause"));
    m_pausedLabel->setVisible(paused);
    m_plot->setInteractions(paused ? QCP::iRangeDrag | QCP::iRangeZoom : QCP::Interactions());
    // The tracer's layer is buffered apart only while it follows the mouse: a live
    // frame then composes two buffers, not three.
    m_plot->layer(QStringLiteral("overlay"))
        ->setMode(paused ? QCPLayer::lmBuffered : QCPLayer::lmLogical);
    if (paused) {
        m_frozen = m_series;
        m_readout->setText(QStringLiteral("Wheel: zoom, drag: move in time"));
        // The picture shows what the read-out reads: the passes up to this moment.
        DrawFrame();
        return;
    }
    m_frozen = ChartSeries{};
    m_readout->clear();
    m_tracer->setVisible(false);
    for (QCPAxisRect* rect : m_rects)
        rect->axis(QCPAxis::atBottom)->setRange(-kChartSpanSeconds, 0);
    // The zoom and the tracer changed what is drawn besides the lines.
    for (auto& drawn : m_drawn) drawn.clear();
    m_fullReplot = true;
    DrawFrame();
}

void CChartWindow::OnLegendToggled(int k, bool shown) {
    m_graphs[k]->setVisible(shown);
    m_legend[k]->setIcon(Swatch(k, shown));
    QFont font = m_legend[k]->font();
    font.setStrikeOut(!shown);
    m_legend[k]->setFont(font);
    // A hidden series is not kept up to date; it catches up when shown again.
    m_drawn[k].clear();
    DrawFrame();
}

void CChartWindow::changeEvent(QEvent* event) {
    QWidget::changeEvent(event);
    if (event->type() == QEvent::WindowStateChange && m_drawWhenRestored && !isMinimized()) {
        m_drawWhenRestored = false;
        DrawFrame();
    }
}

void CChartWindow::DrawFrame() {
    m_frameTimer.stop();
    if (isMinimized()) {
        m_drawWhenRestored = true;
        return;
    }
    m_sinceFrame.start();
    const ChartSeries& series = Shown();
    if (series.Empty()) return;
    const ChartPoint& last = series.Points().back();
    for (int k = 0; k < kChartSeriesCount; ++k) {
        const int value = last.values[k];
        if (m_shownValue[k] != value) {
            m_shownValue[k] = value;
            m_legend[k]->setText(LegendText(k, value));
        }
    }

    // Pixels per second and per value step, to tell a line that moved from one that
    // only moved within its pixels.
    const QRect area = m_rects[0]->rect();
    const double xScale = std::max(area.width(), 1) / double(kChartSpanSeconds);
    const double yScale = std::max(area.height(), 1) / (255 + 2 * kValueMargin);
    const double left = -kChartSpanSeconds;
    bool changed = PlaceOutages();
    std::vector<ChartLinePoint> points;
    QVector<QCPGraphData> line;
    for (int k = 0; k < kChartSeriesCount + NET_OUTPUT_COUNT; ++k) {
        const bool host = k >= kChartSeriesCount;
        QCPGraph* graph = host ? m_hostGraphs[k - kChartSeriesCount] : m_graphs[k];
        if (!graph->visible()) continue;
        series.Line(host ? k - kChartSeriesCount : k, left, points, host);
        std::vector<ChartPixel> pixels = LinePixels(points, xScale, yScale);
        if (pixels == m_drawn[k]) continue;
        m_drawn[k].swap(pixels);
        line.clear();
        line.reserve(qsizetype(points.size()));
        for (const ChartLinePoint& point : points)
            line.append(QCPGraphData(point.key, point.value));
        // One set per series: the container takes the points sorted, in one go.
        graph->data()->set(line, true);
        changed = true;
    }
    if (!changed) return;
    ++m_framesDrawn;
    if (m_fullReplot) {
        m_fullReplot = false;
        m_plot->replot();
    } else {
        m_plot->ReplotLayer(m_plot->layer(QStringLiteral("main")), PlotAreas());
    }
}

bool CChartWindow::PlaceOutages() {
    std::vector<ChartBand> bands = Shown().Bands();
    const double xScale = std::max(m_rects[0]->rect().width(), 1) / double(kChartSpanSeconds);
    std::vector<std::pair<int, int>> pixels;
    for (const ChartBand& band : bands)
        pixels.emplace_back(int(std::lround(band.start * xScale)),
                            int(std::lround(band.end * xScale)));
    // A label's text changes without its pixels moving (its seconds, its end).
    if (pixels == m_bandPixels && (bands.empty() || bands.back().label == m_lastBandLabel))
        return false;
    m_bandPixels = pixels;
    m_lastBandLabel = bands.empty() ? std::string() : bands.back().label;
    while (m_bands.size() < bands.size()) {
        Band band;
        for (int half = 0; half < 2; ++half) {
            auto* rect = new QCPItemRect(m_plot);
            rect->setClipAxisRect(m_rects[half]);
            for (QCPItemPosition* corner : {rect->topLeft, rect->bottomRight}) {
                corner->setAxes(m_rects[half]->axis(QCPAxis::atBottom),
                                m_rects[half]->axis(QCPAxis::atLeft));
            }
            rect->setPen(Qt::NoPen);
            rect->setBrush(kBandColour);
            rect->setLayer(QStringLiteral("main"));
            band.rects[half] = rect;
        }
        band.label = new QCPItemText(m_plot);
        band.label->setClipAxisRect(m_rects[1]);
        band.label->position->setAxes(m_rects[1]->axis(QCPAxis::atBottom),
                                      m_rects[1]->axis(QCPAxis::atLeft));
        band.label->setPositionAlignment(Qt::AlignHCenter | Qt::AlignTop);
        band.label->setColor(Qt::black);
        band.label->setBrush(QColor(0xff, 0xff, 0xff, 0xc0));
        band.label->setPadding(QMargins(2, 1, 2, 1));
        band.label->setLayer(QStringLiteral("main"));
        m_bands.push_back(band);
    }
    for (std::size_t b = 0; b < m_bands.size(); ++b) {
        Band& band = m_bands[b];
        const bool used = b < bands.size();
        for (QCPItemRect* rect : band.rects) rect->setVisible(used);
        band.label->setVisible(used);
        if (!used) continue;
        const ChartBand& shown = bands[b];
        for (QCPItemRect* rect : band.rects) {
            rect->topLeft->setCoords(shown.start, 255 + kValueMargin);
            rect->bottomRight->setCoords(shown.end, -kValueMargin);
        }
        band.label->setText(QString::fromStdString(shown.label));
        band.label->position->setCoords((shown.start + shown.end) / 2, 250);
    }
    return true;
}

QRegion CChartWindow::PlotAreas() const {
    QRegion areas;
    for (const QCPAxisRect* rect : m_rects) areas += rect->rect();
    return areas;
}

void CChartWindow::OnTimeRangeChanged(const QCPRange& range) {
    // Within the minute kept and no narrower than a pass or two.
    const ChartTimeRange bounded = BoundTimeRange({range.lower, range.upper});
    // Both plots show one stretch of time.
    for (QCPAxisRect* rect : m_rects)
        rect->axis(QCPAxis::atBottom)->setRange(QCPRange(bounded.lower, bounded.upper));
}

void CChartWindow::OnPlotMouseMove(QMouseEvent* event) {
    if (!m_paused || m_frozen.Empty()) return;
    const QPointF position = event->position();
    int half = -1;
    for (int h = 0; h < 2; ++h) {
        if (m_rects[h]->rect().contains(position.toPoint())) half = h;
    }
    if (half < 0) {
        if (m_tracer->visible()) {
            m_tracer->setVisible(false);
            m_plot->ReplotLayer(m_plot->layer(QStringLiteral("overlay")), PlotAreas());
        }
        return;
    }
    const double time = m_rects[half]->axis(QCPAxis::atBottom)->pixelToCoord(position.x());
    const double value = m_rects[half]->axis(QCPAxis::atLeft)->pixelToCoord(position.y());
    std::array<bool, kChartSeriesCount> shown{};
    for (int k = 0; k < kChartSeriesCount; ++k) shown[k] = m_graphs[k]->visible();
    // The pass nearest the mouse in time, and of its shown series the one nearest
    // the mouse in value.
    const std::optional<ChartReading> reading =
        m_frozen.Reading(time, value, half == 0 ? 0 : NET_INPUT_COUNT, shown);
    if (!reading) return;
    m_readout->setText(QStringLiteral("%1 %2 at %3 s")
                           .arg(SeriesName(reading->series))
                           .arg(reading->value)
                           .arg(reading->key, 0, 'f', 2));
    m_tracer->setGraph(m_graphs[reading->series]);
    m_tracer->setClipAxisRect(m_rects[half]);
    m_tracer->setGraphKey(reading->key);
    m_tracer->setVisible(true);
    m_plot->ReplotLayer(m_plot->layer(QStringLiteral("overlay")), PlotAreas());
}

bool CChartWindow::SavePicture(const QString& path) {
    return SavePicturePng(grab().toImage(), path) == FileResult::Ok;
}

void CChartWindow::OnSavePicture() {
    const QString path = RealDialogSeams().GetSaveFileName(this, QStringLiteral("png"));
    if (path.isEmpty()) return;
    if (!SavePicture(path))
        RealDialogSeams().ShowMessage(this, QStringLiteral("Error writing file"));
}
