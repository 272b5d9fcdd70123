#pragma once
// The quantization report of a weight set in a modal box whose text can be
// selected and copied. UI thread only; the caller hands in a copy of the weights.

#include <QDialog>

#include "network/weights.h"

class QPlainTextEdit;

class CQuantizationDlg : public QDialog {
    Q_OBJECT
public:
    // The report over the standard random vectors (10000, seed 1), as
    // `pelkora-cli quantize` gives by default; computed here, in a few milliseconds.
    explicit CQuantizationDlg(const FileWeights& fileWeights, QWidget* parent = nullptr);

    [[nodiscard]] QString ReportText() const;

private:
    QPlainTextEdit* m_text = nullptr;
};
