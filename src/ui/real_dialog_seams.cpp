#include <QCoreApplication>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QMessageBox>

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

class QtDialogSeams final : public DialogSeams {
public:
    QString GetOpenFileName(QWidget* parent, const QString& defaultSuffix) override {
        QFileDialog dialog(parent);
        SetUpFileDialog(dialog, QFileDialog::AcceptOpen, QFileDialog::ExistingFile, defaultSuffix);
        if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) return {};
        return dialog.selectedFiles().constFirst();
    }

    QString GetOpenImageFileName(QWidget* parent) override {
        QFileDialog dialog(parent);
        SetUpFileDialog(dialog, QFileDialog::AcceptOpen, QFileDialog::ExistingFile,
                        QStringLiteral("s19"));
        dialog.setNameFilters({QStringLiteral("*.s19 *.hex"), QStringLiteral("*")});
        if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) return {};
        return dialog.selectedFiles().constFirst();
    }

    QString GetSaveFileName(QWidget* parent, const QString& defaultSuffix) override {
        return AskForSaveName(parent, defaultSuffix, true);
    }

    QString GetRecordFileName(QWidget* parent) override {
        // A recording appends, so choosing a file that exists loses nothing.
        return AskForSaveName(parent, QStringLiteral("txt"), false);
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

private:
    QString AskForSaveName(QWidget* parent, const QString& defaultSuffix, bool confirmOverwrite) {
        QFileDialog dialog(parent);
        SetUpFileDialog(dialog, QFileDialog::AcceptSave, QFileDialog::AnyFile, defaultSuffix);
        dialog.setOption(QFileDialog::DontConfirmOverwrite, !confirmOverwrite);
        for (;;) {
            if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) return {};
            const QString path = dialog.selectedFiles().constFirst();
            // A name in a folder that does not exist is refused, as the classic save
            // dialog does, instead of failing later on the write.
            const QDir folder = QFileInfo(path).absoluteDir();
            if (folder.exists()) return path;
            ShowMessage(parent, QStringLiteral("The folder %1 does not exist.")
                                    .arg(QDir::toNativeSeparators(folder.path())));
        }
    }
};

}  // namespace

DialogSeams& RealDialogSeams() {
    static QtDialogSeams seams;
    return seams;
}
