#pragma once
// The main window: sixteen sliders for the network's inputs and outputs, the mode
// and COM port choices, the training-set controls, the status line and the menu.
// Creating it fills the shared state block and starts the engine's worker; every
// way of ending it (Quit, close box, Escape, Enter) stops and joins the worker
// before the window can go, so the worker never reaches a window that is gone.
//
// Thread rules: UI thread only. The worker reaches the window only through an
// EngineUpdatePoster (posted events, see engine_update_poster.h).

#include <QDialog>
#include <QPointer>
#include <array>
#include <cstdint>
#include <memory>
#include <vector>

#include "files/pass_recorder.h"

#include "network/weights.h"
#include "ui/dialog_seams.h"

class QAction;
class QButtonGroup;
class QCheckBox;
class QComboBox;
class QLineEdit;
class QMenuBar;
class QPushButton;
class QSlider;
class CChartWindow;
class CUpDownCtrl;
class CHostMarker;
class QAction;
class EngineUpdatePoster;
class Engine;
struct SharedState;

// Number of the training file that "Store training set" appends to; one for the
// whole program, 0 at start, never saved. UI thread only.
extern std::uint16_t wTrainingFileNumber;

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

protected:
    void customEvent(QEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;

private:
    void OnInitDialog();
    void CreateMenu();

    void OnEngineUpdate();
    void OnVScroll();
    void OnModeButton(int mode);
    void OnSelchangeComPort(int index);
    void OnTrainingMode();
    void OnStoreTrainingSet();
    void OnDeltaposSpinFile(int delta);
    void OnFileLoadAscii();
    void OnSaveHexNetFile();
    void OnVerifyHexNetFile();
    void OnRecordValues();
    void OnTrainNetwork();
    void OnViewChart();
    // Writes and draws the passes queued since the last refresh.
    void TakePasses();
    void OnFileQuit();
    void OnViewQuantization();
    void OnHelpAbout();
    // The host's integer prediction beside each output slider, in Monitor mode with
    // weights loaded and "Compare with host" on; hidden otherwise.
    void ShowHostComparison(std::int32_t mode, const NetInputs& inputs, const NetOutputs& outputs);

    [[nodiscard]] SharedState& State();

    Engine& m_engine;
    DialogSeams& m_seams;
    std::shared_ptr<EngineUpdatePoster> m_poster;

    QMenuBar* m_menuBar = nullptr;
    QWidget* m_client = nullptr;
    std::array<QSlider*, NET_INPUT_COUNT> m_sliderIn{};
    std::array<QSlider*, NET_OUTPUT_COUNT> m_sliderOut{};
    QComboBox* m_comboPort = nullptr;
    QLineEdit* m_editTrainFile = nullptr;
    QLineEdit* m_editStatus = nullptr;
    QCheckBox* m_checkTraining = nullptr;
    QPushButton* m_buttonStore = nullptr;
    CUpDownCtrl* m_spinFile = nullptr;
    QButtonGroup* m_modeGroup = nullptr;
    QAction* m_compareHost = nullptr;
    std::array<CHostMarker*, NET_OUTPUT_COUNT> m_hostMarker{};
    bool m_netLoaded = false;  // a net file was loaded: there is something to compare with

    QAction* m_recordAction = nullptr;
    PassRecorder m_recorder;
    QPointer<CChartWindow> m_chart;    // null while the chart is closed (it deletes itself)
    std::vector<PassSample> m_passes;  // reused by TakePasses, so it allocates once
};
