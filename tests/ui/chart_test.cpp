// The chart window alone, fed made-up passes, on an offscreen screen 1600 x 900
// pixels wide: where it opens, how often it draws, and what a paused chart offers.

#include <qcustomplot.h>

#include <QApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QImage>
#include <QPaintEvent>
#include <QScreen>
#include <QTemporaryDir>
#include <QTest>
#include <QToolButton>
#include <cmath>

#include "ui/chart_window.h"
#include "ui/chart_window_peer.h"
#include "ui/window_placement.h"

namespace {

using Peer = CChartWindowTestPeer;

const QRect kScreen(0, 0, 1600, 900);

// Passes every 50 ms from t0 on, input k and output k at `value(n, k)`.
template <typename Value>
std::vector<PassSample> Passes(int first, int count, Value value) {
    std::vector<PassSample> passes(static_cast<std::size_t>(count));
    for (int n = 0; n < count; ++n) {
        PassSample& pass = passes[std::size_t(n)];
        pass.steady =
            std::chrono::steady_clock::time_point(std::chrono::milliseconds(50 * (first + n)));
        for (int k = 0; k < NET_INPUT_COUNT; ++k)
            pass.inputs[k] = pass.outputs[k] = value(first + n, k);
    }
    return passes;
}

std::uint16_t Constant(int, int k) {
    return std::uint16_t(k == 2 ? 200 : 0);
}

QCPAxis* TimeAxis(CChartWindow& chart, int half) {
    return Peer::Plot(chart)->axisRects()[half]->axis(QCPAxis::atBottom);
}

}  // namespace

class ChartTest : public QObject {
    Q_OBJECT

private slots:
    void placedBesideInsideAvailableArea_data();
    void placedBesideInsideAvailableArea();
    void chartOpensInsideScreenBesideCentredWindow();
    void framesBoundedAndNoneWhenNothingChanges();
    void liveFrameRepaintsOnlyThePlotAreas();
    void pausedChartZoomsPansAndReadsOut();
    void legendShowsHiddenSeriesAndPictureIsSaved();
    void outageShowsAsABandWithItsLengthAndPauseKeepsTheSize();
};

void ChartTest::placedBesideInsideAvailableArea_data() {
    QTest::addColumn<QRect>("anchor");
    QTest::addColumn<QRect>("available");
    QTest::addColumn<QRect>("expected");
    const QRect wide(0, 0, 1600, 900);
    // Room on the right: beside it, tops aligned.
    QTest::newRow("right") << QRect(10, 50, 500, 300) << wide << QRect(518, 50, 720, 560);
    // None on the right, enough on the left.
    QTest::newRow("left") << QRect(1000, 50, 500, 300) << wide << QRect(272, 50, 720, 560);
    // Centred, neither side wide enough: the roomier side, narrowed to its room.
    QTest::newRow("centred") << QRect(547, 313, 506, 273) << wide << QRect(1061, 313, 539, 560);
    // Scale 2 on the same screen: 800 x 450 device-independent pixels, with a panel
    // on top; the window is shrunk to its smallest and to the area, over the anchor.
    QTest::newRow("scale 2") << QRect(147, 100, 506, 273) << QRect(0, 30, 800, 420)
                             << QRect(300, 30, 500, 420);
    // An anchor partly off the screen still gets its window inside.
    QTest::newRow("anchor off") << QRect(1400, 800, 506, 273) << wide << QRect(672, 340, 720, 560);
}

void ChartTest::placedBesideInsideAvailableArea() {
    QFETCH(QRect, anchor);
    QFETCH(QRect, available);
    QFETCH(QRect, expected);
    const QRect placed = PlaceBeside(anchor, QSize(720, 560), 500, available, 8);
    QCOMPARE(placed, expected);
    QVERIFY(available.contains(placed));
}

void ChartTest::chartOpensInsideScreenBesideCentredWindow() {
    QWidget main;
    main.resize(506, 273);
    main.move(kScreen.center() - QPoint(253, 136));
    main.show();
    QVERIFY(QTest::qWaitForWindowExposed(&main));
    QCOMPARE(main.screen()->availableGeometry(), kScreen);
    auto* chart = new CChartWindow(&main);
    chart->show();
    QVERIFY(QTest::qWaitForWindowExposed(chart));
    QVERIFY(kScreen.contains(chart->frameGeometry()));
    QVERIFY(!chart->frameGeometry().intersects(main.frameGeometry()));
}

// Records the region of each paint the plot widget gets.
class PaintRegions : public QObject {
public:
    QRegion painted;
    bool eventFilter(QObject*, QEvent* event) override {
        if (event->type() == QEvent::Paint) painted += static_cast<QPaintEvent*>(event)->region();
        return false;
    }
};

void ChartTest::liveFrameRepaintsOnlyThePlotAreas() {
    CChartWindow chart(nullptr);
    chart.show();
    QVERIFY(QTest::qWaitForWindowExposed(&chart));
    chart.AddSamples(Passes(0, 1, [](int, int k) { return std::uint16_t(k); }));
    QTest::qWait(200);
    PaintRegions paints;
    Peer::Plot(chart)->installEventFilter(&paints);
    const int before = Peer::FramesDrawn(chart);
    chart.AddSamples(Passes(4, 1, [](int, int k) { return std::uint16_t(100 + k); }));
    QTRY_VERIFY(Peer::FramesDrawn(chart) > before && !paints.painted.isEmpty());
    QRegion areas;
    for (QCPAxisRect* rect : Peer::Plot(chart)->axisRects()) areas += rect->rect();
    QCOMPARE(paints.painted.subtracted(areas), QRegion());
}

void ChartTest::framesBoundedAndNoneWhenNothingChanges() {
    CChartWindow chart(nullptr);
    chart.show();
    QVERIFY(QTest::qWaitForWindowExposed(&chart));
    const int opened = Peer::FramesDrawn(chart);
    const auto frames = [&] { return Peer::FramesDrawn(chart) - opened; };

    // Passes far faster than frames, every one with new values.
    QElapsedTimer clock;
    clock.start();
    for (int n = 0; n < 40; ++n) {
        chart.AddSamples(
            Passes(n, 1, [](int m, int k) { return std::uint16_t((m * 7 + k) % 256); }));
        QTest::qWait(15);
    }
    QTest::qWait(150);
    QVERIFY(frames() > 0);
    QVERIFY(frames() <= clock.elapsed() * kChartFramesPerSecond / 1000 + 1);
    QCOMPARE(Peer::Graph(chart, 2)->data()->at(Peer::Graph(chart, 2)->dataCount() - 1)->value,
             (39.0 * 7 + 2) - 256);

    // A full minute of one set of values, then more of the same: nothing to draw.
    chart.AddSamples(Passes(40, 1300, Constant));
    QTRY_COMPARE(Peer::Graph(chart, 2)->dataCount(), 2);  // a run of one value is its two ends
    QTest::qWait(150);
    const int still = frames();
    for (int n = 1340; n < 1350; ++n) {
        chart.AddSamples(Passes(n, 1, Constant));
        QTest::qWait(30);
    }
    QTest::qWait(150);
    QCOMPARE(frames(), still);
    chart.AddSamples(Passes(1350, 1, [](int, int) { return std::uint16_t(99); }));
    QTRY_COMPARE(frames(), still + 1);
    QCOMPARE(Peer::LegendEntry(chart, 2)->text(), QStringLiteral("in3  99"));
}

void ChartTest::pausedChartZoomsPansAndReadsOut() {
    CChartWindow chart(nullptr);
    chart.show();
    QVERIFY(QTest::qWaitForWindowExposed(&chart));
    chart.AddSamples(Passes(0, 1300, Constant));
    QTRY_COMPARE(Peer::Graph(chart, 2)->dataCount(), 2);
    QCustomPlot* plot = Peer::Plot(chart);
    QCPAxisRect* outputs = plot->axisRects()[1];
    const QPointF middle = outputs->center();
    const auto wheel = [&] {
        QWheelEvent event(middle, plot->mapToGlobal(middle), {}, QPoint(0, 120), Qt::NoButton,
                          Qt::NoModifier, Qt::NoScrollPhase, false);
        QApplication::sendEvent(plot, &event);
    };
    // Live, the wheel changes nothing: the picture follows the newest pass.
    wheel();
    QCOMPARE(TimeAxis(chart, 1)->range(), QCPRange(-kChartSpanSeconds, 0));

    chart.SetPaused(true);
    QVERIFY(chart.findChild<QWidget*>(QStringLiteral("paused"))->isVisible());
    for (int n = 0; n < 30; ++n) wheel();
    const QCPRange zoomed = TimeAxis(chart, 1)->range();
    QVERIFY(zoomed.size() < 1 && zoomed.size() > 0.49);
    QCOMPARE(TimeAxis(chart, 0)->range(), zoomed);  // both plots show one stretch
    // Dragged far to the right: the oldest second, and no further.
    QTest::mousePress(plot, Qt::LeftButton, {}, middle.toPoint());
    QMouseEvent drag(QEvent::MouseMove, middle + QPointF(100000, 0), plot->mapToGlobal(middle),
                     Qt::NoButton, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(plot, &drag);
    QTest::mouseRelease(plot, Qt::LeftButton, {}, (middle + QPointF(100000, 0)).toPoint());
    QCOMPARE(TimeAxis(chart, 1)->range().lower, double(-kChartSpanSeconds));

    // The value under the mouse: the series nearest to it at the pass nearest to it.
    const QPointF at(TimeAxis(chart, 1)->coordToPixel(-59.75),
                     outputs->axis(QCPAxis::atLeft)->coordToPixel(190));
    QMouseEvent hover(QEvent::MouseMove, at, plot->mapToGlobal(at), Qt::NoButton, Qt::NoButton,
                      Qt::NoModifier);
    QApplication::sendEvent(plot, &hover);
    QCOMPARE(Peer::Readout(chart), QStringLiteral("out3 200 at -59.75 s"));

    chart.SetPaused(false);
    QCOMPARE(TimeAxis(chart, 1)->range(), QCPRange(-kChartSpanSeconds, 0));
}

void ChartTest::legendShowsHiddenSeriesAndPictureIsSaved() {
    CChartWindow chart(nullptr);
    chart.show();
    chart.AddSamples(Passes(0, 10, Constant));
    QTest::mouseClick(Peer::LegendEntry(chart, 2), Qt::LeftButton);
    QVERIFY(!Peer::Graph(chart, 2)->visible());
    QVERIFY(Peer::LegendEntry(chart, 2)->font().strikeOut());
    QVERIFY(!Peer::LegendEntry(chart, 3)->font().strikeOut());

    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("chart.png"));
    QVERIFY(chart.SavePicture(path));
    QCOMPARE(QImage(path).size(), chart.size() * chart.devicePixelRatio());
    QVERIFY(!chart.SavePicture(dir.filePath(QStringLiteral("missing/chart.png"))));
}

void ChartTest::outageShowsAsABandWithItsLengthAndPauseKeepsTheSize() {
    CChartWindow chart(nullptr);
    chart.show();
    QVERIFY(QTest::qWaitForWindowExposed(&chart));
    chart.AddSamples(Passes(0, 100, Constant));
    // The module is gone for 13 s: the passes fail, and the chart moves on with them.
    for (int n = 1; n <= 13; ++n) {
        chart.AddFailure(
            std::chrono::steady_clock::time_point(std::chrono::milliseconds(50 * 99 + 1000 * n)));
    }
    chart.SetStale(true);
    QTRY_COMPARE(Peer::OutageLabels(chart), QStringList{QStringLiteral("link down 13 s…")});
    QVERIFY(Peer::LegendEntry(chart, 0)->font().italic());
    std::vector<bool> gap(1, true);
    chart.AddSamples(Passes(99 + 13 * 20 + 1, 1, Constant), gap);
    chart.SetStale(false);
    QTRY_COMPARE(Peer::OutageLabels(chart), QStringList{QStringLiteral("link down 13 s")});
    // No line across the outage: the drawn data holds a break (NaN) there.
    bool broken = false;
    for (auto it = Peer::Graph(chart, 2)->data()->constBegin();
         it != Peer::Graph(chart, 2)->data()->constEnd(); ++it) {
        broken |= std::isnan(it->value);
    }
    QVERIFY(broken);

    const QSize size = chart.size();
    chart.SetPaused(true);
    QApplication::processEvents();
    QCOMPARE(chart.size(), size);
    chart.SetPaused(false);
    QApplication::processEvents();
    QCOMPARE(chart.size(), size);
}

int main(int argc, char** argv) {
    // One known screen, whatever the machine has.
    QTemporaryDir dir;
    QFile config(dir.filePath(QStringLiteral("screens.json")));
    if (!config.open(QIODevice::WriteOnly)) return 1;
    config.write(QStringLiteral(R"({"screens": [{"name": "wide", "x": 0, "y": 0, "width": %1,)"
                                R"( "height": %2, "logicalDpi": 96}]})")
                     .arg(kScreen.width())
                     .arg(kScreen.height())
                     .toUtf8());
    config.close();
    qputenv("QT_QPA_PLATFORM", "offscreen:configfile=" + QFile::encodeName(config.fileName()));
    QApplication app(argc, argv);
    ChartTest test;
    return QTest::qExec(&test, argc, argv);
}

#include "chart_test.moc"
