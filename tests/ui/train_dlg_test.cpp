#include <sys/stat.h>

#include <QDoubleSpinBox>
#include <QLabel>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QtTest>
#include <fstream>
#include <random>

#include "engine_test_peer.h"
#include "files/net_file.h"
#include "network/evaluators.h"
#include "ui/fake_seams.h"
#include "ui/train_dlg.h"

class TrainDlgTestSeam {
public:
    // As if a run on `rows` had ended with `result`.
    static void Finish(CTrainDlg& dlg, std::vector<TrainingRow> rows,
                       const TrainingResult& result) {
        dlg.m_rows = std::move(rows);
        dlg.m_options.holdout = 0.0;
        dlg.m_progressModel.Start();
        dlg.OnFinished(result);
    }
};

namespace {

// A hang guard only: a run is a whole run on 40 rows (about a second optimised),
// its own work budget, so this holds many times over in a sanitizer build on a
// busy machine. A time limit would not do: stopped before its first candidate, a
// run in a slow build keeps the all-zero net.
constexpr int kRunGuardMs = 300000;
// Where a run only has to be under way for a moment, and then end by itself.
constexpr double kTimeLimitSeconds = 0.5;

FileWeights SomeNet() {
    FileWeights w{};
    for (int n = 0; n < NET_WEIGHT_COUNT; ++n) w[n] = (n % 7 - 3) * 4'000'000;
    return w;
}

FileWeights EngineWeights(Engine& engine) {
    return engine.CopyFileWeights();
}

}  // namespace

class TrainDlgTest : public QObject {
    Q_OBJECT
private slots:
    void init() {
        QVERIFY(m_dir.isValid());
        m_file = m_dir.filePath(QStringLiteral("train000.txt"));
        std::ofstream out(m_file.toStdString());
        std::mt19937 rng(9);
        for (int r = 0; r < 40; ++r) {
            int v[8];
            for (int& x : v) x = static_cast<int>(rng() % 256);
            for (int i = 0; i < 16; ++i) out << v[i < 8 ? i : 15 - i] << (i < 15 ? '\t' : '\n');
        }
    }

    void trainsThenUsesAndSavesTheWeights() {
        Engine engine;
        FakeSeams seams;
        CTrainDlg dlg(nullptr, engine, seams);
        QSignalSpy used(&dlg, &CTrainDlg::weightsUsed);
        QSignalSpy saved(&dlg, &CTrainDlg::usedWeightsSaved);
        auto* use = dlg.findChild<QPushButton*>(QStringLiteral("use"));
        auto* save = dlg.findChild<QPushButton*>(QStringLiteral("save"));
        QVERIFY(!use->isEnabled() && !save->isEnabled());
        Train(dlg);
        QVERIFY(use->isEnabled() && save->isEnabled());
        QVERIFY(dlg.findChild<QPlainTextEdit*>(QStringLiteral("report"))
                    ->toPlainText()
                    .contains(QStringLiteral("quantization cost")));
        // The per-output view shows the rows the trainer held out, no others.
        QCOMPARE(dlg.HeldOut().RowCount(), dlg.Result()->heldOutRows);
        QCOMPARE(dlg.HeldOut().RowCount(), std::size_t{8});  // 20 % of 40
        for (int m = 0; m < NET_OUTPUT_COUNT; ++m) {
            QCOMPARE(dlg.HeldOut().Outputs()[m].rmse, dlg.Result()->moduleHeldOut.outputs[m].rmse);
        }

        // Nothing in use yet: no question.
        QTest::mouseClick(use, Qt::LeftButton);
        QVERIFY(seams.questions.isEmpty());
        QCOMPARE(used.count(), 1);
        QCOMPARE(DeriveModuleWeights(EngineWeights(engine)), dlg.Result()->weights);

        const QString path = m_dir.filePath(QStringLiteral("net.txt"));
        dlg.SetSaveFileName([&](QWidget*) { return path; });
        QTest::mouseClick(save, Qt::LeftButton);
        FileWeights read{};
        QCOMPARE(ReadNetFile(path.toStdString(), read), FileResult::Ok);
        QCOMPARE(DeriveModuleWeights(read), dlg.Result()->weights);
        QCOMPARE(read, EngineWeights(engine));
        QCOMPARE(saved.count(), 1);
        QCOMPARE(saved.at(0).at(0).toString(), path);
    }

    void useAsksBeforeReplacingANetAndCanBeUndone() {
        Engine engine;
        engine.LoadWeights(SomeNet());
        FakeSeams seams;
        CTrainDlg dlg(nullptr, engine, seams);
        QSignalSpy used(&dlg, &CTrainDlg::weightsUsed);
        QSignalSpy undone(&dlg, &CTrainDlg::weightsUseUndone);
        auto* undo = dlg.findChild<QPushButton*>(QStringLiteral("undoUse"));
        Train(dlg);
        QVERIFY(!undo->isEnabled());

        seams.askAnswers = {1};  // Cancel
        dlg.OnUseWeights();
        QCOMPARE(seams.questions.size(), 1);
        QCOMPARE(EngineWeights(engine), SomeNet());
        QCOMPARE(used.count(), 0);

        seams.askAnswers = {0};  // Replace
        dlg.OnUseWeights();
        QCOMPARE(DeriveModuleWeights(EngineWeights(engine)), dlg.Result()->weights);
        QCOMPARE(used.count(), 1);
        QVERIFY(undo->isEnabled());

        QTest::mouseClick(undo, Qt::LeftButton);
        QCOMPARE(EngineWeights(engine), SomeNet());
        QCOMPARE(undone.count(), 1);
        QVERIFY(!undo->isEnabled() && !dlg.CanUndoUse());

        // Weights loaded after the use are not undone behind the operator's back.
        seams.askAnswers = {0};
        dlg.OnUseWeights();
        FileWeights other = SomeNet();
        other[3] = 42'000'000;
        engine.LoadWeights(other);
        dlg.OnUndoUse();
        QCOMPARE(EngineWeights(engine), other);
        QCOMPARE(undone.count(), 1);
    }

    void stopKeepsTheBestAndTheBarDoesNotClaimTheEnd() {
        Engine engine;
        FakeSeams seams;
        CTrainDlg dlg(nullptr, engine, seams);
        dlg.SetFiles({m_file});
        dlg.OnTrainOrStop();
        dlg.OnTrainOrStop();  // Stop at once
        QTRY_VERIFY_WITH_TIMEOUT(!dlg.Training(), kRunGuardMs);
        // Stopped while reading, or while training with the best so far.
        auto* bar = dlg.findChild<QProgressBar*>(QStringLiteral("progress"));
        QVERIFY(bar->value() < 1000);
        QVERIFY(bar->format().isEmpty() || bar->format().startsWith(QStringLiteral("Stopped")));
        if (dlg.Result()) QVERIFY(dlg.Result()->stoppedEarly);
    }

    void closingWhileTrainingAsks_data() {
        QTest::addColumn<int>("answer");
        QTest::addColumn<bool>("visible");
        QTest::addColumn<bool>("result");
        QTest::newRow("stop and keep the best") << 0 << false << true;
        QTest::newRow("discard") << 1 << false << false;
        QTest::newRow("go on") << 2 << true << true;
    }
    void closingWhileTrainingAsks() {
        QFETCH(int, answer);
        QFETCH(bool, visible);
        QFETCH(bool, result);
        Engine engine;
        FakeSeams seams;
        CTrainDlg dlg(nullptr, engine, seams);
        dlg.SetFiles({m_file});
        // No limit, so it is surely under way when asked; "go on" is stopped below.
        dlg.show();
        dlg.OnTrainOrStop();
        // Past the reading: training has reported.
        QTRY_VERIFY_WITH_TIMEOUT(!dlg.findChild<CTrainingCurve*>()->Model().Points().empty(),
                                 kRunGuardMs);
        QVERIFY(dlg.Training());
        seams.askAnswers = {answer};
        dlg.reject();
        QCOMPARE(seams.questions.size(), 1);
        QCOMPARE(dlg.isVisible(), visible);
        if (answer == 2) {
            QVERIFY(dlg.Training());  // went on
            dlg.OnTrainOrStop();      // Stop: the best so far is kept
        }
        QTRY_VERIFY_WITH_TIMEOUT(!dlg.Training(), kRunGuardMs);
        QCOMPARE(dlg.Result().has_value(), result);
        if (answer != 2) {  // stopped in the middle: the bar says so, not 100 %
            auto* bar = dlg.findChild<QProgressBar*>(QStringLiteral("progress"));
            QVERIFY(bar->value() < 1000);
            QVERIFY(bar->format().startsWith(QStringLiteral("Stopped at")));
        }
    }

    void escapeDuringARunDoesNotDiscardIt() {
        Engine engine;
        FakeSeams seams;
        CTrainDlg dlg(nullptr, engine, seams);
        dlg.SetFiles({m_file});
        dlg.findChild<QDoubleSpinBox*>(QStringLiteral("timeLimit"))->setValue(kTimeLimitSeconds);
        dlg.show();
        dlg.OnTrainOrStop();
        QTest::keyClick(&dlg, Qt::Key_Escape);  // the question's Escape: go on
        QCOMPARE(seams.questions.size(), 1);
        QVERIFY(dlg.isVisible());
        QTRY_VERIFY_WITH_TIMEOUT(!dlg.Training(), kRunGuardMs);
        QVERIFY(dlg.Result().has_value());
        // Idle, Escape only hides: the dialog keeps its result for next time.
        QTest::keyClick(&dlg, Qt::Key_Escape);
        QCOMPARE(seams.questions.size(), 1);
        QVERIFY(!dlg.isVisible());
        QVERIFY(dlg.Result().has_value());
    }

    void unreadableRowsAreReportedAndNothingStarts_data() {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("expected");
        QTest::newRow("missing") << QStringLiteral("missing.txt")
                                 << QStringLiteral("missing.txt: No such file or directory");
        // A FIFO without a writer reads on the training thread, and reads empty.
        QTest::newRow("fifo") << QStringLiteral("fifo.txt")
                              << QStringLiteral("0 rows, at least 16 needed");
    }
    void unreadableRowsAreReportedAndNothingStarts() {
        QFETCH(QString, name);
        QFETCH(QString, expected);
        const QString path = m_dir.filePath(name);
        if (name.startsWith(QStringLiteral("fifo"))) {
            QCOMPARE(mkfifo(path.toLocal8Bit().constData(), 0600), 0);
        }
        Engine engine;
        FakeSeams seams;
        CTrainDlg dlg(nullptr, engine, seams);
        dlg.SetFiles({path});
        dlg.OnTrainOrStop();  // returns at once: the UI thread reads nothing
        QTRY_VERIFY_WITH_TIMEOUT(!dlg.Training(), kRunGuardMs);
        QVERIFY(!dlg.Result().has_value());
        QVERIFY(dlg.findChild<QPlainTextEdit*>(QStringLiteral("report"))
                    ->toPlainText()
                    .contains(expected));
    }

    void trainedWeightsReachTheEngineInBothForms() {
        ModuleWeights w{};
        w[0] = -1073;
        w[279] = 1073;
        w[150] = 7;
        Engine engine;
        QCOMPARE(LoadTrainedWeights(engine, w), FileResult::Ok);
        std::lock_guard lock(EngineTestPeer::State(engine).hMutex);
        QCOMPARE(EngineTestPeer::State(engine).sModuleWeights, w);
        QCOMPARE(EngineTestPeer::State(engine).lFileWeights[0], -1073 * 2'000'000);
        QCOMPARE(EngineTestPeer::State(engine).lFileWeights[150], 14'000'000);
    }

    void theTrainersWarningsStandOut() {
        Engine engine;
        FakeSeams seams;
        CTrainDlg dlg(nullptr, engine, seams);
        dlg.show();
        TrainingResult result;
        result.trainRows = 20;
        result.warnings = {"20 rows for 280 weights: record more rows",
                           "held-out RMSE 18.3 LSB, training 0.0 LSB: overfitting"};
        TrainDlgTestSeam::Finish(dlg, std::vector<TrainingRow>(20), result);
        auto* warnings = dlg.findChild<QLabel*>(QStringLiteral("warnings"));
        QVERIFY(warnings->isVisible());
        QVERIFY(warnings->text().contains(QStringLiteral("record more rows")));
        QVERIFY(warnings->text().contains(QStringLiteral("overfitting")));
        const QString report =
            dlg.findChild<QPlainTextEdit*>(QStringLiteral("report"))->toPlainText();
        // In the report too: the trainer's own lines, or the dialog's at its top.
        QVERIFY(report.contains(QStringLiteral("20 rows for 280 weights")));
        // No held-out rows: the view shows the rows trained on, and says so.
        QCOMPARE(dlg.HeldOut().RowCount(), std::size_t{20});
        QVERIFY(dlg.findChild<QLabel*>(QStringLiteral("heldOutTitle"))
                    ->text()
                    .startsWith(QStringLiteral("No held-out rows")));

        result.warnings.clear();
        TrainDlgTestSeam::Finish(dlg, std::vector<TrainingRow>(20), result);
        QVERIFY(!warnings->isVisible());
    }

    // ---- The models, without widgets ----

    void heldOutModelFindsTheFailingOutput() {
        // All-zero weights: every output is the sigmoid's middle, whatever the inputs.
        const ModuleWeights zero{};
        const int middle = EvaluateInt(NetInputs{}, zero)[0];
        std::vector<TrainingRow> rows(4);
        for (std::size_t r = 0; r < rows.size(); ++r) {
            rows[r].out.fill(static_cast<std::uint8_t>(middle));
            rows[r].in.fill(static_cast<std::uint8_t>(r * 50));
        }
        rows[1].out[5] = static_cast<std::uint8_t>(middle - 40);  // out6 fails on row 2
        rows[3].out[5] = static_cast<std::uint8_t>(middle + 30);  // and on row 4
        rows[2].out[0] = static_cast<std::uint8_t>(middle + 60);  // row 3: not judged below
        HeldOutModel model;
        model.Compute(rows, {0, 1, 3}, zero);
        QCOMPARE(model.RowCount(), std::size_t{3});
        QCOMPARE(model.WorstOutput(), 5);
        QCOMPARE(model.Outputs()[5].maxError, 40);
        QCOMPARE(model.Outputs()[5].rmse, std::sqrt((40.0 * 40 + 30.0 * 30) / 3));
        QCOMPARE(model.Outputs()[0].rmse, 0.0);
        const auto worst = model.WorstRows(5);
        QCOMPARE(worst.size(), std::size_t{2});
        QCOMPARE(worst[0].row, std::size_t{1});
        QCOMPARE(worst[0].output, 5);
        QCOMPARE(worst[0].predicted, middle);
        QCOMPARE(worst[1].row, std::size_t{3});
    }

    void progressNeverGoesBackAndTellsTheTimeLeft() {
        TrainingProgressModel p;
        p.Start();
        p.Update(0.25, 10.0);
        QCOMPARE(p.Permille(), 250);
        QCOMPARE(*p.SecondsLeft(), 30.0);
        QCOMPARE(p.Text(), QStringLiteral("25 %, about 30 s left"));
        p.Update(0.10, 11.0);  // a stage that reports from behind
        QCOMPARE(p.Permille(), 250);
        p.Update(1.0, 12.0);  // the final figures of a run stopped here
        p.Finish(true, 11.5);
        QCOMPARE(p.Permille(), 250);
        QCOMPARE(p.Text(), QStringLiteral("Stopped at 25 % after 12 s"));
        p.Start();
        p.Update(0.5, 1.0);
        p.Finish(false, 1.2);
        QCOMPARE(p.Permille(), 1000);
        QCOMPARE(p.Text(), QStringLiteral("Done in 1 s"));

        TrainingCurveModel curve;
        curve.Add({TrainingStage::Float, 1, 0.4, 12.0, 21.3, 1.0});
        curve.Add({TrainingStage::Module, 2, 0.3, 8.0, 17.0, 2.0});
        QCOMPARE(curve.Points()[1].workPercent, 40.0);
        QCOMPARE(curve.Top(), 25.0);
        curve.SetHeldOut(false);
        QCOMPARE(curve.Top(), 15.0);
        curve.Add({TrainingStage::Module, 3, 1.0, 7.0, 16.0, 3.0});
        curve.EndedEarly();
        QCOMPARE(curve.Points().back().workPercent, 40.0);
    }

private:
    // Trains on the test's rows within the work budget.
    void Train(CTrainDlg& dlg) {
        dlg.SetFiles({m_file});
        dlg.OnTrainOrStop();
        QVERIFY(dlg.Training());
        QTRY_VERIFY_WITH_TIMEOUT(!dlg.Training(), kRunGuardMs);
        QVERIFY(dlg.Result().has_value());
    }

    QTemporaryDir m_dir;
    QString m_file;
};

QTEST_MAIN(TrainDlgTest)
#include "train_dlg_test.moc"
