#pragma once
// The dialogs and message boxes that file commands open, behind one interface so
// that tests can answer them without a person. UI thread only.

#include <QString>
#include <QStringList>

#include "files/hex_net_file.h"

class QWidget;

class DialogSeams {
public:
    virtual ~DialogSeams() = default;

    // Open-file dialog for an existing file. Returns the full path, empty when cancelled.
    [[nodiscard]] virtual QString GetOpenFileName(QWidget* parent,
                                                  const QString& defaultSuffix) = 0;
    // Save-as dialog (folder must exist, confirm before overwriting); `defaultSuffix`
    // is added to a name typed without one. Full path, empty when cancelled.
    [[nodiscard]] virtual QString GetSaveFileName(QWidget* parent,
                                                  const QString& defaultSuffix) = 0;
    // Open-file dialog for a flash image (*.s19, *.hex). Full path, empty when cancelled.
    [[nodiscard]] virtual QString GetOpenImageFileName(QWidget* parent) {
        return GetOpenFileName(parent, QStringLiteral("s19"));
    }
    // Save-as dialog for a recording, which appends to a file that exists: no
    // confirmation before choosing one. Full path, empty when cancelled. The default
    // answers "cancelled", so seams that never record need not offer it.
    [[nodiscard]] virtual QString GetRecordFileName(QWidget* parent) {
        (void)parent;
        return {};
    }
    // The flash bank selection dialog, modal.
    [[nodiscard]] virtual FlashBankChoice RunFlashBankDialog(QWidget* parent) = 0;
    // The file-format notice shown before an ASCII net file is chosen, modal.
    virtual void RunFileFormatDialog(QWidget* parent) = 0;
    // Message box: caption = application name, OK only, no icon.
    virtual void ShowMessage(QWidget* owner, const QString& text) = 0;
    // A question before work could be lost: caption = application name, one push
    // button per answer, the first the default; Escape or the close box give the
    // last, which must be the answer that loses nothing. Returns the answer's index.
    // The default gives the last answer, so seams that never ask need not offer it.
    [[nodiscard]] virtual int Ask(QWidget* owner, const QString& text, const QStringList& answers) {
        (void)owner;
        (void)text;
        return static_cast<int>(answers.size()) - 1;
    }
};

// The real dialogs.
[[nodiscard]] DialogSeams& RealDialogSeams();
