#include "ui/quantization_dlg.h"

#include <QDialogButtonBox>
#include <QFile>
#include <QFontDatabase>
#include <QFontMetrics>
#include <QGuiApplication>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScreen>
#include <QScrollBar>
#include <QVBoxLayout>
#include <algorithm>
#include <sstream>

#include "files/replace_file.h"
#include "network/quantization.h"
#include "ui/dialog_seams.h"

CQuantizationDlg::CQuantizationDlg(const FileWeights& fileWeights, DialogSeams& seams,
                                   QWidget* parent)
    : QDialog(parent), m_seams(seams) {
    setWindowTitle(QStringLiteral("Quantization report"));
    std::ostringstream report;
    WriteQuantizationReport(report, RandomQuantizationReport(fileWeights, kDefaultReportVectors,
                                                             UniformInputs::kDefaultSeed));
    m_report = report.str();

    m_text = new QPlainTextEdit(this);
    m_text->setObjectName(QStringLiteral("IDC_REPORT"));
    m_text->setReadOnly(true);  // still selectable and copyable
    // The columns line up only in a fixed-pitch font; ask for one in every way Qt knows.
    QFont font = QFontDatabase::systemFont(QFontDatabase::FixedFont);
    font.setStyleHint(QFont::Monospace);
    font.setFixedPitch(true);
    m_text->setFont(font);
    m_text->setPlainText(QString::fromStdString(m_report));
    // No horizontal scrolling: the box is made wide enough for the longest line
    // below, and a screen too narrow for it wraps the lines instead.
    m_text->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    m_text->setLineWrapMode(QPlainTextEdit::WidgetWidth);

    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok, this);
    QPushButton* save = buttons->addButton(QStringLiteral("Save..."), QDialogButtonBox::ActionRole);
    save->setObjectName(QStringLiteral("IDC_REPORT_SAVE"));
    connect(save, &QPushButton::clicked, this, &CQuantizationDlg::OnSave);
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);

    auto* layout = new QVBoxLayout(this);
    layout->addWidget(m_text);
    layout->addWidget(buttons);

    // Wide and tall enough for the whole report, where the screen allows.
    const QFontMetrics metrics(m_text->font());
    int longest = 0;
    for (const QString& line : m_text->toPlainText().split(QLatin1Char('\n'))) {
        longest = std::max(longest, metrics.horizontalAdvance(line));
    }
    const int frame = 2 * m_text->frameWidth() + 2 * int(m_text->document()->documentMargin()) +
                      m_text->verticalScrollBar()->sizeHint().width() +
                      layout->contentsMargins().left() + layout->contentsMargins().right() +
                      metrics.horizontalAdvance(QLatin1Char('x'));
    int width = longest + frame;
    int height = metrics.lineSpacing() * 48;
    if (const QScreen* screen = parent ? parent->screen() : QGuiApplication::primaryScreen()) {
        width = std::min(width, screen->availableGeometry().width());
        height = std::min(height, screen->availableGeometry().height() * 9 / 10);
    }
    resize(width, height);
}

void CQuantizationDlg::OnSave() {
    const QString path = m_seams.GetSaveFileName(this, QStringLiteral("txt"));
    if (path.isEmpty()) return;
    const FileResult result =
        WriteWholeFile(QFile::encodeName(path).toStdString(), [this](std::ostream& out) {
            // Like every text file of the tool, with CR LF line ends.
            for (const char c : m_report) {
                if (c == '\n') out << '\r';
                out << c;
            }
            return static_cast<bool>(out);
        }).result;
    if (result != FileResult::Ok) {
        m_seams.ShowMessage(this, QString::fromLatin1(FileResultText(result)));
    }
}
