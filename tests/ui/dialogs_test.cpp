// The small dialogs, the real message box and file dialog, the application object,
// and the coalescing of the engine's refresh requests.

#include <QCoreApplication>
#include <QFileDialog>
#include <QFileInfo>
#include <QImageReader>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <algorithm>
#include <atomic>
#include <chrono>
#include <functional>
#include <memory>
#include <thread>
#include <vector>

#include "ui/about_dlg.h"
#include "ui/dev_tool_app.h"
#include "ui/dialog_seams.h"
#include "ui/engine_update_poster.h"
#include "ui/file_format_dlg.h"
#include "ui/off_ui_thread.h"

namespace {

void Reject(QWidget* modal) {
    if (auto* dialog = qobject_cast<QDialog*>(modal)) dialog->reject();
}

// Answers modal dialogs as they come up: step k runs on the k-th modal window seen
// (a window that comes back after another counts again) and must close it.
class ModalScript : public QObject {
public:
    using Step = std::function<void(QWidget*)>;
    explicit ModalScript(std::vector<Step> steps) : m_steps(std::move(steps)) {
        connect(&m_timer, &QTimer::timeout, this, &ModalScript::Poll);
        m_timer.start(10);
    }
    [[nodiscard]] std::size_t Done() const { return m_next; }
    // Modal windows that came up after the last step (and were cancelled).
    [[nodiscard]] int Unexpected() const { return m_unexpected; }

private:
    void Poll() {
        QWidget* modal = QApplication::activeModalWidget();
        if (modal == m_last) return;
        m_last = modal;
        if (!modal) return;
        if (m_next >= m_steps.size()) {
            ++m_unexpected;
            Reject(modal);
            return;
        }
        m_steps[m_next++](modal);
        // A step that failed before closing its window must not leave the test hanging.
        if (modal->isVisible() && QApplication::activeModalWidget() == modal) Reject(modal);
    }

    std::vector<Step> m_steps;
    std::size_t m_next = 0;
    QWidget* m_last = nullptr;
    int m_unexpected = 0;
    QTimer m_timer;
};

// What the operator types into the file dialog's name box.
void TypeFileName(QFileDialog* dialog, const QString& path) {
    auto* edit = dialog->findChild<QLineEdit*>(QStringLiteral("fileNameEdit"));
    QVERIFY(edit);
    edit->setText(path);
}

QStringList TextsTopToBottom(QWidget& dialog) {
    QList<QLabel*> labels = dialog.findChildren<QLabel*>();
    std::stable_sort(labels.begin(), labels.end(),
                     [](QLabel* a, QLabel* b) { return a->y() < b->y(); });
    QStringList texts;
    for (QLabel* label : labels) {
        if (!label->text().isEmpty()) texts << label->text();
    }
    return texts;
}

// Labels whose text does not fit lose their last words on screen.
void VerifyLabelsFit(QWidget& dialog) {
    for (QLabel* label : dialog.findChildren<QLabel*>()) {
        if (label->text().isEmpty()) continue;
        QVERIFY2(label->width() >= label->fontMetrics().horizontalAdvance(label->text()),
                 qPrintable(label->text()));
        QVERIFY2(label->geometry().right() < dialog.width(), qPrintable(label->text()));
    }
}

class CountingTarget : public QObject {
public:
    std::atomic<int> received{0};
    EngineUpdatePoster* poster = nullptr;

protected:
    void customEvent(QEvent* event) override {
        if (event->type() != kEngineUpdateEvent) return;
        ++received;
        poster->Acknowledge();
    }
};

}  // namespace

class DialogsTest : public QObject {
    Q_OBJECT

private slots:
    void application();
    void aboutBox();
    void aboutBoxEndings_data();
    void aboutBoxEndings();
    void fileFormatNotice();
    void messageBox();
    void openFileDialog();
    void saveFileDialog();
    void refreshRequestsCoalesce();
    void detachedPosterPostsNothing();
    void aReadOffTheUiThreadLetsTheWindowRun();
};

void DialogsTest::application() {
    // The caption of every message box is the executable's name.
    QCOMPARE(QCoreApplication::applicationName(),
             QFileInfo(QCoreApplication::applicationFilePath()).fileName());
    QCOMPARE(QCoreApplication::applicationVersion(), QStringLiteral("1.0.0.1"));
    const QIcon icon = QApplication::windowIcon();
    QVERIFY(!icon.isNull());
    QVERIFY(icon.availableSizes().contains(QSize(16, 16)));
    QVERIFY(icon.availableSizes().contains(QSize(32, 32)));
    // Drawn from the scalable picture for screens at scale 2, where Qt reads SVG.
    if (QImageReader::supportedImageFormats().contains("svg")) {
        QVERIFY(icon.availableSizes().contains(QSize(64, 64)));
    }
}

void DialogsTest::aboutBox() {
    CAboutDlg about;
    QCOMPARE(about.windowTitle(), QStringLiteral("About Pelkora"));
    QCOMPARE(TextsTopToBottom(about), (QStringList{QStringLiteral("Pelkora Development Tool"),
                                                   QStringLiteral("Version 1.0a")}));
    const auto labels = about.findChildren<QLabel*>();
    const bool hasIcon = std::any_of(labels.begin(), labels.end(), [](QLabel* label) {
        return !label->pixmap().isNull() && label->pixmap().size() == QSize(32, 32);
    });
    QVERIFY(hasIcon);
    VerifyLabelsFit(about);
    QVERIFY(about.windowFlags() & Qt::WindowCloseButtonHint);
    QVERIFY(!(about.windowFlags() & Qt::WindowMinMaxButtonsHint));
}

void DialogsTest::aboutBoxEndings_data() {
    QTest::addColumn<int>("key");
    QTest::addColumn<int>("result");
    QTest::newRow("enter presses OK") << int(Qt::Key_Return) << int(QDialog::Accepted);
    QTest::newRow("escape cancels") << int(Qt::Key_Escape) << int(QDialog::Rejected);
}

void DialogsTest::aboutBoxEndings() {
    QFETCH(int, key);
    QFETCH(int, result);
    for (int kind = 0; kind < 2; ++kind) {
        std::unique_ptr<QDialog> dialog;
        if (kind == 0) {
            dialog = std::make_unique<CAboutDlg>();
        } else {
            dialog = std::make_unique<CFileFormatDlg>();
        }
        QTimer::singleShot(0, dialog.get(), [&dialog, key] {
            QTest::keyClick(dialog.get(), static_cast<Qt::Key>(key));
        });
        QCOMPARE(dialog->exec(), result);
    }
}

void DialogsTest::fileFormatNotice() {
    CFileFormatDlg notice;
    QCOMPARE(notice.windowTitle(), QStringLiteral("File format"));
    // Read from top to bottom; the wording, spelling included, is the operator's.
    const QStringList expected = {
        QStringLiteral("Warning !"),
        QStringLiteral("The file format of the input ASCII net file must be the following :"),
        QStringLiteral("- 280 lines, each line including only one signed long decimal value"),
        QStringLiteral(
            "- First 144 lines (16x9) represents the weights between the 8 inputs plus bias"),
        QStringLiteral(
            "  and  the 16 hidden neurons (first in1 to hidden1, then in1 to hidden2, etc)"),
        QStringLiteral(
            "- Next 136 (8x17) lines represents the weights between the 16 hidden neurons"),
        QStringLiteral("  plus biais and the 8 output neurons"),
        QStringLiteral("- Input values shoud be normalized from 0 to 10000"),
        QStringLiteral(
            "- Each weight is an integer number, egal to the float weigth multiplied by 10 to "
            "power 11"),
    };
    QCOMPARE(TextsTopToBottom(notice), expected);
    VerifyLabelsFit(notice);
    const auto buttons = notice.findChildren<QPushButton*>();
    QCOMPARE(buttons.size(), 1);
    QCOMPARE(buttons.front()->text(), QStringLiteral("OK"));
    QVERIFY(buttons.front()->isDefault());
}

void DialogsTest::messageBox() {
    QWidget owner;
    bool checked = false;
    ModalScript script({[&](QWidget* modal) {
        Reject(modal);
        auto* box = qobject_cast<QMessageBox*>(modal);
        QVERIFY(box);
        QCOMPARE(box->windowTitle(), QCoreApplication::applicationName());
        QCOMPARE(box->text(), QStringLiteral("Error reading file"));
        QCOMPARE(box->icon(), QMessageBox::NoIcon);
        QCOMPARE(box->standardButtons(), QMessageBox::StandardButtons(QMessageBox::Ok));
        QCOMPARE(box->parentWidget(), &owner);
        checked = true;
    }});
    RealDialogSeams().ShowMessage(&owner, QStringLiteral("Error reading file"));
    QVERIFY(checked);
}

void DialogsTest::openFileDialog() {
    bool checked = false;
    ModalScript script({[&](QWidget* modal) {
        Reject(modal);
        auto* dialog = qobject_cast<QFileDialog*>(modal);
        QVERIFY(dialog);
        QCOMPARE(dialog->fileMode(), QFileDialog::ExistingFile);
        QCOMPARE(dialog->acceptMode(), QFileDialog::AcceptOpen);
        QCOMPARE(dialog->defaultSuffix(), QStringLiteral("txt"));
        QCOMPARE(dialog->selectedNameFilter(), QStringLiteral("*.txt"));
        checked = true;
    }});
    // Cancelled: no name.
    QVERIFY(RealDialogSeams().GetOpenFileName(nullptr, QStringLiteral("txt")).isEmpty());
    QVERIFY(checked);
}

void DialogsTest::saveFileDialog() {
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString missingFolder = dir.filePath(QStringLiteral("no-such-folder/net.hex"));
    const QString good = dir.filePath(QStringLiteral("net.hex"));
    QString refusal;
    ModalScript script({
        [&](QWidget* modal) {
            auto* dialog = qobject_cast<QFileDialog*>(modal);
            QVERIFY(dialog);
            QCOMPARE(dialog->fileMode(), QFileDialog::AnyFile);
            QCOMPARE(dialog->acceptMode(), QFileDialog::AcceptSave);
            QCOMPARE(dialog->defaultSuffix(), QStringLiteral("hex"));
            QVERIFY(!dialog->testOption(QFileDialog::DontConfirmOverwrite));
            TypeFileName(dialog, missingFolder);
            static_cast<QDialog*>(dialog)->accept();  // as the Save button does
        },
        // A folder that does not exist is refused, and the dialog comes back.
        [&](QWidget* modal) {
            auto* box = qobject_cast<QMessageBox*>(modal);
            QVERIFY(box);
            refusal = box->text();
            box->accept();
        },
        [&](QWidget* modal) {
            QVERIFY(qobject_cast<QFileDialog*>(modal));
            Reject(modal);
        },
    });
    QVERIFY(RealDialogSeams().GetSaveFileName(nullptr, QStringLiteral("hex")).isEmpty());
    QCOMPARE(script.Done(), std::size_t{3});
    QCOMPARE(script.Unexpected(), 0);
    QVERIFY2(refusal.contains(QStringLiteral("no-such-folder")), qPrintable(refusal));

    // A name in an existing folder comes back as chosen.
    ModalScript accept({[&](QWidget* modal) {
        auto* dialog = qobject_cast<QFileDialog*>(modal);
        QVERIFY(dialog);
        TypeFileName(dialog, good);
        static_cast<QDialog*>(dialog)->accept();
    }});
    const QString chosen = RealDialogSeams().GetSaveFileName(nullptr, QStringLiteral("hex"));
    QCOMPARE(accept.Unexpected(), 0);
    QCOMPARE(QFileInfo(chosen).absoluteFilePath(), QFileInfo(good).absoluteFilePath());
}

void DialogsTest::refreshRequestsCoalesce() {
    CountingTarget target;
    auto poster = std::make_shared<EngineUpdatePoster>(&target);
    target.poster = poster.get();
    const EngineNotifier notify = MakeEngineNotifier(poster);

    // A UI thread that is busy while the worker notifies many times gets one event.
    std::thread worker([&notify] {
        for (int i = 0; i < 1000; ++i) notify(PassReport{});
    });
    worker.join();
    QCoreApplication::sendPostedEvents(&target);
    QCOMPARE(target.received.load(), 1);

    // Once handled, the next notification posts again.
    notify(PassReport{});
    QCoreApplication::sendPostedEvents(&target);
    QCOMPARE(target.received.load(), 2);
}

void DialogsTest::detachedPosterPostsNothing() {
    CountingTarget target;
    auto poster = std::make_shared<EngineUpdatePoster>(&target);
    target.poster = poster.get();
    const EngineNotifier notify = MakeEngineNotifier(poster);
    poster->Detach();
    notify(PassReport{});
    notify(PassReport{});
    QCoreApplication::sendPostedEvents(&target);
    QCOMPARE(target.received.load(), 0);
}

void DialogsTest::aReadOffTheUiThreadLetsTheWindowRun() {
    // The work waits for a timer of the UI thread: it ends only if the UI thread
    // keeps handling its events meanwhile (and gives up after 30 s if not).
    std::atomic<bool> ticked{false};
    QTimer::singleShot(0, [&ticked] { ticked = true; });
    const auto uiThread = std::this_thread::get_id();
    const auto [sawTick, elsewhere] = RunOffUiThread([&] {
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
        while (!ticked && std::chrono::steady_clock::now() < deadline) {
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
        return std::make_pair(ticked.load(), std::this_thread::get_id() != uiThread);
    });
    QVERIFY(sawTick);
    QVERIFY(elsewhere);
}

int main(int argc, char** argv) {
    // The real application object, so its name, version and icon are what is tested.
    CDevToolApp app(argc, argv);
    DialogsTest test;
    return QTest::qExec(&test, argc, argv);
}
#include "dialogs_test.moc"
