#pragma once
// The quantization report of a weight set in a modal box whose text can be
// selected, copied and saved as a text file. UI thread only; the caller hands in a
// copy of the weights.

#include <QDialog>
#include <string>

#include "network/weights.h"

class DialogSeams;
class QPlainTextEdit;

class CQuantizationDlg : public QDialog {
    Q_OBJECT
public:
    // The report over the standard random vectors (10000, seed 1), as
    // `pelkora-cli quantize` gives by default; computed here, in a few milliseconds.
    // "Save..." asks for the file through `seams`, which must outlive the box.
    CQuantizationDlg(const FileWeights& fileWeights, DialogSeams& seams, QWidget* parent = nullptr);

private:
    void OnSave();

    DialogSeams& m_seams;
    std::string m_report;  // the text as pelkora-cli quantize writes it
    QPlainTextEdit* m_text = nullptr;
};
