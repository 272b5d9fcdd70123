// "Train network..." from the main window: not modal, one instance kept, and no
// training run or trained, unsaved weights lost to closing the window.

#include <QAction>
#include <QApplication>
#include <QDoubleSpinBox>
#include <QRadioButton>
#include <QTemporaryDir>
#include <QtTest>
#include <fstream>
#include <random>

#include "engine_test_peer.h"
#include "ui/dev_tool_dlg.h"
#include "ui/dev_tool_dlg_peer.h"
#include "ui/fake_seams.h"
#include "ui/train_dlg.h"

namespace {

// Hang guards only: the runs have a work budget (a time limit of their own).
constexpr int kRunGuardMs = 300000;
constexpr int kWait = 10000;

}  // namespace

class TrainWindowTest : public QObject {
    Q_OBJECT
private slots:
    void init() {
        QVERIFY(m_dir.isValid());
        m_file = m_dir.filePath(QStringLiteral("train000.txt"));
        std::ofstream out(m_file.toStdString());
        std::mt19937 rng(5);
        for (int r = 0; r < 40; ++r) {
            for (int i = 0; i < 16; ++i) out << rng() % 256 << (i < 15 ? '\t' : '\n');
        }
    }

    void theDialogIsNotModalAndKeptWhileTheWindowLives() {
        Engine engine;
        FakeSeams seams;
        CDevToolDlg win(engine, seams);
        win.show();
        CTrainDlg* dlg = OpenTrainDialog(win);
        QVERIFY(dlg->isVisible());
        QVERIFY(!dlg->isModal());
        StartRun(*dlg);
        QVERIFY(dlg->Training());
        QVERIFY(QApplication::activeModalWidget() != dlg);

        // The window answers while the dialog trains: a mode chosen reaches the engine.
        win.findChild<QRadioButton*>(QStringLiteral("IDC_MODE_SIM_INT"))->click();
        QCOMPARE(engine.Mode(), MODE_SIM_INT);
        QTRY_COMPARE_WITH_TIMEOUT(QString::fromLatin1(EngineTestPeer::GetStatus(engine).text),
                                  QStringLiteral("Local simulation of the network (int numbers)"),
                                  kWait);

        // Closed and opened again: the same dialog, still at its work.
        seams.askAnswers = {2};  // go on
        dlg->reject();
        QVERIFY(dlg->isVisible());
        dlg->hide();
        QCOMPARE(OpenTrainDialog(win), dlg);
        QVERIFY(dlg->isVisible() && dlg->Training());
        QTRY_VERIFY_WITH_TIMEOUT(!dlg->Training(), kRunGuardMs);
        dlg->hide();
        QCOMPARE(OpenTrainDialog(win), dlg);
        QVERIFY(dlg->Result().has_value());
    }

    void closingTheWindowAsksWhileTrainingOrUnsaved() {
        Engine engine;
        FakeSeams seams;
        CDevToolDlg win(engine, seams);
        win.show();
        CTrainDlg* dlg = OpenTrainDialog(win);
        StartRun(*dlg);

        seams.askAnswers = {1};  // Cancel
        win.reject();
        QCOMPARE(seams.questions.size(), 1);
        QVERIFY(win.isVisible());
        QVERIFY(dlg->Training());

        QTRY_VERIFY_WITH_TIMEOUT(!dlg->Training(), kRunGuardMs);
        dlg->OnUseWeights();  // nothing loaded before: no question
        QCOMPARE(seams.questions.size(), 1);
        QVERIFY(CDevToolDlgTestPeer::TrainedUnsaved(win));
        seams.askAnswers = {1};
        win.reject();
        QCOMPARE(seams.questions.size(), 2);
        QVERIFY(win.isVisible());

        // Undone: nothing to lose, so the window goes without a question.
        dlg->OnUndoUse();
        QVERIFY(!CDevToolDlgTestPeer::TrainedUnsaved(win));
        win.reject();
        QCOMPARE(seams.questions.size(), 2);
        QVERIFY(!win.isVisible());
    }

    void savedTrainedWeightsAreNothingToLose() {
        Engine engine;
        FakeSeams seams;
        CDevToolDlg win(engine, seams);
        win.show();
        CTrainDlg* dlg = OpenTrainDialog(win);
        StartRun(*dlg);
        QTRY_VERIFY_WITH_TIMEOUT(!dlg->Training(), kRunGuardMs);
        dlg->OnUseWeights();
        QVERIFY(CDevToolDlgTestPeer::TrainedUnsaved(win));
        const QString path = m_dir.filePath(QStringLiteral("trained.txt"));
        dlg->SetSaveFileName([&](QWidget*) { return path; });
        dlg->OnSaveNetFile();
        QVERIFY(!CDevToolDlgTestPeer::TrainedUnsaved(win));
        seams.askAnswers = {0};  // what Quit would answer, were it asked
        win.reject();
        QVERIFY(seams.questions.isEmpty());
    }

private:
    // A whole run on the 40 rows: small enough to be its own work budget (about a
    // second optimised), and, unlike a time limit, it ends with a trained net in
    // a sanitizer build too.
    void StartRun(CTrainDlg& dlg) {
        dlg.SetFiles({m_file});
        dlg.OnTrainOrStop();
        QVERIFY(dlg.Training());
    }

    static CTrainDlg* OpenTrainDialog(CDevToolDlg& win) {
        win.findChild<QAction*>(QStringLiteral("ID_FILE_TRAIN"))->trigger();
        return CDevToolDlgTestPeer::TrainDialog(win);
    }

    QTemporaryDir m_dir;
    QString m_file;
};

QTEST_MAIN(TrainWindowTest)
#include "train_window_test.moc"
