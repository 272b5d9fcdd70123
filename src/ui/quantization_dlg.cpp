#include "ui/quantization_dlg.h"

#include <QDialogButtonBox>
#include <QFontDatabase>
#include <QFontMetrics>
#include <QPlainTextEdit>
#include <QVBoxLayout>
#include <sstream>

#include "network/quantization.h"

CQuantizationDlg::CQuantizationDlg(const FileWeights& fileWeights, QWidget* parent)
    : QDialog(parent) {
    setWindowTitle(QStringLiteral("Quantization report"));
    std::ostringstream report;
    WriteQuantizationReport(report, RandomQuantizationReport(fileWeights, kDefaultReportVectors,
                                                             UniformInputs::kDefaultSeed));

    m_text = new QPlainTextEdit(this);
    m_text->setObjectName(QStringLiteral("IDC_REPORT"));
    m_text->setReadOnly(true);  // still selectable and copyable
    m_text->setLineWrapMode(QPlainTextEdit::NoWrap);
    // The columns line up only in a fixed-pitch font; ask for one in every way Qt knows.
    QFont font = QFontDatabase::systemFont(QFontDatabase::FixedFont);
    font.setStyleHint(QFont::Monospace);
    font.setFixedPitch(true);
    m_text->setFont(font);
    m_text->setPlainText(QString::fromStdString(report.str()));

    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok, this);
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);

    auto* layout = new QVBoxLayout(this);
    layout->addWidget(m_text);
    layout->addWidget(buttons);

    // Wide and tall enough for the whole report without scrolling, where the screen allows.
    const QFontMetrics metrics(m_text->font());
    resize(metrics.horizontalAdvance(QLatin1Char('x')) * 100, metrics.lineSpacing() * 48);
}

QString CQuantizationDlg::ReportText() const {
    return m_text->toPlainText();
}
