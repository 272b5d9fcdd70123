#pragma once
// Dialog seams for the window benchmarks: the load command gets one file; nothing
// else is asked, and a message goes to stderr under the benchmark's name.

#include <QString>
#include <cstdio>
#include <utility>

#include "ui/dialog_seams.h"

class LoadSeams final : public DialogSeams {
public:
    LoadSeams(const char* program, QString path) : m_program(program), m_path(std::move(path)) {}
    QString GetOpenFileName(QWidget*, const QString&) override { return m_path; }
    QString GetSaveFileName(QWidget*, const QString&) override { return {}; }
    FlashBankChoice RunFlashBankDialog(QWidget*) override { return {}; }
    void RunFileFormatDialog(QWidget*) override {}
    void ShowMessage(QWidget*, const QString& text) override {
        std::fprintf(stderr, "%s: %s\n", m_program, qPrintable(text));
    }

private:
    const char* m_program;
    QString m_path;
};
