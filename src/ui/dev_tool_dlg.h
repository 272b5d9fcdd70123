#pragma once
// The main window: sixteen sliders for the network's inputs and outputs, the mode
// and COM port choices, the status line and the menu; the training controls are a
// CTrainingPanel, the recording, chart and host comparison CLiveViews. Creating it
// starts the engine's worker; every way of ending it (Quit, close box, Escape,
// Enter) stops and joins the worker before the window can go, so the worker never
// reaches a window that is gone.
//
// The window reaches the engine's state only through Engine operations, and shows
// each pass as the pass reported it: sliders, status line, markers, chart and
// recording all take one pass's values from its PassReport.
//
// Thread rules: UI thread only. The worker reaches the window only through an
// EngineUpdatePoster (posted events, see engine_update_poster.h).

#include <QDialog>
#include <array>
#include <cstdint>
#include <memory>

#include "engine/engine.h"
#include "network/weights.h"
#include "ui/dialog_seams.h"
#include "ui/link_health.h"

class QAction;
class QLabel;
class QTimer;
class QActionGroup;
class QButtonGroup;
class QComboBox;
class QLineEdit;
class QMenu;
class QMenuBar;
class QSlider;
class CLiveViews;
class CTrackBar;
class CTrainingPanel;
class CTrainDlg;
class EngineUpdatePoster;

class CDevToolDlg : public QDialog {
    Q_OBJECT
public:
    // The dialogs and message boxes of the file commands go through `seams`, which
    // must outlive the window.
    // The window runs `engine` (which must outlive it): it gives it its notifier,
    // starts its worker, and stops it again before the window goes.
    explicit CDevToolDlg(Engine& engine, DialogSeams& seams = RealDialogSeams(),
                         QWidget* parent = nullptr);
    ~CDevToolDlg() override;

    // Every way of ending the dialog comes through here: it stops the worker first.
    void done(int result) override;

    // Where the weights came from, in the title: "demo-net.txt - Pelkora Development
    // Tool", with "(trained, not saved)" for weights a training run made that are in
    // no file yet; an empty `name` gives the plain title back.
    void ShowWeightsSource(const QString& name, bool trainedNotSaved);

protected:
    void customEvent(QEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void dragEnterEvent(QDragEnterEvent* event) override;
    void dropEvent(QDropEvent* event) override;

private:
    friend class CDevToolDlgTestPeer;  // tests reach the window's parts and texts

    void OnInitDialog();
    void CreateMenu();
    void CreateCompareMenu(QMenu* view);

    void OnEngineUpdate();
    // Shows one pass: its status, its values and the comparison for its values.
    void ShowReport(const PassReport& report);
    [[nodiscard]] bool Comparing(std::int32_t mode) const;
    void OnVScroll();
    void OnModeButton(int mode);
    void OnSelchangeComPort(int index);
    void OnFileLoadAscii();
    // Loads `path` into the engine; a failure is told in a message box.
    void LoadNetFile(const QString& path);
    void OnSaveHexNetFile();
    void OnVerifyHexNetFile();
    void OnTrainNetwork();
    // Every change of whether trained, unsaved weights are in use comes here (the
    // title says so).
    void SetTrainedUnsaved(bool unsaved);
    // Asks before a training run or trained, unsaved weights would be lost; false:
    // the operator keeps the window.
    [[nodiscard]] bool MayClose();
    void OnFileQuit();
    void OnViewQuantization();
    void OnHelpAbout();
    void OnCompareCountsChanged();
    // The link's state: the sliders' and chart's staleness, and the status tooltip.
    void UpdateLinkState();
    // The line at the menu bar's right: recording, Compare summary, last notice.
    void UpdateInfo();
    // A short notice there ("Stored row 51 in train003.txt"), `tip` as its tooltip.
    void ShowNotice(const QString& text, const QString& tip = QString());

    Engine& m_engine;
    DialogSeams& m_seams;
    std::shared_ptr<EngineUpdatePoster> m_poster;

    QMenuBar* m_menuBar = nullptr;
    QWidget* m_client = nullptr;
    std::array<QSlider*, NET_INPUT_COUNT> m_sliderIn{};
    std::array<QSlider*, NET_OUTPUT_COUNT> m_sliderOut{};
    QComboBox* m_comboPort = nullptr;
    QLineEdit* m_editStatus = nullptr;
    QButtonGroup* m_modeGroup = nullptr;
    QAction* m_compareHost = nullptr;
    QAction* m_compareCounts = nullptr;
    QAction* m_recordAction = nullptr;
    CTrainingPanel* m_training = nullptr;
    CLiveViews* m_live = nullptr;

    QLabel* m_info = nullptr;  // the menu bar's corner: what the window is doing
    QString m_infoText;        // what m_info says, whole
    QString m_notice;          // the last notice, shown in m_info
    QString m_noticeTip;
    QTimer* m_staleTimer = nullptr;  // due when a link's good passes stop: notices silence
    LinkHealth m_health;
    bool m_stale = false;

    bool m_netLoaded = false;  // a net file was loaded: there is something to compare with
    PassReport m_report;       // the latest pass shown
    bool m_haveReport = false;
    // What Engine::SetInputs returned last: a report copied before it carries inputs
    // the operator has already moved away from, and does not move the sliders back.
    std::uint64_t m_inputsSet = 0;

    CTrainDlg* m_trainDlg = nullptr;
    bool m_trainedUnsaved = false;
    // As they were before "Use these weights", for its undo.
    bool m_netLoadedBeforeTrained = false;
    bool m_trainedUnsavedBeforeTrained = false;
    // The file name of the weights in use, for the title; empty when none was loaded.
    QString m_weightsName;
    QString m_weightsNameBeforeTrained;
    bool m_closeConfirmed = false;  // Quit has asked already
};
