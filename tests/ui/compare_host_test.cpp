// "Compare with host": the window against a virtual module that is off by a few
// LSB on one output. Runs on the offscreen platform.

#include <QAction>
#include <QProcess>
#include <QRadioButton>
#include <QSlider>
#include <QTemporaryDir>
#include <QTest>
#include <fstream>
#include <memory>

#include "engine/engine.h"
#include "ui/dev_tool_dlg.h"
#include "ui/fake_seams.h"
#include "ui/host_marker.h"

class CompareHostTest : public QObject {
    Q_OBJECT
private slots:
    void markerShowsTheHostsPredictionInMonitorOnly();
};

void CompareHostTest::markerShowsTheHostsPredictionInMonitorOnly() {
    QTemporaryDir dir;
    // Output biases that give every output 183 in the module's arithmetic.
    const QString net = dir.filePath(QStringLiteral("bias.net"));
    {
        std::ofstream file(net.toStdString());
        for (int i = 0; i < 280; ++i) file << (i >= 272 ? 10000000 : 0) << '\n';
    }
    const QString link = dir.filePath(QStringLiteral("com1"));
    QProcess target;
    target.start(qEnvironmentVariable("PELKORA_CLI"),
                 {QStringLiteral("target"), QStringLiteral("--link"), link, QStringLiteral("--net"),
                  net, QStringLiteral("--inputs"), QStringLiteral("1,2,3,4,5,6,7,8"),
                  QStringLiteral("--fault"), QStringLiteral("3:+3")});
    QVERIFY(target.waitForReadyRead(10000));

    qputenv("PELKORA_COM1", QFile::encodeName(link));
    Engine engine;
    FakeSeams seams;
    seams.openAnswer = net;
    CDevToolDlg dlg(engine, seams);
    dlg.show();
    auto* compare = dlg.findChild<QAction*>(QStringLiteral("ID_VIEW_COMPARE_HOST"));
    QVERIFY(compare && compare->isCheckable() && !compare->isChecked());  // off at start
    dlg.findChild<QAction*>(QStringLiteral("ID_FILE_LOAD_ASCII"))->trigger();
    compare->setChecked(true);
    dlg.findChild<QRadioButton*>(QStringLiteral("IDC_MODE_MONITOR"))->click();

    auto* out3 = dlg.findChild<QSlider*>(QStringLiteral("IDC_SLIDER_OUT3"));
    auto* out1 = dlg.findChild<QSlider*>(QStringLiteral("IDC_SLIDER_OUT1"));
    auto* marker3 = dlg.findChild<CHostMarker*>(QStringLiteral("IDC_SLIDER_OUT3_HOST"));
    QVERIFY(marker3);
    QTRY_COMPARE_WITH_TIMEOUT(out3->value(), 186, 5000);
    QCOMPARE(marker3->HostValue(), std::optional<int>(183));
    QVERIFY(marker3->isVisible());
    QCOMPARE(out3->toolTip(), QStringLiteral("module 186, host 183 (+3)"));
    QCOMPARE(out1->toolTip(), QStringLiteral("module 183, host 183 (0)"));
    if (!qEnvironmentVariableIsEmpty("PELKORA_SHOT")) {
        dlg.grab().save(qEnvironmentVariable("PELKORA_SHOT"));
    }

    // Another mode, or the item off: no marker, no comparison text.
    dlg.findChild<QRadioButton*>(QStringLiteral("IDC_MODE_HOLD"))->click();
    QTRY_VERIFY_WITH_TIMEOUT(!marker3->isVisible(), 5000);
    QCOMPARE(out3->toolTip(), QString());

    target.terminate();
    QVERIFY(target.waitForFinished(5000));
}

QTEST_MAIN(CompareHostTest)
#include "compare_host_test.moc"
