#pragma once
// "Train network...": trains a network for the module from training files on a
// thread of its own, shows the progress with the time left, a curve of the
// training and held-out RMSE in the module's arithmetic and how each output fares
// on the held-out rows, then offers "Use these weights" (with "Undo use") and
// "Save as ASCII net file...".
//
// The dialog is not modal and lives as long as the main window: closing it only
// hides it, so its files, settings and last result are there when it is opened
// again, and the main window, chart and Compare stay usable while it trains.
//
// Thread rules: the dialog lives on the UI thread. The training thread reads the
// training files (a FIFO or a slow file must not freeze the window) and trains;
// it reads only the paths and options handed to it at the start and the stop
// flags, owns the rows until it ends, and reaches the dialog only through queued
// calls; the dialog joins it before it goes. The engine and its lock are never
// touched while training; the weights reach the engine only through its
// operations, on the UI thread.

#include <QDialog>
#include <QStringList>
#include <atomic>
#include <functional>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "engine/engine.h"
#include "files/file_result.h"
#include "network/training/trainer.h"
#include "ui/train_models.h"

class DialogSeams;
class QCustomPlot;
class QDoubleSpinBox;
class QLabel;
class QListWidget;
class QPlainTextEdit;
class QProgressBar;
class QPushButton;
class QSpinBox;

// The training and held-out RMSE of the best weights so far, against the work
// done, with axis titles and a legend.
class CTrainingCurve : public QWidget {
    Q_OBJECT
public:
    explicit CTrainingCurve(QWidget* parent = nullptr);
    void Clear();
    void Add(const TrainingProgress& progress);
    // No held-out rows: only the training line is drawn.
    void SetHeldOut(bool heldOut);
    void EndedEarly();
    [[nodiscard]] const TrainingCurveModel& Model() const { return m_model; }
    [[nodiscard]] QSize sizeHint() const override { return {420, 200}; }

private:
    void Redraw();

    TrainingCurveModel m_model;
    QCustomPlot* m_plot = nullptr;
};

// Predicted against wanted for each output, one small scatter each; the worst
// output framed.
class CHeldOutView : public QWidget {
    Q_OBJECT
public:
    explicit CHeldOutView(QWidget* parent = nullptr);
    void SetModel(const HeldOutModel& model);
    [[nodiscard]] QSize sizeHint() const override { return {420, 200}; }

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    HeldOutModel m_model;
};

class CTrainDlg : public QDialog {
    Q_OBJECT
public:
    // Asks for the file to save to; empty for none. Tests replace it.
    using SaveFileName = std::function<QString(QWidget*)>;

    // "Use these weights" loads into `engine`; questions go through `seams`. Both
    // must outlive the dialog.
    CTrainDlg(QWidget* parent, Engine& engine, DialogSeams& seams);
    ~CTrainDlg() override;
    CTrainDlg(const CTrainDlg&) = delete;
    CTrainDlg& operator=(const CTrainDlg&) = delete;

    void SetFiles(const QStringList& files);
    void SetSaveFileName(SaveFileName saveFileName) { m_saveFileName = std::move(saveFileName); }
    [[nodiscard]] bool Training() const { return m_thread.joinable(); }
    [[nodiscard]] const std::optional<TrainingResult>& Result() const { return m_result; }
    [[nodiscard]] const HeldOutModel& HeldOut() const { return m_heldOut; }
    [[nodiscard]] const TrainingProgressModel& Progress() const { return m_progressModel; }
    // "Use these weights" can be undone: the weights before are kept.
    [[nodiscard]] bool CanUndoUse() const { return m_undo.has_value(); }

    void OnTrainOrStop();
    void OnUseWeights();
    void OnUndoUse();
    void OnSaveNetFile();
    // Close, Escape and the close box. During a run it asks first: stop and keep
    // the best, discard, or go on; otherwise it hides the dialog, which keeps all.
    void reject() override;

signals:
    // The engine computes with the trained weights, which no file holds yet.
    void weightsUsed();
    // "Undo use": the weights from before "Use these weights" are back.
    void weightsUseUndone();
    // The weights the engine computes with were saved in `path`.
    void usedWeightsSaved(const QString& path);

private:
    friend class TrainDlgTestSeam;  // hands the dialog a result of its own making

    void OnAddFiles();
    void OnRemoveFiles();
    void OnProgress(const TrainingProgress& progress);
    void OnFinished(const TrainingResult& result);
    void OnNotStarted(const QString& why);
    void ShowResult();
    void ShowProgress();
    void StopAndJoin();
    void SetIdle(bool idle);

    Engine& m_engine;
    DialogSeams& m_seams;
    SaveFileName m_saveFileName;
    QListWidget* m_files = nullptr;
    QDoubleSpinBox* m_holdout = nullptr;
    QSpinBox* m_seed = nullptr;
    QDoubleSpinBox* m_timeLimit = nullptr;
    QPushButton* m_train = nullptr;
    QProgressBar* m_progress = nullptr;
    QLabel* m_status = nullptr;
    CTrainingCurve* m_curve = nullptr;
    QLabel* m_heldOutTitle = nullptr;
    CHeldOutView* m_heldOutView = nullptr;
    QLabel* m_warnings = nullptr;
    QPlainTextEdit* m_report = nullptr;
    QPushButton* m_use = nullptr;
    QPushButton* m_undoUse = nullptr;
    QPushButton* m_save = nullptr;

    // The training thread's until it is joined: the UI thread reads them after.
    std::vector<TrainingRow> m_rows;
    TrainingOptions m_options;
    std::atomic<bool> m_stop{false};
    // Set with m_stop: the run's result is thrown away.
    std::atomic<bool> m_discard{false};
    std::thread m_thread;

    std::optional<TrainingResult> m_result;
    TrainingProgressModel m_progressModel;
    HeldOutModel m_heldOut;
    // The engine's weights before "Use these weights", and the ones it put there:
    // undo only while the engine still has those.
    std::optional<FileWeights> m_undo;
    FileWeights m_used{};
};

// Loads module weights into the engine exactly as a loaded net file: they are
// written as one (value = weight x 2,000,000) and loaded by the engine's loader.
[[nodiscard]] FileResult LoadTrainedWeights(Engine& engine, const ModuleWeights& weights);
