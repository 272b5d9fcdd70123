#include <QCoreApplication>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QHash>
#include <QMessageBox>
#include <QPushButton>
#include <algorithm>
#include <vector>

#include "ui/dialog_seams.h"
#include "ui/file_format_dlg.h"
#include "ui/flash_bank_dlg.h"

namespace {

// Shows files of `suffix` first (the first filter is the one shown when the dialog
// opens) and adds the suffix to a name typed without one.
void SetUpFileDialog(QFileDialog& dialog, QFileDialog::AcceptMode acceptMode,
                     QFileDialog::FileMode fileMode, const QString& suffix) {
    dialog.setAcceptMode(acceptMode);
    dialog.setFileMode(fileMode);
    dialog.setNameFilters({QStringLiteral("*.%1").arg(suffix), QStringLiteral("*")});
    dialog.setDefaultSuffix(suffix);
}

// The kinds of file whose folders the dialogs remember apart.
const QString kNetFiles = QStringLiteral("net");
const QString kImages = QStringLiteral("image");
const QString kRecordings = QStringLiteral("recording");
const QString kReports = QStringLiteral("report");

class QtDialogSeams final : public DialogSeams {
public:
    QString GetOpenFileName(QWidget* parent, const QString& defaultSuffix) override {
        QFileDialog dialog(parent);
        SetUpFileDialog(dialog, QFileDialog::AcceptOpen, QFileDialog::ExistingFile, defaultSuffix);
        return Run(dialog, kNetFiles);
    }

    QString GetOpenImageFileName(QWidget* parent) override {
        QFileDialog dialog(parent);
        SetUpFileDialog(dialog, QFileDialog::AcceptOpen, QFileDialog::ExistingFile,
                        QStringLiteral("s19"));
        dialog.setNameFilters({QStringLiteral("*.s19 *.hex"), QStringLiteral("*")});
        return Run(dialog, kImages);
    }

    QString GetSaveFileName(QWidget* parent, const QString& defaultSuffix) override {
        // Flash images, or a report as text.
        return AskForSaveName(parent, defaultSuffix, true,
                              defaultSuffix == QLatin1String("txt") ? kReports : kImages);
    }

    QString GetRecordFileName(QWidget* parent) override {
        // A recording appends, so choosing a file that exists loses nothing.
        return AskForSaveName(parent, QStringLiteral("txt"), false, kRecordings);
    }

    FlashBankChoice RunFlashBankDialog(QWidget* parent) override {
        CFlashBankDlg dialog(parent);
        dialog.exec();
        return dialog.Choice();
    }

    void RunFileFormatDialog(QWidget* parent) override {
        CFileFormatDlg dialog(parent);
        dialog.exec();
    }

    void ShowMessage(QWidget* owner, const QString& text) override {
        QMessageBox box(QMessageBox::NoIcon, QCoreApplication::applicationName(), text,
                        QMessageBox::Ok, owner);
        box.exec();
    }

    int Ask(QWidget* owner, const QString& text, const QStringList& answers) override {
        QMessageBox box(QMessageBox::NoIcon, QCoreApplication::applicationName(), text,
                        QMessageBox::NoButton, owner);
        std::vector<QPushButton*> buttons;
        for (const QString& answer : answers) {
            buttons.push_back(box.addButton(answer, QMessageBox::ActionRole));
        }
        if (buttons.empty()) return -1;
        box.setDefaultButton(buttons.front());
        box.setEscapeButton(buttons.back());
        box.exec();
        const auto chosen = std::find(buttons.begin(), buttons.end(), box.clickedButton());
        return chosen == buttons.end() ? static_cast<int>(buttons.size()) - 1
                                       : static_cast<int>(chosen - buttons.begin());
    }

private:
    // Runs `dialog` in the folder of the last file of `kind` chosen in this run (the
    // tool keeps no settings, so the next run starts afresh); empty when cancelled.
    QString Run(QFileDialog& dialog, const QString& kind) {
        if (const auto folder = m_folders.constFind(kind); folder != m_folders.constEnd()) {
            dialog.setDirectory(*folder);
        }
        if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) return {};
        const QString path = dialog.selectedFiles().constFirst();
        if (QFileInfo(path).absoluteDir().exists()) {
            m_folders.insert(kind, QFileInfo(path).absolutePath());
        }
        return path;
    }

    QString AskForSaveName(QWidget* parent, const QString& defaultSuffix, bool confirmOverwrite,
                           const QString& kind) {
        QFileDialog dialog(parent);
        SetUpFileDialog(dialog, QFileDialog::AcceptSave, QFileDialog::AnyFile, defaultSuffix);
        dialog.setOption(QFileDialog::DontConfirmOverwrite, !confirmOverwrite);
        for (;;) {
            const QString path = Run(dialog, kind);
            if (path.isEmpty()) return {};
            // A name in a folder that does not exist is refused, as the classic save
            // dialog does, instead of failing later on the write.
            const QDir folder = QFileInfo(path).absoluteDir();
            if (folder.exists()) return path;
            ShowMessage(parent, QStringLiteral("The folder %1 does not exist.")
                                    .arg(QDir::toNativeSeparators(folder.path())));
        }
    }

    QHash<QString, QString> m_folders;  // kind -> folder of the last file chosen
};

}  // namespace

DialogSeams& RealDialogSeams() {
    static QtDialogSeams seams;
    return seams;
}
