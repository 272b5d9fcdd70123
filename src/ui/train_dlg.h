#pragma once
// "Train network...": trains a network for the module from training files on a
// thread of its own, shows the progress and a live curve of the training and
// held-out RMSE in the module's arithmetic, then offers "Use these weights" and
// "Save as ASCII net file...".
//
// Thread rules: the dialog lives on the UI thread. The training thread reads only
// the rows and options handed to it at the start and the stop flag; it reaches the
// dialog only through queued calls, and the dialog joins it before it goes. The
// engine and its lock are never touched while training; the weights reach the
// engine only through the caller's `useWeights`, on the UI thread.

#include <QDialog>
#include <QStringList>
#include <atomic>
#include <functional>
#include <memory>
#include <optional>
#include <thread>
#include <vector>

#include "engine/engine.h"
#include "files/file_result.h"
#include "network/training/trainer.h"

class QDoubleSpinBox;
class QLabel;
class QListWidget;
class QPlainTextEdit;
class QProgressBar;
class QPushButton;
class QSpinBox;

// The training and held-out RMSE after each report, drawn as two lines.
class CTrainingCurve : public QWidget {
    Q_OBJECT
public:
    explicit CTrainingCurve(QWidget* parent = nullptr);
    void Clear();
    void Add(double train, double heldOut);
    [[nodiscard]] QSize sizeHint() const override { return {420, 160}; }

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    std::vector<QPointF> m_points;  // (training, held out)
};

class CTrainDlg : public QDialog {
    Q_OBJECT
public:
    using UseWeights = std::function<FileResult(const ModuleWeights&)>;
    // Asks for the file to save to; empty for none. Tests replace it.
    using SaveFileName = std::function<QString(QWidget*)>;

    CTrainDlg(QWidget* parent, UseWeights useWeights);
    ~CTrainDlg() override;
    CTrainDlg(const CTrainDlg&) = delete;
    CTrainDlg& operator=(const CTrainDlg&) = delete;

    void SetFiles(const QStringList& files);
    void SetSaveFileName(SaveFileName saveFileName) { m_saveFileName = std::move(saveFileName); }
    [[nodiscard]] bool Training() const { return m_thread.joinable(); }
    [[nodiscard]] const std::optional<TrainingResult>& Result() const { return m_result; }

    void OnTrainOrStop();
    void OnUseWeights();
    void OnSaveNetFile();
    // Close, Escape and the close box: a run in progress is stopped and joined.
    void reject() override;

private:
    void OnAddFiles();
    void OnRemoveFiles();
    void OnProgress(const TrainingProgress& progress);
    void OnFinished(const TrainingResult& result);
    void StopAndJoin();
    void SetIdle(bool idle);

    UseWeights m_useWeights;
    SaveFileName m_saveFileName;
    QListWidget* m_files = nullptr;
    QDoubleSpinBox* m_holdout = nullptr;
    QSpinBox* m_seed = nullptr;
    QPushButton* m_train = nullptr;
    QProgressBar* m_progress = nullptr;
    QLabel* m_status = nullptr;
    CTrainingCurve* m_curve = nullptr;
    QPlainTextEdit* m_report = nullptr;
    QPushButton* m_use = nullptr;
    QPushButton* m_save = nullptr;

    // Read by the training thread; the rows stay untouched until it is joined.
    std::vector<TrainingRow> m_rows;
    std::atomic<bool> m_stop{false};
    std::thread m_thread;
    std::optional<TrainingResult> m_result;
};

// Loads module weights into the engine exactly as a loaded net file: they are
// written as one (value = weight x 2,000,000) and loaded by the engine's loader.
[[nodiscard]] FileResult LoadTrainedWeights(Engine& engine, const ModuleWeights& weights);
