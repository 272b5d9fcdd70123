#include "ui/train_dlg.h"

#include <qcustomplot.h>

#include <QCoreApplication>
#include <QDir>
#include <QDoubleSpinBox>
#include <QFile>
#include <QFileDialog>
#include <QFormLayout>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QListWidget>
#include <QPainter>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QSpinBox>
#include <QVBoxLayout>
#include <algorithm>
#include <numeric>
#include <sstream>

#ifdef __linux__
#include <sys/resource.h>
#include <unistd.h>
#endif

#include "files/replace_file.h"
#include "files/training_rows.h"
#include "network/net_file_reader.h"
#include "network/net_file_writer.h"
#include "network/training/training_report.h"
#include "ui/dialog_seams.h"

namespace {

const QColor kTrainColour(31, 119, 180);
const QColor kHeldOutColour(255, 127, 14);
const QColor kWorstColour(200, 30, 30);

// Training yields to the window and the engine's worker: on two cores a training
// that took both would hold up the passes and the refresh. Threads the trainer
// starts take this niceness from the thread that starts them.
void YieldToTheWindow() {
#ifdef __linux__
    (void)setpriority(PRIO_PROCESS, static_cast<id_t>(gettid()), 5);
#endif
}

// The file form of trained module weights, as a net file written from them reads.
std::optional<FileWeights> TrainedFileWeights(const ModuleWeights& weights) {
    std::stringstream text;
    if (!WriteModuleNetFile(text, weights)) return std::nullopt;
    FileWeights fileWeights{};
    if (ReadAsciiNet(text, fileWeights).status != NetReadStatus::Ok) return std::nullopt;
    return fileWeights;
}

bool AllZero(const FileWeights& weights) {
    return std::all_of(weights.begin(), weights.end(), [](std::int32_t w) { return w == 0; });
}

}  // namespace

// ---- Curve ------------------------------------------------------------------

CTrainingCurve::CTrainingCurve(QWidget* parent) : QWidget(parent) {
    setMinimumSize(320, 170);
    setObjectName(QStringLiteral("curve"));
    m_plot = new QCustomPlot(this);
    m_plot->setObjectName(QStringLiteral("curvePlot"));
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(m_plot);

    QFont small = font();
    small.setPointSizeF(small.pointSizeF() * 0.9);
    m_plot->xAxis->setLabel(QStringLiteral("work done (% of the planned work)"));
    m_plot->yAxis->setLabel(QStringLiteral("module RMSE (LSB)"));
    m_plot->xAxis->setLabelFont(small);
    m_plot->yAxis->setLabelFont(small);
    m_plot->xAxis->setRange(0, 100);
    for (int series = 0; series < 2; ++series) {
        QCPGraph* graph = m_plot->addGraph();
        graph->setPen(QPen(series == 0 ? kTrainColour : kHeldOutColour, 1.5));
        graph->setName(series == 0 ? QStringLiteral("training rows")
                                   : QStringLiteral("held-out rows"));
    }
    m_plot->legend->setVisible(true);
    m_plot->legend->setFont(small);
    m_plot->axisRect()->insetLayout()->setInsetAlignment(0, Qt::AlignTop | Qt::AlignRight);
    Redraw();
}

void CTrainingCurve::Clear() {
    m_model.Clear();
    Redraw();
}

void CTrainingCurve::Add(const TrainingProgress& progress) {
    m_model.Add(progress);
    Redraw();
}

void CTrainingCurve::SetHeldOut(bool heldOut) {
    m_model.SetHeldOut(heldOut);
    Redraw();
}

void CTrainingCurve::EndedEarly() {
    m_model.EndedEarly();
    Redraw();
}

void CTrainingCurve::Redraw() {
    QVector<double> x, train, held;
    for (const TrainingCurveModel::Point& p : m_model.Points()) {
        x << p.workPercent;
        train << p.train;
        held << p.heldOut;
    }
    m_plot->graph(0)->setData(x, train, true);
    m_plot->graph(1)->setData(x, m_model.HasHeldOut() ? held : QVector<double>(), true);
    m_plot->graph(1)->setVisible(m_model.HasHeldOut());
    if (m_model.HasHeldOut()) {
        m_plot->graph(1)->addToLegend();
    } else {
        m_plot->graph(1)->removeFromLegend();
    }
    m_plot->yAxis->setRange(0, m_model.Top());
    m_plot->replot(QCustomPlot::rpQueuedReplot);
}

// ---- Per-output view ----------------------------------------------------------

CHeldOutView::CHeldOutView(QWidget* parent) : QWidget(parent) {
    setObjectName(QStringLiteral("heldOutView"));
    setMinimumSize(320, 170);
}

void CHeldOutView::SetModel(const HeldOutModel& model) {
    m_model = model;
    update();
}

void CHeldOutView::paintEvent(QPaintEvent*) {
    QPainter p(this);
    p.fillRect(rect(), palette().base());
    constexpr int kColumns = 4;
    constexpr int kRows = NET_OUTPUT_COUNT / kColumns;
    const double cellW = width() / static_cast<double>(kColumns);
    const double cellH = height() / static_cast<double>(kRows);
    QFont small = font();
    small.setPointSizeF(small.pointSizeF() * 0.85);
    p.setFont(small);
    const int textH = QFontMetrics(small).height();
    const int worst = m_model.WorstOutput();
    for (int m = 0; m < NET_OUTPUT_COUNT; ++m) {
        const QRectF cell(cellW * (m % kColumns), cellH * (m / kColumns), cellW, cellH);
        const HeldOutModel::Output& out = m_model.Outputs()[m];
        const QString title =
            m_model.Empty() ? QStringLiteral("out%1").arg(m + 1)
                            : QStringLiteral("out%1  RMSE %2").arg(m + 1).arg(out.rmse, 0, 'f', 1);
        const bool isWorst = m == worst && out.rmse > 0.0;
        p.setPen(isWorst ? kWorstColour : palette().text().color());
        p.drawText(cell.adjusted(4, 1, -2, 0), Qt::AlignLeft | Qt::AlignTop, title);
        // Square plot of wanted (across) against predicted (up), 0..255 each.
        const double side = std::max(10.0, std::min(cell.width() - 8, cell.height() - textH - 6));
        const QRectF plot(cell.left() + (cell.width() - side) / 2, cell.top() + textH + 2, side,
                          side);
        p.setPen(QPen(isWorst ? kWorstColour : palette().mid().color(), isWorst ? 2 : 1));
        p.drawRect(plot);
        p.setPen(QPen(palette().mid().color(), 1, Qt::DashLine));
        p.drawLine(plot.bottomLeft(), plot.topRight());  // predicted = wanted
        p.setPen(Qt::NoPen);
        p.setBrush(kHeldOutColour);
        const double scale = side / 255.0;
        for (const HeldOutModel::Sample& s : out.samples) {
            p.drawEllipse(
                QPointF(plot.left() + s.wanted * scale, plot.bottom() - s.predicted * scale), 1.6,
                1.6);
        }
        p.setBrush(Qt::NoBrush);
    }
}

// ---- Dialog -------------------------------------------------------------------

CTrainDlg::CTrainDlg(QWidget* parent, Engine& engine, DialogSeams& seams)
    : QDialog(parent), m_engine(engine), m_seams(seams) {
    setWindowTitle(QStringLiteral("Train network"));
    setModal(false);
    m_saveFileName = [](QWidget* owner) {
        return QFileDialog::getSaveFileName(owner, QStringLiteral("Save as ASCII net file"),
                                            QStringLiteral("net.txt"));
    };

    m_files = new QListWidget(this);
    m_files->setObjectName(QStringLiteral("files"));
    m_files->setSelectionMode(QAbstractItemView::ExtendedSelection);
    m_files->setMaximumHeight(70);
    auto* add = new QPushButton(QStringLiteral("&Add files..."), this);
    auto* remove = new QPushButton(QStringLiteral("&Remove"), this);
    m_holdout = new QDoubleSpinBox(this);
    m_holdout->setObjectName(QStringLiteral("holdout"));
    m_holdout->setRange(0.0, 0.9);
    m_holdout->setSingleStep(0.05);
    m_holdout->setValue(0.2);
    m_seed = new QSpinBox(this);
    m_seed->setObjectName(QStringLiteral("seed"));
    m_seed->setRange(0, 2147483647);
    m_seed->setValue(1);
    m_timeLimit = new QDoubleSpinBox(this);
    m_timeLimit->setObjectName(QStringLiteral("timeLimit"));
    m_timeLimit->setRange(0.0, 24 * 3600.0);
    m_timeLimit->setDecimals(1);
    m_timeLimit->setSuffix(QStringLiteral(" s"));
    m_timeLimit->setSpecialValueText(QStringLiteral("none"));
    m_timeLimit->setToolTip(
        QStringLiteral("Training stops after this time and keeps the best weights so far."));
    m_train = new QPushButton(QStringLiteral("&Train"), this);
    m_train->setObjectName(QStringLiteral("train"));
    m_progress = new QProgressBar(this);
    m_progress->setObjectName(QStringLiteral("progress"));
    m_progress->setRange(0, 1000);
    m_progress->setValue(0);
    m_progress->setTextVisible(true);
    m_progress->setFormat(QString());
    m_status = new QLabel(this);
    m_status->setObjectName(QStringLiteral("status"));
    m_curve = new CTrainingCurve(this);
    m_heldOutTitle = new QLabel(QStringLiteral("Held-out rows, per output: module output "
                                               "(up) against wanted (across), 0..255"),
                                this);
    m_heldOutTitle->setObjectName(QStringLiteral("heldOutTitle"));
    m_heldOutTitle->setWordWrap(true);
    m_heldOutView = new CHeldOutView(this);
    m_warnings = new QLabel(this);
    m_warnings->setObjectName(QStringLiteral("warnings"));
    m_warnings->setWordWrap(true);
    m_warnings->setStyleSheet(QStringLiteral("QLabel { color: #a00000; font-weight: bold; }"));
    m_warnings->hide();
    m_report = new QPlainTextEdit(this);
    m_report->setReadOnly(true);
    m_report->setObjectName(QStringLiteral("report"));
    QFont mono(QStringLiteral("monospace"));
    mono.setStyleHint(QFont::TypeWriter);
    m_report->setFont(mono);
    m_report->setMinimumSize(600, 150);
    m_use = new QPushButton(QStringLiteral("&Use these weights"), this);
    m_use->setObjectName(QStringLiteral("use"));
    m_undoUse = new QPushButton(QStringLiteral("U&ndo use"), this);
    m_undoUse->setObjectName(QStringLiteral("undoUse"));
    m_undoUse->setToolTip(QStringLiteral("Puts back the weights the engine had before."));
    m_save = new QPushButton(QStringLiteral("&Save as ASCII net file..."), this);
    m_save->setObjectName(QStringLiteral("save"));
    auto* close = new QPushButton(QStringLiteral("&Close"), this);
    close->setObjectName(QStringLiteral("close"));
    // Enter in a field must not press Train or Close.
    for (QPushButton* button : {add, remove, m_train, m_use, m_undoUse, m_save, close}) {
        button->setAutoDefault(false);
    }

    auto* fileButtons = new QVBoxLayout;
    fileButtons->addWidget(add);
    fileButtons->addWidget(remove);
    fileButtons->addStretch();
    auto* filesRow = new QHBoxLayout;
    filesRow->addWidget(m_files, 1);
    filesRow->addLayout(fileButtons);
    auto* settings = new QHBoxLayout;
    for (auto [label, field] : {std::pair<const char*, QWidget*>{"&Held-out share:", m_holdout},
                                {"S&eed:", m_seed},
                                {"Time &limit:", m_timeLimit}}) {
        auto* caption = new QLabel(QString::fromLatin1(label), this);
        caption->setBuddy(field);
        settings->addWidget(caption);
        settings->addWidget(field);
    }
    settings->addStretch();
    auto* form = new QFormLayout;
    form->addRow(QStringLiteral("Training files:"), filesRow);
    form->addRow(settings);
    auto* run = new QHBoxLayout;
    run->addWidget(m_train);
    run->addWidget(m_progress, 1);
    auto* heldOut = new QVBoxLayout;
    heldOut->setSpacing(2);
    heldOut->addWidget(m_heldOutTitle);
    heldOut->addWidget(m_heldOutView, 1);
    auto* views = new QHBoxLayout;
    views->addWidget(m_curve, 1);
    views->addLayout(heldOut, 1);
    auto* end = new QHBoxLayout;
    end->addWidget(m_use);
    end->addWidget(m_undoUse);
    end->addWidget(m_save);
    end->addStretch();
    end->addWidget(close);
    auto* layout = new QVBoxLayout(this);
    layout->addLayout(form);
    layout->addLayout(run);
    layout->addWidget(m_status);
    layout->addLayout(views, 3);
    layout->addWidget(m_warnings);
    layout->addWidget(m_report, 2);
    layout->addLayout(end);

    connect(add, &QPushButton::clicked, this, &CTrainDlg::OnAddFiles);
    connect(remove, &QPushButton::clicked, this, &CTrainDlg::OnRemoveFiles);
    connect(m_train, &QPushButton::clicked, this, &CTrainDlg::OnTrainOrStop);
    connect(m_use, &QPushButton::clicked, this, &CTrainDlg::OnUseWeights);
    connect(m_undoUse, &QPushButton::clicked, this, &CTrainDlg::OnUndoUse);
    connect(m_save, &QPushButton::clicked, this, &CTrainDlg::OnSaveNetFile);
    connect(close, &QPushButton::clicked, this, &CTrainDlg::reject);

    // The recorder's files in the current folder are the likely choice. Only
    // their names are listed here; they are read on the training thread.
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
    m_train->setEnabled(true);
    m_files->setEnabled(idle);
    m_holdout->setEnabled(idle);
    m_seed->setEnabled(idle);
    m_timeLimit->setEnabled(idle);
    m_use->setEnabled(idle && m_result.has_value());
    m_save->setEnabled(idle && m_result.has_value());
    m_undoUse->setEnabled(m_undo.has_value());
}

void CTrainDlg::OnTrainOrStop() {
    if (Training()) {
        // Stop keeps the best weights so far: the thread finishes with them.
        m_stop = true;
        m_train->setEnabled(false);
        m_status->setText(QStringLiteral("Stopping: the best weights so far are kept..."));
        return;
    }
    std::vector<std::string> paths;
    for (int n = 0; n < m_files->count(); ++n) {
        paths.push_back(QFile::encodeName(m_files->item(n)->text()).toStdString());
    }
    m_result.reset();
    m_heldOut.Clear();
    m_heldOutView->SetModel(m_heldOut);
    m_curve->Clear();
    m_curve->SetHeldOut(m_holdout->value() > 0.0);
    m_report->clear();
    m_warnings->clear();
    m_warnings->hide();
    m_progressModel.Start();
    ShowProgress();
    m_status->setText(QStringLiteral("Reading the training files..."));
    m_stop = false;
    m_discard = false;
    m_options = TrainingOptions{};
    m_options.holdout = m_holdout->value();
    m_options.seed = static_cast<std::uint64_t>(m_seed->value());
    m_options.timeLimitSeconds = m_timeLimit->value();
    SetIdle(false);
    m_thread = std::thread([this, paths, options = m_options] {
        // Queued calls: they run on the UI thread, and Qt drops them should the
        // dialog be gone (it joins this thread first in any case).
        const auto notStarted = [this](const std::string& why) {
            QMetaObject::invokeMethod(
                this, [this, why = QString::fromStdString(why)] { OnNotStarted(why); },
                Qt::QueuedConnection);
        };
        YieldToTheWindow();
        TrainingRowsRead read = ReadTrainingRows(paths, {}, &m_stop);
        if (read.ok && read.rows.size() < kMinTrainingRows) {
            read.ok = false;
            read.error = std::to_string(read.rows.size()) + " rows, at least " +
                         std::to_string(kMinTrainingRows) + " needed";
        }
        if (m_stop) return notStarted("Stopped before training began.");
        if (!read.ok) return notStarted(read.error);
        m_rows = std::move(read.rows);
        auto progress = [this](const TrainingProgress& p) {
            QMetaObject::invokeMethod(
                this, [this, p] { OnProgress(p); }, Qt::QueuedConnection);
        };
        TrainingResult result = TrainNetwork(m_rows, options, progress, &m_stop);
        QMetaObject::invokeMethod(
            this, [this, result] { OnFinished(result); }, Qt::QueuedConnection);
    });
}

void CTrainDlg::ShowProgress() {
    m_progress->setValue(m_progressModel.Permille());
    m_progress->setFormat(m_progressModel.Text());
}

void CTrainDlg::OnProgress(const TrainingProgress& p) {
    if (!Training()) return;  // a late report after the end
    m_progressModel.Update(p.fraction, p.elapsedSeconds);
    ShowProgress();
    if (!m_stop) {
        m_status->setText(
            QStringLiteral("Stage %1 (%2), step %3: held-out module RMSE %4 LSB, %5 s")
                .arg(static_cast<int>(p.stage))
                .arg(p.stage == TrainingStage::Float    ? QStringLiteral("float")
                     : p.stage == TrainingStage::Module ? QStringLiteral("module")
                                                        : QStringLiteral("refit on all rows"))
                .arg(p.step)
                .arg(p.heldOutRmse, 0, 'f', 2)
                .arg(p.elapsedSeconds, 0, 'f', 1));
    }
    m_curve->Add(p);
}

void CTrainDlg::OnNotStarted(const QString& why) {
    if (m_thread.joinable()) m_thread.join();
    m_progressModel.Finish(true, 0.0);
    m_progress->setValue(0);
    m_progress->setFormat(QString());
    m_status->clear();
    m_report->setPlainText(why);
    SetIdle(true);
}

void CTrainDlg::OnFinished(const TrainingResult& result) {
    if (m_thread.joinable()) m_thread.join();
    m_progressModel.Finish(result.stoppedEarly, result.seconds);
    ShowProgress();
    if (result.stoppedEarly) m_curve->EndedEarly();
    if (m_discard) {
        m_status->setText(QStringLiteral("The run was discarded."));
        m_rows.clear();
        SetIdle(true);
        return;
    }
    m_result = result;
    ShowResult();
    m_status->setText(result.stoppedEarly
                          ? QStringLiteral("Stopped: the best weights so far are kept.")
                          : QStringLiteral("Trained."));
    SetIdle(true);
}

void CTrainDlg::ShowResult() {
    const TrainingResult& result = *m_result;
    // What each output does on rows the weights never saw, in the module's own
    // arithmetic. Without held-out rows, the rows trained on are all there is.
    std::vector<std::size_t> rowNumbers = HeldOutRowIndices(m_rows.size(), m_options);
    QString title;
    if (rowNumbers.empty()) {
        rowNumbers.resize(m_rows.size());
        std::iota(rowNumbers.begin(), rowNumbers.end(), std::size_t{0});
        title = QStringLiteral("No held-out rows: the %1 rows trained on").arg(rowNumbers.size());
    } else if (HeldOutRowsMatch(m_rows, rowNumbers, result)) {
        title = QStringLiteral("The %1 held-out rows").arg(rowNumbers.size());
    } else {
        // Never show other rows as held out.
        rowNumbers.resize(m_rows.size());
        std::iota(rowNumbers.begin(), rowNumbers.end(), std::size_t{0});
        title = QStringLiteral("All %1 rows (the held-out ones cannot be told apart)")
                    .arg(rowNumbers.size());
    }
    m_heldOut.Compute(m_rows, rowNumbers, result.weights);
    m_heldOutView->SetModel(m_heldOut);
    QString worst;
    if (const int m = m_heldOut.WorstOutput(); m >= 0) {
        worst = QStringLiteral("; worst out%1, RMSE %2 LSB")
                    .arg(m + 1)
                    .arg(m_heldOut.Outputs()[m].rmse, 0, 'f', 1);
        const auto rows = m_heldOut.WorstRows(3);
        QStringList largest;
        for (const HeldOutModel::WorstRow& w : rows) {
            largest << QStringLiteral("row %1 out%2: %3 for %4")
                           .arg(w.row + 1)
                           .arg(w.output + 1)
                           .arg(w.predicted)
                           .arg(w.wanted);
        }
        if (!largest.isEmpty()) {
            m_heldOutView->setToolTip(QStringLiteral("Largest errors: ") +
                                      largest.join(QStringLiteral("; ")));
        }
    }
    m_heldOutTitle->setText(title +
                            QStringLiteral(", per output: module output (up) against "
                                           "wanted (across)") +
                            worst);

    std::ostringstream text;
    WriteTrainingReport(text, result);
    QString report = QString::fromStdString(text.str());
    QStringList warnings;
    for (const std::string& w : result.warnings) warnings << QString::fromStdString(w);
    m_warnings->setVisible(!warnings.isEmpty());
    if (!warnings.isEmpty()) {
        m_warnings->setText(QStringLiteral("Warning: ") +
                            warnings.join(QStringLiteral("\nWarning: ")));
        // At the top of the report too, unless the report says them already.
        QString head;
        for (const QString& w : warnings) {
            if (!report.contains(w)) head += QStringLiteral("WARNING: ") + w + QLatin1Char('\n');
        }
        if (!head.isEmpty()) report = head + QLatin1Char('\n') + report;
    }
    m_report->setPlainText(report);
}

void CTrainDlg::OnUseWeights() {
    if (!m_result) return;
    const std::optional<FileWeights> trained = TrainedFileWeights(m_result->weights);
    if (!trained) {
        m_status->setText(QString::fromLatin1(FileResultText(FileResult::WriteFailed)));
        return;
    }
    const FileWeights before = m_engine.CopyFileWeights();
    if (before == *trained) {
        m_status->setText(QStringLiteral("The engine computes with these weights already."));
        return;
    }
    // A net in use (loaded or trained before) is only replaced when the operator says so.
    if (!AllZero(before) &&
        m_seams.Ask(this,
                    QStringLiteral("Replace the weights the engine computes with by the trained "
                                   "ones? \"Undo use\" brings the present ones back."),
                    {QStringLiteral("Replace"), QStringLiteral("Cancel")}) != 0) {
        return;
    }
    const FileResult r = LoadTrainedWeights(m_engine, m_result->weights);
    if (r != FileResult::Ok) {
        m_status->setText(QString::fromLatin1(FileResultText(r)));
        return;
    }
    m_undo = before;
    m_used = *trained;
    m_undoUse->setEnabled(true);
    m_status->setText(QStringLiteral("The engine computes with these weights now (not saved)."));
    emit weightsUsed();
}

void CTrainDlg::OnUndoUse() {
    if (!m_undo) return;
    // Weights loaded since (a net file, say) are not the operator's to lose here.
    if (m_engine.CopyFileWeights() != m_used) {
        m_undo.reset();
        m_undoUse->setEnabled(false);
        m_status->setText(
            QStringLiteral("Nothing undone: the engine's weights have changed since."));
        return;
    }
    m_engine.LoadWeights(*m_undo);
    m_undo.reset();
    m_undoUse->setEnabled(false);
    m_status->setText(QStringLiteral("The weights from before are back."));
    emit weightsUseUndone();
}

void CTrainDlg::OnSaveNetFile() {
    if (!m_result) return;
    const QString path = m_saveFileName(this);
    if (path.isEmpty()) return;
    const FileResult r =
        WriteWholeFile(QFile::encodeName(path).toStdString(), [this](std::ostream& out) {
            return WriteModuleNetFile(out, m_result->weights);
        }).result;
    m_status->setText(r == FileResult::Ok ? QStringLiteral("Saved in %1").arg(path)
                                          : QString::fromLatin1(FileResultText(r)));
    if (r != FileResult::Ok) return;
    // The engine's weights are these: a file holds them now.
    const std::optional<FileWeights> saved = TrainedFileWeights(m_result->weights);
    if (saved && m_engine.CopyFileWeights() == *saved) emit usedWeightsSaved(path);
}

void CTrainDlg::StopAndJoin() {
    m_stop = true;
    if (m_thread.joinable()) m_thread.join();
}

void CTrainDlg::reject() {
    if (Training() && !m_stop) {
        const int answer = m_seams.Ask(
            this,
            QStringLiteral("Training is under way. Stop it and keep the best weights so far, "
                           "discard the run, or go on training?"),
            {QStringLiteral("Stop and keep the best"), QStringLiteral("Discard"),
             QStringLiteral("Go on")});
        if (answer == 0) {
            OnTrainOrStop();  // the result arrives while the dialog is hidden
        } else if (answer == 1) {
            m_discard = true;
            m_stop = true;
            m_train->setEnabled(false);
        } else {
            return;
        }
    }
    // Hidden, not gone: files, settings and the last result stay for next time.
    QDialog::reject();
}

FileResult LoadTrainedWeights(Engine& engine, const ModuleWeights& weights) {
    // Through the net file's text and its reader, so that the weights arrive exactly
    // as those of a loaded file, in both forms.
    const std::optional<FileWeights> fileWeights = TrainedFileWeights(weights);
    if (!fileWeights) return FileResult::WriteFailed;
    engine.LoadWeights(*fileWeights);
    return FileResult::Ok;
}
