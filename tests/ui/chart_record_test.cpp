// The window's recording and live chart against the real worker in Simulator
// (float), which needs no serial port: every pass brings values.

#include <signal.h>
#include <sys/resource.h>

#include <qcustomplot.h>
#include <QAction>
#include <QFile>
#include <QRadioButton>
#include <QSlider>
#include <QTemporaryDir>
#include <QTest>
#include <QToolButton>
#include <memory>

#include "engine/engine.h"
#include "files/pass_log.h"
#include "ui/chart_window.h"
#include "ui/chart_window_peer.h"
#include "ui/dev_tool_dlg.h"
#include "ui/fake_seams.h"

namespace {

using Peer = CChartWindowTestPeer;

constexpr int kWait = 30000;  // ms; a wait costs only when it fails

QAction* Action(QWidget& dlg, const char* name) {
    auto* action = dlg.findChild<QAction*>(QString::fromLatin1(name));
    if (!action) qFatal("no action %s", name);
    return action;
}

QList<QByteArray> Lines(const QString& path) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) return {};
    QList<QByteArray> lines = file.readAll().split('\n');
    if (!lines.isEmpty() && lines.last().isEmpty()) lines.removeLast();
    return lines;
}

}  // namespace

class ChartRecordTest : public QObject {
    Q_OBJECT

private slots:
    void init();
    void cleanup();
    void chartSeriesReceiveEachPass();
    void recordingWritesHeaderAndPassLines();
    void recordingThatCannotWriteStopsWithMessage();

private:
    // The window in Simulator (float) with input 3 at `in3`.
    void OpenSimulating(int in3);

    QTemporaryDir m_dir;
    FakeSeams m_seams;
    std::unique_ptr<Engine> m_engine;
    std::unique_ptr<CDevToolDlg> m_dlg;
};

void ChartRecordTest::init() {
    QVERIFY(m_dir.isValid());
    m_seams = FakeSeams();
    m_engine = std::make_unique<Engine>();
}

void ChartRecordTest::cleanup() {
    m_dlg.reset();
    m_engine.reset();
}

void ChartRecordTest::OpenSimulating(int in3) {
    m_dlg = std::make_unique<CDevToolDlg>(*m_engine, m_seams);
    m_dlg->show();
    m_dlg->findChild<QSlider*>(QStringLiteral("IDC_SLIDER_IN3"))->setValue(in3);
    QTest::mouseClick(m_dlg->findChild<QRadioButton*>(QStringLiteral("IDC_MODE_SIM_FLOAT")),
                      Qt::LeftButton);
}

void ChartRecordTest::chartSeriesReceiveEachPass() {
    OpenSimulating(200);
    Action(*m_dlg, "ID_VIEW_CHART")->trigger();
    auto* chart = m_dlg->findChild<CChartWindow*>();
    QVERIFY(chart);
    QVERIFY(chart->isVisible());
    QCPGraph* in3 = Peer::Graph(*chart, 2);
    QCPGraph* out1 = Peer::Graph(*chart, NET_INPUT_COUNT);
    // A run of one value is drawn as its two ends; the newest at the right edge.
    const auto last = [](QCPGraph* graph) { return graph->data()->at(graph->dataCount() - 1); };
    QTRY_VERIFY_WITH_TIMEOUT(in3->dataCount() >= 2 && last(in3)->value == 200, kWait);
    QCOMPARE(last(in3)->key, 0.0);
    QVERIFY(in3->data()->at(0)->key < 0);
    QCOMPARE(Peer::Graph(*chart, 0)->data()->at(0)->value, 0.0);
    // Outputs the engine computed.
    const int shownOut1 = m_dlg->findChild<QSlider*>(QStringLiteral("IDC_SLIDER_OUT1"))->value();
    QTRY_COMPARE_WITH_TIMEOUT(last(out1)->value, double(shownOut1), kWait);
    QCOMPARE(Peer::LegendEntry(*chart, 2)->text(), QStringLiteral("in3 200"));

    // Space pauses: passes go on, the picture does not; Resume catches up.
    QTest::keyClick(chart, Qt::Key_Space);
    QVERIFY(chart->Paused());
    const double frozen = in3->data()->at(0)->key;
    QTest::qWait(300);
    QCOMPARE(in3->data()->at(0)->key, frozen);
    QTest::keyClick(chart, Qt::Key_Space);
    QVERIFY(!chart->Paused());
    QVERIFY(in3->data()->at(0)->key < frozen);

    // A click on a legend entry hides its series and nothing else.
    QTest::mouseClick(Peer::LegendEntry(*chart, 2), Qt::LeftButton);
    QVERIFY(!in3->visible());
    QVERIFY(Peer::Graph(*chart, 3)->visible());

    // Closed, the chart is gone, so nothing feeds it.
    chart->close();
    QTRY_VERIFY(m_dlg->findChild<CChartWindow*>() == nullptr);
}

void ChartRecordTest::recordingWritesHeaderAndPassLines() {
    const QString path = m_dir.filePath(QStringLiteral("rec.txt"));
    m_seams.recordAnswer = path;
    OpenSimulating(77);
    QAction* record = Action(*m_dlg, "ID_FILE_RECORD");
    record->trigger();
    QCOMPARE(record->text(), QStringLiteral("Stop &recording"));
    QTRY_VERIFY_WITH_TIMEOUT(Lines(path).size() >= 4, kWait);
    record->trigger();
    QCOMPARE(record->text(), QStringLiteral("&Record values..."));
    const QList<QByteArray> lines = Lines(path);
    QTest::qWait(200);
    QCOMPARE(Lines(path).size(), lines.size());  // stopped means stopped

    QCOMPARE(lines[0], QByteArray::fromStdString(PassLogHeader(true)));
    // The first line may come from the pass before the mode change took.
    const QList<QByteArray> last = lines.last().split('\t');
    QCOMPARE(last.size(), 19);
    QCOMPARE(last[4], QByteArray("77"));
    QCOMPARE(last[18], QByteArray("sim-float"));
}

void ChartRecordTest::recordingThatCannotWriteStopsWithMessage() {
    const QString path = m_dir.filePath(QStringLiteral("full.txt"));
    m_seams.recordAnswer = path;
    OpenSimulating(5);
    // Files of this process may grow by the header and a line or two only.
    rlimit previous{};
    QVERIFY(getrlimit(RLIMIT_FSIZE, &previous) == 0);
    rlimit limit = previous;
    limit.rlim_cur = rlim_t(PassLogHeader(true).size() + 200);
    auto* previousHandler = signal(SIGXFSZ, SIG_IGN);
    if (setrlimit(RLIMIT_FSIZE, &limit) != 0) QSKIP("no file size limit here");
    QAction* record = Action(*m_dlg, "ID_FILE_RECORD");
    record->trigger();
    QTRY_VERIFY_WITH_TIMEOUT(!m_seams.messages.isEmpty(), kWait);
    (void)setrlimit(RLIMIT_FSIZE, &previous);
    signal(SIGXFSZ, previousHandler);

    QCOMPARE(m_seams.messages, QStringList{QStringLiteral("Error writing file")});
    QCOMPARE(record->text(), QStringLiteral("&Record values..."));
    // Whole lines only: the header, then lines of 19 fields, the last one ended.
    QFile file(path);
    QVERIFY(file.open(QIODevice::ReadOnly) && file.readAll().endsWith('\n'));
    const QList<QByteArray> lines = Lines(path);
    QVERIFY(lines.size() >= 2);
    for (qsizetype n = 1; n < lines.size(); ++n) QCOMPARE(lines[n].split('\t').size(), 19);
}

QTEST_MAIN(ChartRecordTest)
#include "chart_record_test.moc"
