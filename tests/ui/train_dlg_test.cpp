#include <QPlainTextEdit>
#include <QPushButton>
#include <QTemporaryDir>
#include <QtTest>
#include <fstream>
#include <random>

#include "files/net_file.h"
#include "ui/train_dlg.h"

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
        std::optional<ModuleWeights> used;
        CTrainDlg dlg(nullptr, [&](const ModuleWeights& w) {
            used = w;
            return FileResult::Ok;
        });
        dlg.SetFiles({m_file});
        auto* use = dlg.findChild<QPushButton*>(QStringLiteral("use"));
        auto* save = dlg.findChild<QPushButton*>(QStringLiteral("save"));
        QVERIFY(!use->isEnabled() && !save->isEnabled());
        dlg.OnTrainOrStop();
        QVERIFY(dlg.Training());
        QTRY_VERIFY_WITH_TIMEOUT(dlg.Result().has_value(), 60000);
        QVERIFY(!dlg.Training());
        QVERIFY(use->isEnabled() && save->isEnabled());
        QVERIFY(dlg.findChild<QPlainTextEdit*>(QStringLiteral("report"))
                    ->toPlainText()
                    .contains(QStringLiteral("quantization cost")));

        QTest::mouseClick(use, Qt::LeftButton);
        QVERIFY(used.has_value());
        QCOMPARE(*used, dlg.Result()->weights);

        const QString path = m_dir.filePath(QStringLiteral("net.txt"));
        dlg.SetSaveFileName([&](QWidget*) { return path; });
        QTest::mouseClick(save, Qt::LeftButton);
        FileWeights read{};
        QCOMPARE(ReadNetFile(path.toStdString(), read), FileResult::Ok);
        QCOMPARE(DeriveModuleWeights(read), dlg.Result()->weights);
    }

    void stopKeepsTheBestAndClosingWhileTrainingJoins() {
        CTrainDlg dlg(nullptr, {});
        dlg.SetFiles({m_file});
        dlg.OnTrainOrStop();
        dlg.OnTrainOrStop();  // Stop at once
        QTRY_VERIFY_WITH_TIMEOUT(dlg.Result().has_value(), 20000);
        QVERIFY(dlg.Result()->stoppedEarly);

        auto* closing = new CTrainDlg(nullptr, {});
        closing->SetFiles({m_file});
        closing->OnTrainOrStop();
        closing->reject();  // cancel: stops and joins the thread
        QVERIFY(!closing->Training());
        delete closing;
    }

    void unreadableRowsAreReportedAndNothingStarts() {
        CTrainDlg dlg(nullptr, {});
        dlg.SetFiles({m_dir.filePath(QStringLiteral("missing.txt"))});
        dlg.OnTrainOrStop();
        QVERIFY(!dlg.Training());
        QVERIFY(dlg.findChild<QPlainTextEdit*>(QStringLiteral("report"))
                    ->toPlainText()
                    .contains(QStringLiteral("missing.txt: cannot open")));
    }

    void trainedWeightsReachTheEngineInBothForms() {
        ModuleWeights w{};
        w[0] = -1073;
        w[279] = 1073;
        w[150] = 7;
        Engine engine;
        QCOMPARE(LoadTrainedWeights(engine, w), FileResult::Ok);
        std::lock_guard lock(engine.State().hMutex);
        QCOMPARE(engine.State().sModuleWeights, w);
        QCOMPARE(engine.State().lFileWeights[0], -1073 * 2'000'000);
        QCOMPARE(engine.State().lFileWeights[150], 14'000'000);
    }

private:
    QTemporaryDir m_dir;
    QString m_file;
};

QTEST_MAIN(TrainDlgTest)
#include "train_dlg_test.moc"
