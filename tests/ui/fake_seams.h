#pragma once
// Dialog seams that answer without a person and remember what was asked.

#include <QString>
#include <QStringList>

#include "ui/dialog_seams.h"

class FakeSeams final : public DialogSeams {
public:
    QString openAnswer;  // what the open-file dialog returns; empty = cancelled
    QString saveAnswer;
    QString recordAnswer;  // what the recording's file dialog returns
    FlashBankChoice flashBankAnswer;

    int fileFormatShown = 0;
    int openAsked = 0;
    QString openSuffix;
    QStringList messages;

    QString GetOpenFileName(QWidget*, const QString& defaultSuffix) override {
        ++openAsked;
        openSuffix = defaultSuffix;
        return openAnswer;
    }
    QString GetSaveFileName(QWidget*, const QString&) override { return saveAnswer; }
    QString GetRecordFileName(QWidget*) override { return recordAnswer; }
    FlashBankChoice RunFlashBankDialog(QWidget*) override { return flashBankAnswer; }
    void RunFileFormatDialog(QWidget*) override { ++fileFormatShown; }
    void ShowMessage(QWidget*, const QString& text) override { messages << text; }
    // Questions asked, and the answers to give in turn (index into the answers);
    // none left: the last answer, which loses nothing.
    QStringList questions;
    QList<int> askAnswers;
    int Ask(QWidget*, const QString& text, const QStringList& answers) override {
        questions << text;
        if (!askAnswers.isEmpty()) return askAnswers.takeFirst();
        return static_cast<int>(answers.size()) - 1;
    }
};
