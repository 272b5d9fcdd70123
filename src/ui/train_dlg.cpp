#include "ui/train_dlg.h"

#include <QCoreApplication>
#include <QDialogButtonBox>
#include <QDir>
#include <QDoubleSpinBox>
#include <QFile>
#include <QFileDialog>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QListWidget>
#include <QPainter>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QSpinBox>
#include <QVBoxLayout>
#include <sstream>

#include "files/flash_image_reader.h"
#include "network/net_file_reader.h"
#include "network/net_file_writer.h"
#include "files/replace_file.h"
#include "files/training_rows.h"
#include "network/training/training_report.h"

// ---- Curve ------------------------------------------------------------------

CTrainingCurve::CTrainingCurve(QWidget* parent) : QWidget(parent) {
    setMinimumSize(320, 140);
    setObjectName(QStringLiteral("curve"));
}

void CTrainingCurve::Clear() {
    m_points.clear();
    update();
}

void CTrainingCurve::Add(double train, double heldOut) {
    m_points.emplace_back(train, heldOut);
    update();
}

void CTrainingCurve::paintEvent(QPaintEvent*) {
    QPainter p(this);
    p.fillRect(rect(), palette().base());
    const QRectF plot = QRectF(rect()).adjusted(40, 10, -10, -22);
    p.setPen(palette().text().color());
    p.drawRect(plot);
    double top = 1.0;
    for (const QPointF& v : m_points) top = std::max({top, v.x(), v.y()});
    p.drawText(QRectF(0, plot.top() - 6, 36, 14), Qt::AlignRight, QString::number(top, 'f', 1));
    p.drawText(QRectF(0, plot.bottom() - 8, 36, 14), Qt::AlignRight, QStringLiteral("0"));
    p.drawText(QRectF(plot.left(), plot.bottom() + 4, plot.width(), 16), Qt::AlignLeft,
               QStringLiteral("module RMSE (LSB):  training (blue), held out (orange)"));
    if (m_points.size() < 2) return;
    p.setRenderHint(QPainter::Antialiasing);
    const double dx = plot.width() / static_cast<double>(m_points.size() - 1);
    for (int series = 0; series < 2; ++series) {
        QPolygonF line;
        for (std::size_t n = 0; n < m_points.size(); ++n) {
            const double v = series == 0 ? m_points[n].x() : m_points[n].y();
            line << QPointF(plot.left() + dx * static_cast<double>(n),
                            plot.bottom() - plot.height() * v / top);
        }
        p.setPen(QPen(series == 0 ? QColor(31, 119, 180) : QColor(255, 127, 14), 1.5));
        p.drawPolyline(line);
    }
}

// ---- Dialog -------------------------------------------------------------------

CTrainDlg::CTrainDlg(QWidget* parent, UseWeights useWeights)
    : QDialog(parent), m_useWeights(std::move(useWeights)) {
    setWindowTitle(QStringLiteral("Train network"));
    m_saveFileName = [](QWidget* owner) {
        return QFileDialog::getSaveFileName(owner, QStringLiteral("Save as ASCII net file"),
                                            QStringLiteral("net.txt"));
    };

    m_files = new QListWidget(this);
    m_files->setObjectName(QStringLiteral("files"));
    m_files->setSelectionMode(QAbstractItemView::ExtendedSelection);
    m_files->setMaximumHeight(90);
    auto* add = new QPushButton(QStringLiteral("Add files..."), this);
    auto* remove = new QPushButton(QStringLiteral("Remove"), this);
    m_holdout = new QDoubleSpinBox(this);
    m_holdout->setRange(0.0, 0.9);
    m_holdout->setSingleStep(0.05);
    m_holdout->setValue(0.2);
    m_seed = new QSpinBox(this);
    m_seed->setRange(0, 2147483647);
    m_seed->setValue(1);
    m_train = new QPushButton(QStringLiteral("&Train"), this);
    m_train->setObjectName(QStringLiteral("train"));
    m_progress = new QProgressBar(this);
    m_progress->setRange(0, 1000);
    m_progress->setValue(0);
    m_status = new QLabel(this);
    m_curve = new CTrainingCurve(this);
    m_report = new QPlainTextEdit(this);
    m_report->setReadOnly(true);
    m_report->setObjectName(QStringLiteral("report"));
    QFont mono(QStringLiteral("monospace"));
    mono.setStyleHint(QFont::TypeWriter);
    m_report->setFont(mono);
    m_report->setMinimumSize(600, 300);
    m_use = new QPushButton(QStringLiteral("Use these weights"), this);
    m_use->setObjectName(QStringLiteral("use"));
    m_save = new QPushButton(QStringLiteral("Save as ASCII net file..."), this);
    m_save->setObjectName(QStringLiteral("save"));
    auto* close = new QPushButton(QStringLiteral("Close"), this);

    auto* fileButtons = new QVBoxLayout;
    fileButtons->addWidget(add);
    fileButtons->addWidget(remove);
    fileButtons->addStretch();
    auto* filesRow = new QHBoxLayout;
    filesRow->addWidget(m_files, 1);
    filesRow->addLayout(fileButtons);
    auto* form = new QFormLayout;
    form->addRow(QStringLiteral("Training files:"), filesRow);
    form->addRow(QStringLiteral("Held-out share:"), m_holdout);
    form->addRow(QStringLiteral("Seed:"), m_seed);
    auto* run = new QHBoxLayout;
    run->addWidget(m_train);
    run->addWidget(m_progress, 1);
    auto* end = new QHBoxLayout;
    end->addWidget(m_use);
    end->addWidget(m_save);
    end->addStretch();
    end->addWidget(close);
    auto* layout = new QVBoxLayout(this);
    layout->addLayout(form);
    layout->addLayout(run);
    layout->addWidget(m_status);
    layout->addWidget(m_curve, 1);
    layout->addWidget(m_report, 1);
    layout->addLayout(end);

    connect(add, &QPushButton::clicked, this, &CTrainDlg::OnAddFiles);
    connect(remove, &QPushButton::clicked, this, &CTrainDlg::OnRemoveFiles);
    connect(m_train, &QPushButton::clicked, this, &CTrainDlg::OnTrainOrStop);
    connect(m_use, &QPushButton::clicked, this, &CTrainDlg::OnUseWeights);
    connect(m_save, &QPushButton::clicked, this, &CTrainDlg::OnSaveNetFile);
    connect(close, &QPushButton::clicked, this, &CTrainDlg::reject);

    // The recorder's files in the current folder are the likely choice.
    QStringList offered;
    const QDir here = QDir::current();
    for (const QString& name :
         here.entryList({QStringLiteral("train*.txt")}, QDir::Files, QDir::Name)) {
        offered << here.filePath(name);
    }
    SetFiles(offered);
    SetIdle(true);
}

CTrainDlg::~CTrainDlg() {
    StopAndJoin();
}

void CTrainDlg::SetFiles(const QStringList& files) {
    m_files->clear();
    m_files->addItems(files);
}

void CTrainDlg::OnAddFiles() {
    const QStringList chosen =
        QFileDialog::getOpenFileNames(this, QStringLiteral("Training files"), QString(),
                                      QStringLiteral("Text files (*.txt *.tsv);;All files (*)"));
    m_files->addItems(chosen);
}

void CTrainDlg::OnRemoveFiles() {
    qDeleteAll(m_files->selectedItems());
}

void CTrainDlg::SetIdle(bool idle) {
    m_train->setText(idle ? QStringLiteral("&Train") : QStringLiteral("&Stop"));
    m_files->setEnabled(idle);
    m_holdout->setEnabled(idle);
    m_seed->setEnabled(idle);
    m_use->setEnabled(idle && m_result.has_value());
    m_save->setEnabled(idle && m_result.has_value());
}

void CTrainDlg::OnTrainOrStop() {
    if (Training()) {
        // Stop keeps the best weights so far: the thread finishes with them.
        m_stop = true;
        m_train->setEnabled(false);
        return;
    }
    std::vector<std::string> paths;
    for (int n = 0; n < m_files->count(); ++n) {
        paths.push_back(QFile::encodeName(m_files->item(n)->text()).toStdString());
    }
    TrainingRowsRead read = ReadTrainingRows(paths);
    if (read.ok && read.rows.size() < kMinTrainingRows) {
        read.ok = false;
        read.error = std::to_string(read.rows.size()) + " rows, at least " +
                     std::to_string(kMinTrainingRows) + " needed";
    }
    if (!read.ok) {
        m_report->setPlainText(QString::fromStdString(read.error));
        return;
    }
    m_rows = std::move(read.rows);
    m_result.reset();
    m_curve->Clear();
    m_report->clear();
    m_progress->setValue(0);
    m_stop = false;
    TrainingOptions options;
    options.holdout = m_holdout->value();
    options.seed = static_cast<std::uint64_t>(m_seed->value());
    SetIdle(false);
    m_thread = std::thread([this, options] {
        // Queued calls: they run on the UI thread, and Qt drops them should the
        // dialog be gone (it joins this thread first in any case).
        auto progress = [this](const TrainingProgress& p) {
            QMetaObject::invokeMethod(
                this, [this, p] { OnProgress(p); }, Qt::QueuedConnection);
        };
        TrainingResult result = TrainNetwork(m_rows, options, progress, &m_stop);
        QMetaObject::invokeMethod(
            this, [this, result] { OnFinished(result); }, Qt::QueuedConnection);
    });
}

void CTrainDlg::OnProgress(const TrainingProgress& p) {
    m_progress->setValue(static_cast<int>(p.fraction * 1000.0));
    m_status->setText(QStringLiteral("Stage %1 (%2), step %3: held-out module RMSE %4, %5 s")
                          .arg(static_cast<int>(p.stage))
                          .arg(p.stage == TrainingStage::Float ? QStringLiteral("float")
                                                               : QStringLiteral("module"))
                          .arg(p.step)
                          .arg(p.heldOutRmse, 0, 'f', 2)
                          .arg(p.elapsedSeconds, 0, 'f', 1));
    m_curve->Add(p.trainRmse, p.heldOutRmse);
}

void CTrainDlg::OnFinished(const TrainingResult& result) {
    if (m_thread.joinable()) m_thread.join();
    m_result = result;
    std::ostringstream text;
    WriteTrainingReport(text, result);
    m_report->setPlainText(QString::fromStdString(text.str()));
    m_progress->setValue(1000);
    m_train->setEnabled(true);
    SetIdle(true);
}

void CTrainDlg::OnUseWeights() {
    if (!m_result || !m_useWeights) return;
    const FileResult r = m_useWeights(m_result->weights);
    m_status->setText(r == FileResult::Ok
                          ? QStringLiteral("The engine computes with these weights now.")
                          : QString::fromLatin1(FileResultText(r)));
}

void CTrainDlg::OnSaveNetFile() {
    if (!m_result) return;
    const QString path = m_saveFileName(this);
    if (path.isEmpty()) return;
    FileReplacement file(QFile::encodeName(path).toStdString());
    FileResult r = file.Open();
    if (r == FileResult::Ok) {
        (void)WriteModuleNetFile(file.Stream(), m_result->weights);
        r = file.Commit();
    }
    m_status->setText(r == FileResult::Ok ? QStringLiteral("Saved in %1").arg(path)
                                          : QString::fromLatin1(FileResultText(r)));
}

void CTrainDlg::StopAndJoin() {
    m_stop = true;
    if (m_thread.joinable()) m_thread.join();
}

void CTrainDlg::reject() {
    StopAndJoin();
    QDialog::reject();
}

FileResult LoadTrainedWeights(Engine& engine, const ModuleWeights& weights) {
    // Through the net file's text and its reader, so that the weights arrive exactly
    // as those of a loaded file, in both forms.
    std::stringstream text;
    if (!WriteModuleNetFile(text, weights)) return FileResult::WriteFailed;
    FileWeights fileWeights{};
    if (ReadAsciiNet(text, fileWeights).status != NetReadStatus::Ok) return FileResult::ReadFailed;
    engine.LoadWeights(fileWeights);
    return FileResult::Ok;
}
