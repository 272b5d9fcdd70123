// The flash bank dialog and the "Save hexadecimal net file" command, driven
// offscreen with fake file dialogs and message boxes.

#include <QButtonGroup>
#include <QComboBox>
#include <QLabel>
#include <QPushButton>
#include <QRadioButton>
#include <QTimer>
#include <QtTest>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <sstream>
#include <thread>

#include "engine/engine.h"
#include "engine_test_peer.h"
#include "files/hex_net_file.h"
#include "ui/dialog_seams.h"
#include "ui/flash_bank_dlg.h"
#include "ui/save_hex_command.h"

namespace {

namespace fs = std::filesystem;

QComboBox* Combo(CFlashBankDlg& dlg) {
    return dlg.findChild<QComboBox*>(QStringLiteral("IDC_BANK_COMBO"));
}
QRadioButton* Radio(CFlashBankDlg& dlg, const char* name) {
    return dlg.findChild<QRadioButton*>(QString::fromLatin1(name));
}
QPushButton* Button(CFlashBankDlg& dlg, const char* name) {
    return dlg.findChild<QPushButton*>(QString::fromLatin1(name));
}

// Picks a bank and a format the way an operator would.
void Choose(CFlashBankDlg& dlg, const char* bank, bool hex) {
    QComboBox* combo = Combo(dlg);
    combo->setCurrentIndex(combo->findText(QString::fromLatin1(bank)));
    QTest::mouseClick(Radio(dlg, hex ? "IDC_FORMAT_HEX" : "IDC_FORMAT_S19"), Qt::LeftButton);
}

std::string ReadAll(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

std::string Image(const ModuleWeights& weights, std::uint16_t start, HexFileFormat format) {
    std::ostringstream out;
    if (!WriteHexNetFile(out, weights, start, format)) return {};
    return out.str();
}

class FakeSeams : public DialogSeams {
public:
    FlashBankChoice choice;
    QString savePath;
    int flashBankCalls = 0;
    QStringList saveSuffixes;
    QStringList messages;

    QString GetOpenFileName(QWidget*, const QString&) override { return {}; }
    QString GetSaveFileName(QWidget*, const QString& defaultSuffix) override {
        saveSuffixes << defaultSuffix;
        return savePath;
    }
    FlashBankChoice RunFlashBankDialog(QWidget*) override {
        ++flashBankCalls;
        return choice;
    }
    void RunFileFormatDialog(QWidget*) override {}
    void ShowMessage(QWidget*, const QString& text) override { messages << text; }
};

// The engine the save command exports from (the window passes its own); its
// worker is never started.
Engine& TestEngine() {
    static Engine engine;
    return engine;
}
SharedState& TestState() {
    return EngineTestPeer::State(TestEngine());
}

void SetModuleWeights(const ModuleWeights& weights) {
    const std::lock_guard<std::recursive_mutex> lock(TestState().hMutex);
    TestState().sModuleWeights = weights;
}

ModuleWeights Ramp(std::int16_t offset) {
    ModuleWeights weights{};
    for (int n = 0; n < NET_WEIGHT_COUNT; ++n)
        weights[n] = static_cast<std::int16_t>(n * 97 - offset);
    return weights;
}

}  // namespace

class FilesUiTest : public QObject {
    Q_OBJECT

private:
    fs::path dir_;

private slots:
    void init() {
        dir_ = fs::temp_directory_path() / ("pelkora-files-ui-" + std::to_string(::getpid()));
        fs::remove_all(dir_);
        fs::create_directories(dir_);
        SetModuleWeights(ModuleWeights{});
    }
    void cleanup() { fs::remove_all(dir_); }

    void dialogLooksLikeItsTemplate() {
        CFlashBankDlg dlg;
        QCOMPARE(dlg.windowTitle(), QStringLiteral("Flash bank memory selection"));
        QComboBox* combo = Combo(dlg);
        QVERIFY(combo);
        QVERIFY(!combo->isEditable());  // so OK always has a bank to read
        QStringList banks;
        for (int n = 0; n < combo->count(); ++n) banks << combo->itemText(n);
        QCOMPARE(banks, (QStringList{"B000", "B400", "B800", "BC00", "C000", "C400", "C800", "CC00",
                                     "D000", "D400", "D800", "DC00"}));
        QStringList texts;
        for (QLabel* label : dlg.findChildren<QLabel*>()) texts << label->text();
        QVERIFY(texts.contains(QStringLiteral("Select flash bank memory to use :")));
        QVERIFY(texts.contains(QStringLiteral("(The Pelkora will use the last non-empty block)")));
        QVERIFY(texts.contains(QStringLiteral("File format :")));
        QCOMPARE(Radio(dlg, "IDC_FORMAT_S19")->text(), QStringLiteral("S19"));
        QCOMPARE(Radio(dlg, "IDC_FORMAT_HEX")->text(), QStringLiteral("Hex"));
        QVERIFY(Button(dlg, "IDC_BANK_OK")->isDefault());
        QCOMPARE(Button(dlg, "IDC_BANK_CANCEL")->text(), QStringLiteral("Cancel"));
        // OK sits right of Cancel, both under the format line, inside the window.
        QVERIFY(Button(dlg, "IDC_BANK_OK")->x() > Button(dlg, "IDC_BANK_CANCEL")->x());
        QVERIFY(Button(dlg, "IDC_BANK_OK")->geometry().bottom() < dlg.height());
        QVERIFY(Radio(dlg, "IDC_FORMAT_HEX")->x() > Radio(dlg, "IDC_FORMAT_S19")->x());
        QVERIFY(Button(dlg, "IDC_BANK_OK")->y() > Radio(dlg, "IDC_FORMAT_S19")->y());
    }

    void dialogResults_data() {
        QTest::addColumn<QString>("bank");
        QTest::addColumn<bool>("hex");
        QTest::addColumn<QString>("close");  // how the dialog ends
        QTest::addColumn<bool>("confirmed");
        QTest::addColumn<int>("address");
        QTest::addColumn<int>("format");
        QTest::newRow("OK untouched") << "" << false << "ok" << true << 0xB000 << int(FORMAT_S19);
        QTest::newRow("DC00 Hex") << "DC00" << true << "ok" << true << 0xDC00 << int(FORMAT_HEX);
        QTest::newRow("C400 S19") << "C400" << false << "ok" << true << 0xC400 << int(FORMAT_S19);
        QTest::newRow("Enter") << "B400" << true << "enter" << true << 0xB400 << int(FORMAT_HEX);
        QTest::newRow("Cancel") << "DC00" << true << "cancel" << false << 0 << 0;
        QTest::newRow("Enter on Cancel") << "C800" << true << "enter cancel" << false << 0 << 0;
        QTest::newRow("Escape") << "D800" << false << "escape" << false << 0 << 0;
        QTest::newRow("close box") << "C000" << true << "close" << false << 0 << 0;
    }
    void dialogResults() {
        QFETCH(QString, bank);
        QFETCH(bool, hex);
        QFETCH(QString, close);
        QFETCH(bool, confirmed);
        QFETCH(int, address);
        QFETCH(int, format);

        CFlashBankDlg dlg;
        int ended = -1;
        QTimer::singleShot(0, &dlg, [&] {
            if (!bank.isEmpty()) Choose(dlg, bank.toLatin1().constData(), hex);
            if (close == "ok") QTest::mouseClick(Button(dlg, "IDC_BANK_OK"), Qt::LeftButton);
            if (close == "cancel") {
                QTest::mouseClick(Button(dlg, "IDC_BANK_CANCEL"), Qt::LeftButton);
            }
            if (close == "enter") {
                Button(dlg, "IDC_BANK_OK")->setFocus();
                QTest::keyClick(&dlg, Qt::Key_Return);
            }
            // Enter presses the button that has the focus.
            if (close == "enter cancel") {
                QTest::keyClick(Button(dlg, "IDC_BANK_CANCEL"), Qt::Key_Return);
            }
            if (close == "escape") QTest::keyClick(&dlg, Qt::Key_Escape);
            if (close == "close") dlg.close();
            // A dialog still open here would hang exec(): end it as a failure.
            QTimer::singleShot(0, &dlg, [&] {
                if (dlg.isVisible()) dlg.done(42);
            });
        });
        ended = dlg.exec();
        QVERIFY(ended != 42);
        QCOMPARE(ended, confirmed ? int(QDialog::Accepted) : int(QDialog::Rejected));
        const FlashBankChoice choice = dlg.Choice();
        QCOMPARE(choice.bConfirmed, confirmed);
        if (confirmed) {
            QCOMPARE(int(choice.wStartAddress), address);
            QCOMPARE(int(choice.nFormat), format);
        }
    }

    // Every showing starts afresh, and only its own OK confirms it.
    void dialogReopensAtB000AndS19() {
        CFlashBankDlg dlg;
        QTimer::singleShot(0, &dlg, [&] {
            Choose(dlg, "C400", true);
            QTest::mouseClick(Button(dlg, "IDC_BANK_OK"), Qt::LeftButton);
        });
        dlg.exec();
        QVERIFY(dlg.Choice().bConfirmed);
        QCOMPARE(int(dlg.Choice().wStartAddress), 0xC400);

        QString shownBank;
        bool s19Checked = false;
        bool okHasFocus = false;
        QTimer::singleShot(0, &dlg, [&] {
            shownBank = Combo(dlg)->currentText();
            s19Checked = Radio(dlg, "IDC_FORMAT_S19")->isChecked();
            okHasFocus = dlg.focusWidget() == Button(dlg, "IDC_BANK_OK");
            QTest::keyClick(&dlg, Qt::Key_Escape);
        });
        dlg.exec();
        QCOMPARE(shownBank, QStringLiteral("B000"));
        QVERIFY(s19Checked);
        QVERIFY(okHasFocus);
        QVERIFY(!dlg.Choice().bConfirmed);
    }

    void commandCancelledWritesAndShowsNothing() {
        FakeSeams seams;
        seams.choice.bConfirmed = false;
        seams.savePath = QString::fromStdString((dir_ / "net.s19").string());
        RunSaveHexNetFileCommand(nullptr, seams, TestEngine());
        QCOMPARE(seams.flashBankCalls, 1);
        QVERIFY(seams.saveSuffixes.isEmpty());

        seams.choice = FlashBankChoice{true, 0xD000, FORMAT_HEX};
        seams.savePath.clear();
        RunSaveHexNetFileCommand(nullptr, seams, TestEngine());
        QCOMPARE(seams.saveSuffixes, QStringList{QStringLiteral("hex")});

        QVERIFY(seams.messages.isEmpty());
        QVERIFY(fs::is_empty(dir_));
    }

    void commandWritesTheModuleWeights_data() {
        QTest::addColumn<int>("address");
        QTest::addColumn<int>("format");
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("suffix");
        QTest::newRow("B000 S19") << 0xB000 << int(FORMAT_S19) << "net.s19"
                                  << "s19";
        QTest::newRow("DC00 Hex") << 0xDC00 << int(FORMAT_HEX) << "net one.hex"
                                  << "hex";
    }
    void commandWritesTheModuleWeights() {
        QFETCH(int, address);
        QFETCH(int, format);
        QFETCH(QString, name);
        QFETCH(QString, suffix);
        const ModuleWeights weights = Ramp(1073);
        SetModuleWeights(weights);
        const fs::path path = dir_ / name.toStdString();
        std::ofstream(path, std::ios::binary) << "an older, longer file that gets replaced\r\n";

        FakeSeams seams;
        seams.choice = FlashBankChoice{true, static_cast<std::uint16_t>(address),
                                       static_cast<HexFileFormat>(format)};
        seams.savePath = QString::fromStdString(path.string());
        RunSaveHexNetFileCommand(nullptr, seams, TestEngine());

        QCOMPARE(seams.saveSuffixes, QStringList{suffix});
        const QString expected = QStringLiteral("Weights saved in file ") + seams.savePath +
                                 QStringLiteral(", start adress ") +
                                 QString::asprintf("%4.4X", unsigned(address));
        QCOMPARE(seams.messages, QStringList{expected});
        QCOMPARE(ReadAll(path), Image(weights, static_cast<std::uint16_t>(address),
                                      static_cast<HexFileFormat>(format)));
        // The lock is free again for the worker.
        bool lockFree = false;
        std::thread([&] {
            lockFree = TestState().hMutex.try_lock();
            if (lockFree) TestState().hMutex.unlock();
        }).join();
        QVERIFY(lockFree);
    }

    void commandFailuresShowTheirMessage_data() {
        QTest::addColumn<QString>("kind");
        QTest::addColumn<QString>("message");
        QTest::newRow("folder is a file") << "notdir"
                                          << "Error opening file";
        QTest::newRow("full device") << "full"
                                     << "Error writing file";
    }
    void commandFailuresShowTheirMessage() {
        QFETCH(QString, kind);
        QFETCH(QString, message);
        fs::path path;
        if (kind == "notdir") {
            std::ofstream(dir_ / "plain") << "x";
            path = dir_ / "plain" / "net.s19";
        } else {
            if (!fs::exists("/dev/full")) QSKIP("no /dev/full");
            fs::create_symlink("/dev/full", dir_ / "full.s19");
            path = dir_ / "full.s19";
        }
        FakeSeams seams;
        seams.choice = FlashBankChoice{true, 0xB000, FORMAT_S19};
        seams.savePath = QString::fromStdString(path.string());
        RunSaveHexNetFileCommand(nullptr, seams, TestEngine());
        QCOMPARE(seams.messages, QStringList{message});
    }

    // The weights are read under the state lock: a holder that changes them before
    // letting go decides what is exported.
    void commandReadsTheWeightsUnderTheLock() {
        SetModuleWeights(Ramp(0));
        std::mutex started;
        std::unique_lock<std::mutex> gate(started);
        bool holding = false;
        std::condition_variable holdingChanged;
        std::thread holder([&] {
            const std::lock_guard<std::recursive_mutex> lock(TestState().hMutex);
            {
                const std::lock_guard<std::mutex> g(started);
                holding = true;
            }
            holdingChanged.notify_one();
            std::this_thread::sleep_for(std::chrono::milliseconds(100));
            TestState().sModuleWeights = Ramp(500);
        });
        holdingChanged.wait(gate, [&] { return holding; });
        gate.unlock();

        FakeSeams seams;
        seams.choice = FlashBankChoice{true, 0xB000, FORMAT_S19};
        seams.savePath = QString::fromStdString((dir_ / "net.s19").string());
        RunSaveHexNetFileCommand(nullptr, seams, TestEngine());
        holder.join();
        QCOMPARE(ReadAll(dir_ / "net.s19"), Image(Ramp(500), 0xB000, FORMAT_S19));
    }
};

QTEST_MAIN(FilesUiTest)
#include "files_ui_test.moc"
