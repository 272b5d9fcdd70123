// "Compare with host": the window against a virtual module that is off by a few
// LSB on one output, or healthy with sweeping inputs. Runs on the offscreen platform.

#include <QAction>
#include <QProcess>
#include <QRadioButton>
#include <QSlider>
#include <QTemporaryDir>
#include <QTest>
#include <fstream>
#include <memory>

#include "engine/engine.h"
#include "network/evaluators.h"
#include "ui/dev_tool_dlg.h"
#include "ui/dev_tool_dlg_peer.h"
#include "ui/fake_seams.h"
#include "ui/host_comparison.h"
#include "ui/host_marker.h"
#include "ui/host_marker_peer.h"
#include "ui/live_views.h"
#include "ui/track_bar.h"

namespace {

constexpr int kWait = 30000;  // ms; a wait costs only when it fails

QString FirstLine(const QString& text) {
    return text.section(QLatin1Char('\n'), 0, 0);
}

}  // namespace

class CompareHostTest : public QObject {
    Q_OBJECT
private slots:
    void init();
    void cleanup();
    void markerShowsTheHostsPredictionInMonitorOnly();
    void markerRepaintsOnlyWhenItsValuesChange();
    void countsJudgeOnlyPassesWithInputsHeldStill_data();
    void countsJudgeOnlyPassesWithInputsHeldStill();
    void judgingRule_data();
    void judgingRule();
    void staleValuesAreNeverJudged();

private:
    // The virtual module on its own link with `extra` options, and the window in
    // Monitor on it with the same net loaded and the comparison on.
    void Start(const QStringList& extra);
    [[nodiscard]] CHostComparison& Comparison() {
        return CDevToolDlgTestPeer::LiveViews(*m_dlg).Comparison();
    }

    QTemporaryDir m_dir;
    QString m_net;
    QProcess m_target;
    FakeSeams m_seams;
    std::unique_ptr<Engine> m_engine;
    std::unique_ptr<CDevToolDlg> m_dlg;
};

void CompareHostTest::init() {
    // Output biases that give every output 183 in the module's arithmetic.
    m_net = m_dir.filePath(QStringLiteral("bias.net"));
    std::ofstream file(m_net.toStdString());
    for (int i = 0; i < 280; ++i) file << (i >= 272 ? 10000000 : 0) << '\n';
}

void CompareHostTest::cleanup() {
    m_dlg.reset();
    m_engine.reset();
    m_target.terminate();
    m_target.waitForFinished(5000);
}

void CompareHostTest::Start(const QStringList& extra) {
    // A --net among `extra` replaces the biases, for the module and the window.
    if (const qsizetype at = extra.indexOf(QStringLiteral("--net")); at >= 0) m_net = extra[at + 1];
    const QString link = m_dir.filePath(QStringLiteral("com1"));
    m_target.start(qEnvironmentVariable("PELKORA_CLI"),
                   QStringList{QStringLiteral("target"), QStringLiteral("--link"), link} +
                       (extra.contains(QStringLiteral("--net"))
                            ? extra
                            : QStringList{QStringLiteral("--net"), m_net} + extra));
    QVERIFY(m_target.waitForReadyRead(kWait));
    qputenv("PELKORA_COM1", QFile::encodeName(link));
    m_engine = std::make_unique<Engine>();
    m_seams.openAnswer = m_net;
    m_dlg = std::make_unique<CDevToolDlg>(*m_engine, m_seams);
    m_dlg->show();
    auto* compare = m_dlg->findChild<QAction*>(QStringLiteral("ID_VIEW_COMPARE_HOST"));
    QVERIFY(compare && compare->isCheckable() && !compare->isChecked());  // off at start
    m_dlg->findChild<QAction*>(QStringLiteral("ID_FILE_LOAD_ASCII"))->trigger();
    compare->setChecked(true);
    m_dlg->findChild<QRadioButton*>(QStringLiteral("IDC_MODE_MONITOR"))->click();
}

void CompareHostTest::markerShowsTheHostsPredictionInMonitorOnly() {
    Start({QStringLiteral("--inputs"), QStringLiteral("1,2,3,4,5,6,7,8"), QStringLiteral("--fault"),
           QStringLiteral("3:+3")});
    CDevToolDlg& dlg = *m_dlg;
    auto* out3 = dlg.findChild<QSlider*>(QStringLiteral("IDC_SLIDER_OUT3"));
    auto* out1 = dlg.findChild<QSlider*>(QStringLiteral("IDC_SLIDER_OUT1"));
    auto* marker3 = dlg.findChild<CHostMarker*>(QStringLiteral("host:IDC_SLIDER_OUT3"));
    QVERIFY(marker3);
    QTRY_COMPARE_WITH_TIMEOUT(out3->value(), 186, kWait);
    QCOMPARE(CHostMarkerTestPeer::HostValue(*marker3), std::optional<int>(183));
    QVERIFY(marker3->isVisible());
    QCOMPARE(FirstLine(out3->toolTip()), QStringLiteral("module 186, host 183 (+3)"));
    QCOMPARE(FirstLine(out1->toolTip()), QStringLiteral("module 183, host 183 (0)"));
    // Held inputs make verdicts: amber once a pass has confirmed the difference.
    QTRY_COMPARE_WITH_TIMEOUT(CHostMarkerTestPeer::CurrentVerdict(*marker3),
                              CHostMarker::Verdict::Differs, kWait);
    QVERIFY(out3->toolTip().contains(QStringLiteral("mismatching passes: ")));
    if (!qEnvironmentVariableIsEmpty("PELKORA_SHOT")) {
        // A few seconds of passes, so the picture shows a count that stayed.
        QTRY_VERIFY_WITH_TIMEOUT(Comparison().GetCounts().judged >= 25, 3 * kWait);
        dlg.grab().save(qEnvironmentVariable("PELKORA_SHOT"));
    }

    // Another mode, or the item off: no marker, no comparison text.
    dlg.findChild<QRadioButton*>(QStringLiteral("IDC_MODE_HOLD"))->click();
    QTRY_VERIFY_WITH_TIMEOUT(!marker3->isVisible(), kWait);
    QCOMPARE(out3->toolTip(), QString::number(out3->value()));  // the value again
}

void CompareHostTest::markerRepaintsOnlyWhenItsValuesChange() {
    Start({QStringLiteral("--inputs"), QStringLiteral("1,2,3,4,5,6,7,8"), QStringLiteral("--fault"),
           QStringLiteral("3:+3")});
    auto* marker3 = m_dlg->findChild<CHostMarker*>(QStringLiteral("host:IDC_SLIDER_OUT3"));
    auto* marker1 = m_dlg->findChild<CHostMarker*>(QStringLiteral("host:IDC_SLIDER_OUT1"));
    QTRY_COMPARE_WITH_TIMEOUT(CHostMarkerTestPeer::CurrentVerdict(*marker3),
                              CHostMarker::Verdict::Differs, kWait);
    // Constant values for a second (about five passes): a marker whose repaint made
    // its slider repaint, and that repaint the marker again, would count hundreds.
    // Output 3's mismatch count grows on its badge: one paint per new count.
    const int before3 = CHostMarkerTestPeer::PaintCount(*marker3);
    const int before1 = CHostMarkerTestPeer::PaintCount(*marker1);
    const int count3 = marker3->Count();
    QTest::qWait(1000);
    QVERIFY2(CHostMarkerTestPeer::PaintCount(*marker3) - before3 <= 2 + (marker3->Count() - count3),
             qPrintable(QString::number(CHostMarkerTestPeer::PaintCount(*marker3))));
    QVERIFY2(CHostMarkerTestPeer::PaintCount(*marker1) - before1 <= 2,
             qPrintable(QString::number(CHostMarkerTestPeer::PaintCount(*marker1))));
}

void CompareHostTest::countsJudgeOnlyPassesWithInputsHeldStill_data() {
    QTest::addColumn<QStringList>("module");
    QTest::addColumn<int>("tolerance");
    QTest::addColumn<bool>("out3Mismatches");
    const QStringList fixed = {QStringLiteral("--inputs"), QStringLiteral("1,2,3,4,5,6,7,8")};
    const QStringList fault = {QStringLiteral("--fault"), QStringLiteral("3:+3")};
    QTest::newRow("fault, held inputs") << fixed + fault << 0 << true;
    QTest::newRow("fault within the tolerance") << fixed + fault << 4 << false;
    // Outputs that mirror the inputs, so outputs of moved inputs differ.
    const QString mirror = QStringLiteral(PELKORA_SOURCE_DIR "/examples/demo-net.txt");
    QTest::newRow("healthy, sweeping inputs")
        << QStringList{QStringLiteral("--net"), mirror} << 0 << false;
}

void CompareHostTest::countsJudgeOnlyPassesWithInputsHeldStill() {
    QFETCH(QStringList, module);
    QFETCH(int, tolerance);
    QFETCH(bool, out3Mismatches);
    Start(module);
    if (tolerance != 0) {
        const QString name = QStringLiteral("ID_VIEW_COMPARE_TOLERANCE_%1").arg(tolerance);
        m_dlg->findChild<QAction*>(name)->trigger();
    }
    QCOMPARE(Comparison().Tolerance(), tolerance);
    auto* marker3 = m_dlg->findChild<CHostMarker*>(QStringLiteral("host:IDC_SLIDER_OUT3"));
    bool amber = false;
    QTRY_VERIFY_WITH_TIMEOUT(
        (amber |= CHostMarkerTestPeer::CurrentVerdict(*marker3) == CHostMarker::Verdict::Differs,
         Comparison().GetCounts().judged + Comparison().GetCounts().inputsMoved >= 8),
        3 * kWait);
    const CHostComparison::Counts counts = Comparison().GetCounts();
    for (int k = 0; k < NET_OUTPUT_COUNT; ++k) {
        QCOMPARE(counts.mismatches[k] > 0, k == 2 && out3Mismatches);
    }
    QCOMPARE(amber, out3Mismatches);
    if (!module.contains(QStringLiteral("--inputs"))) {
        // The sweep moves the inputs: a pass agreeing with one of its readings is
        // judged, the others are counted apart; none is a mismatch.
        QVERIFY(counts.judged + counts.inputsMoved > 0);
    } else {
        QVERIFY(counts.judged > 0);
    }
    // The counts stay until cleared.
    m_dlg->findChild<QAction*>(QStringLiteral("ID_VIEW_COMPARE_CLEAR"))->trigger();
    QCOMPARE(Comparison().GetCounts().judged, 0);
    QCOMPARE(Comparison().GetCounts().mismatches[2], 0);
}

void CompareHostTest::judgingRule_data() {
    // Pass by pass: the inputs (as one number for all eight), the module's error on
    // output 1, and whether a pass without values came before it.
    QTest::addColumn<QList<int>>("inputs");
    QTest::addColumn<QList<int>>("error");
    QTest::addColumn<QList<int>>("gapBefore");
    QTest::addColumn<int>("tolerance");
    QTest::addColumn<int>("judged");
    QTest::addColumn<int>("moved");
    QTest::addColumn<int>("mismatches");
    QTest::newRow("held still") << QList<int>{1, 1, 1, 1} << QList<int>{0, 5, 0, 0} << QList<int>{}
                                << 0 << 2 << 0 << 1;
    QTest::newRow("moved next to the pass")
        << QList<int>{1, 1, 3, 3, 3} << QList<int>{0, 9, 9, 0, 0} << QList<int>{} << 0 << 1 << 2
        << 0;
    // An input that moves by one LSB could only have been read as one of the two
    // values: the pass is judged, and a module 9 LSB off is caught.
    QTest::newRow("jitter of one LSB is judged")
        << QList<int>{1, 1, 2, 2, 2} << QList<int>{0, 9, 9, 0, 0} << QList<int>{} << 0 << 3 << 0
        << 2;
    QTest::newRow("moved, but agreeing with a reading")
        << QList<int>{1, 1, 5, 5, 5} << QList<int>{0, 0, 0, 0, 0} << QList<int>{} << 0 << 3 << 0
        << 0;
    QTest::newRow("within the tolerance")
        << QList<int>{1, 1, 1} << QList<int>{0, 3, 0} << QList<int>{} << 3 << 1 << 0 << 0;
    QTest::newRow("beyond the tolerance")
        << QList<int>{1, 1, 1} << QList<int>{0, -4, 0} << QList<int>{} << 3 << 1 << 0 << 1;
    QTest::newRow("a failed pass between")
        << QList<int>{1, 1, 1, 1} << QList<int>{0, 7, 0, 0} << QList<int>{2} << 0 << 0 << 0 << 0;
}

void CompareHostTest::judgingRule() {
    QFETCH(QList<int>, inputs);
    QFETCH(QList<int>, error);
    QFETCH(QList<int>, gapBefore);
    QFETCH(int, tolerance);
    QWidget owner;
    std::array<CTrackBar*, NET_OUTPUT_COUNT> sliders{};
    for (CTrackBar*& slider : sliders) slider = new CTrackBar(&owner);
    CHostComparison comparison(sliders, nullptr);
    comparison.SetTolerance(tolerance);
    ModuleWeights weights{};
    weights[NET_WEIGHT_COUNT - 1] = 3000;  // something other than the middle
    std::vector<PassSample> passes;
    std::vector<bool> afterGap;
    for (qsizetype n = 0; n < inputs.size(); ++n) {
        PassSample pass;
        pass.mode = MODE_MONITOR;
        pass.inputs.fill(static_cast<std::uint16_t>(inputs[n]));
        pass.outputs = EvaluateInt(pass.inputs, weights);
        pass.outputs[0] = static_cast<std::uint16_t>(pass.outputs[0] + error[n]);
        passes.push_back(pass);
        afterGap.push_back(gapBefore.contains(int(n)));
    }
    // In two takes, as refreshes bring them: the verdicts do not depend on the split.
    const std::vector<PassSample> first(passes.begin(), passes.begin() + 2);
    const std::vector<PassSample> rest(passes.begin() + 2, passes.end());
    comparison.Count(first, {afterGap.begin(), afterGap.begin() + 2}, weights);
    comparison.Count(rest, {afterGap.begin() + 2, afterGap.end()}, weights);
    QFETCH(int, judged);
    QFETCH(int, moved);
    QFETCH(int, mismatches);
    QCOMPARE(comparison.GetCounts().judged, judged);
    QCOMPARE(comparison.GetCounts().inputsMoved, moved);
    QCOMPARE(comparison.GetCounts().mismatches[0], mismatches);
    for (int k = 1; k < NET_OUTPUT_COUNT; ++k) QCOMPARE(comparison.GetCounts().mismatches[k], 0);
}

void CompareHostTest::staleValuesAreNeverJudged() {
    QWidget owner;
    std::array<CTrackBar*, NET_OUTPUT_COUNT> sliders{};
    for (CTrackBar*& slider : sliders) slider = new CTrackBar(&owner);
    CHostComparison comparison(sliders, nullptr);
    ModuleWeights weights{};
    // Output 1 is 9 off on every pass; the passes come 200 ms apart, but the link is
    // silent for 1.5 s before the fourth.
    const auto t0 = std::chrono::steady_clock::now();
    const int at[] = {0, 200, 400, 1900, 2100, 2300};
    std::vector<PassSample> passes;
    for (int ms : at) {
        PassSample pass;
        pass.mode = MODE_MONITOR;
        pass.steady = t0 + std::chrono::milliseconds(ms);
        pass.outputs = EvaluateInt(pass.inputs, weights);
        pass.outputs[0] = static_cast<std::uint16_t>(pass.outputs[0] + 9);
        passes.push_back(pass);
    }
    comparison.Count(passes, std::vector<bool>(passes.size(), false), weights);
    // Judged: the second (neighbours 0 and 400) and the fifth (1900 and 2300); the
    // third and fourth have the silence on one side.
    QCOMPARE(comparison.GetCounts().judged, 2);
    QCOMPARE(comparison.GetCounts().mismatches[0], 2);
    // The count stays beside the slider, and the window's line says it.
    QCOMPARE(comparison.Marker(0)->Count(), 2);
    QCOMPARE(comparison.Marker(1)->Count(), 0);
    QCOMPARE(comparison.Summary(), QStringLiteral("Compare: 2 mismatches in 2 passes, out1"));

    // A report of a link that stopped gets no verdict, however far off its values.
    PassReport report;
    report.mode = MODE_MONITOR;
    report.outputs = passes.back().outputs;
    comparison.Show(true, report, weights, /*stale=*/true);
    QCOMPARE(CHostMarkerTestPeer::CurrentVerdict(*comparison.Marker(0)),
             CHostMarker::Verdict::Unsettled);
    QVERIFY(sliders[0]->toolTip().contains(QStringLiteral("not current")));
    comparison.Show(true, report, weights, /*stale=*/false);
    QCOMPARE(CHostMarkerTestPeer::CurrentVerdict(*comparison.Marker(0)),
             CHostMarker::Verdict::Differs);

    comparison.ClearCounts();
    QCOMPARE(comparison.Marker(0)->Count(), 0);
    QCOMPARE(comparison.Summary(), QStringLiteral("Compare: no pass judged yet"));
}

QTEST_MAIN(CompareHostTest)
#include "compare_host_test.moc"
