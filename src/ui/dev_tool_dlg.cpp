#include "ui/dev_tool_dlg.h"

#include <QAbstractButton>
#include <QButtonGroup>
#include <QCheckBox>
#include <QComboBox>
#include <QFile>
#include <QKeyEvent>
#include <QLineEdit>
#include <QMenuBar>
#include <QPushButton>
#include <QRadioButton>
#include <QSignalBlocker>
#include <chrono>
#include <mutex>
#include <string>

#include "engine/engine.h"
#include "files/training_set.h"
#include "network/evaluators.h"
#include "ui/about_dlg.h"
#include "ui/app_icon.h"
#include "ui/chart_window.h"
#include "ui/dialog_template.h"
#include "ui/engine_update_poster.h"
#include "ui/host_marker.h"
#include "ui/quantization_dlg.h"
#include "ui/save_hex_command.h"
#include "ui/train_dlg.h"
#include "ui/up_down_ctrl.h"
#include "ui/verify_hex_command.h"

std::uint16_t wTrainingFileNumber = 0;

namespace {

constexpr int kWidth = 289;
constexpr int kHeight = 157;

constexpr const char* kStatusWaiting = "Waiting launch of real-time thread";

using K = ControlKind;

// Template order is tab order.
constexpr TemplateItem kTemplate[] = {
    {K::Slider, "IDC_SLIDER_IN1", 17, 29, 10, 96, nullptr},
    {K::Static, nullptr, 19, 21, 8, 8, "1"},
    {K::Slider, "IDC_SLIDER_IN2", 26, 29, 10, 96, nullptr},
    {K::Slider, "IDC_SLIDER_IN3", 35, 29, 10, 96, nullptr},
    {K::Slider, "IDC_SLIDER_IN4", 44, 29, 10, 96, nullptr},
    {K::Slider, "IDC_SLIDER_IN5", 53, 29, 10, 96, nullptr},
    {K::Slider, "IDC_SLIDER_IN6", 62, 29, 10, 96, nullptr},
    {K::Slider, "IDC_SLIDER_IN7", 71, 29, 10, 96, nullptr},
    {K::Slider, "IDC_SLIDER_IN8", 80, 29, 10, 96, nullptr},
    {K::Static, nullptr, 28, 21, 8, 8, "2"},
    {K::Static, nullptr, 37, 21, 8, 8, "3"},
    {K::Static, nullptr, 46, 21, 8, 8, "4"},
    {K::Static, nullptr, 55, 21, 8, 8, "5"},
    {K::Static, nullptr, 64, 21, 8, 8, "6"},
    {K::Static, nullptr, 73, 21, 8, 8, "7"},
    {K::Static, nullptr, 82, 21, 8, 8, "8"},
    {K::GroupBox, nullptr, 7, 10, 91, 117, "Inputs"},
    {K::GroupBox, nullptr, 99, 1, 91, 71, "Mode"},
    {K::CheckBox, "IDC_TRAINING_MODE", 108, 89, 61, 10, "Training mode"},
    {K::PushButton, "IDC_STORE_TRAINING_SET", 107, 100, 74, 11, "Store training set"},
    {K::Static, nullptr, 107, 116, 16, 8, "File :"},
    {K::Edit, "IDC_TRAIN_FILE", 125, 114, 48, 13, nullptr},
    {K::GroupBox, nullptr, 99, 74, 91, 59, "Training"},
    {K::Slider, "IDC_SLIDER_OUT1", 201, 29, 10, 96, nullptr},
    {K::Static, nullptr, 203, 21, 8, 8, "1"},
    {K::Slider, "IDC_SLIDER_OUT2", 210, 29, 10, 96, nullptr},
    {K::Slider, "IDC_SLIDER_OUT3", 219, 29, 10, 96, nullptr},
    {K::Slider, "IDC_SLIDER_OUT4", 228, 29, 10, 96, nullptr},
    {K::Slider, "IDC_SLIDER_OUT5", 237, 29, 10, 96, nullptr},
    {K::Slider, "IDC_SLIDER_OUT6", 246, 29, 10, 96, nullptr},
    {K::Slider, "IDC_SLIDER_OUT7", 255, 29, 10, 96, nullptr},
    {K::Slider, "IDC_SLIDER_OUT8", 264, 29, 10, 96, nullptr},
    {K::Static, nullptr, 212, 21, 8, 8, "2"},
    {K::Static, nullptr, 221, 21, 8, 8, "3"},
    {K::Static, nullptr, 230, 21, 8, 8, "4"},
    {K::Static, nullptr, 239, 21, 8, 8, "5"},
    {K::Static, nullptr, 248, 21, 8, 8, "6"},
    {K::Static, nullptr, 257, 21, 8, 8, "7"},
    {K::Static, nullptr, 266, 21, 8, 8, "8"},
    {K::GroupBox, nullptr, 191, 10, 91, 116, "Outputs"},
    {K::ComboBox, "IDC_COM_PORT", 43, 138, 34, 36, nullptr},
    {K::Static, nullptr, 7, 139, 35, 8, "COM port :"},
    {K::Static, nullptr, 105, 139, 25, 8, "Status :"},
    {K::ReadOnlyEdit, "IDC_STATUS", 132, 136, 150, 14, nullptr},
    {K::UpDown, "IDC_TRAIN_SPIN", 173, 113, 9, 14, nullptr},
    {K::RadioButton, "IDC_MODE_MONITOR", 106, 14, 39, 10, "Monitor"},
    {K::RadioButton, "IDC_MODE_SIM_FLOAT", 106, 25, 64, 10, "Simulator (float)"},
    {K::RadioButton, "IDC_MODE_SIM_INT", 106, 36, 72, 10, "Simulator (integer)"},
    {K::RadioButton, "IDC_MODE_EMULATOR", 106, 47, 43, 10, "Emulator"},
    {K::RadioButton, "IDC_MODE_HOLD", 106, 58, 31, 10, "Hold"},
};

// Sliders show 0..255; a state value above that shows at the top end.
int SliderValue(std::uint16_t value) {
    return value > 255 ? 255 : value;
}

// Moves a slider from the engine's side without it reporting an operator's move.
void ShowValue(QSlider* slider, std::uint16_t value) {
    const QSignalBlocker blocker(slider);
    slider->setValue(SliderValue(value));
}

}  // namespace

CDevToolDlg::CDevToolDlg(Engine& engine, DialogSeams& seams, QWidget* parent)
    : QDialog(parent),
      m_engine(engine),
      m_seams(seams),
      m_poster(std::make_shared<EngineUpdatePoster>(this)) {
    m_passes.reserve(kMaxQueuedSamples);
    OnInitDialog();
}

CDevToolDlg::~CDevToolDlg() {
    // The window may be destroyed without having been ended (by its owner, or by a
    // test); the worker must be gone before any of it is.
    m_poster->Detach();
    m_engine.Stop();
    m_engine.SetNotifier(nullptr);
}

SharedState& CDevToolDlg::State() {
    return m_engine.State();
}

void CDevToolDlg::OnInitDialog() {
    // Sized for the client area; the menu bar goes above it.
    const DialogUnits units = PrepareDialog(this, "Pelkora Development Tool", kWidth, kHeight);
    // The window manager draws the icon of a minimised window, and its drag image.
    setWindowIcon(PelkoraIcon());
    CreateMenu();
    const int menuHeight = m_menuBar->sizeHint().height();
    m_menuBar->setGeometry(0, 0, units.X(kWidth), menuHeight);
    m_client = new QWidget(this);
    m_client->setGeometry(0, menuHeight, units.X(kWidth), units.Y(kHeight));
    setFixedSize(units.X(kWidth), units.Y(kHeight) + menuHeight);

    BuildTemplate(m_client, units, kTemplate);
    for (int k = 0; k < NET_INPUT_COUNT; ++k) {
        const std::string name = "IDC_SLIDER_IN" + std::to_string(k + 1);
        m_sliderIn[k] = TemplateControl<QSlider>(m_client, name.c_str());
    }
    for (int k = 0; k < NET_OUTPUT_COUNT; ++k) {
        const std::string name = "IDC_SLIDER_OUT" + std::to_string(k + 1);
        m_sliderOut[k] = TemplateControl<QSlider>(m_client, name.c_str());
    }
    for (int k = 0; k < NET_OUTPUT_COUNT; ++k) m_hostMarker[k] = new CHostMarker(m_sliderOut[k]);
    m_checkTraining = TemplateControl<QCheckBox>(m_client, "IDC_TRAINING_MODE");
    m_buttonStore = TemplateControl<QPushButton>(m_client, "IDC_STORE_TRAINING_SET");
    m_editTrainFile = TemplateControl<QLineEdit>(m_client, "IDC_TRAIN_FILE");
    m_comboPort = TemplateControl<QComboBox>(m_client, "IDC_COM_PORT");
    m_editStatus = TemplateControl<QLineEdit>(m_client, "IDC_STATUS");
    m_spinFile = TemplateControl<CUpDownCtrl>(m_client, "IDC_TRAIN_SPIN");
    // One exclusive group; a button's id is its index in the group, the mode number.
    static constexpr const char* kModeRadios[] = {"IDC_MODE_MONITOR", "IDC_MODE_SIM_FLOAT",
                                                  "IDC_MODE_SIM_INT", "IDC_MODE_EMULATOR",
                                                  "IDC_MODE_HOLD"};
    m_modeGroup = new QButtonGroup(this);
    for (int mode = MODE_MONITOR; mode <= MODE_HOLD; ++mode) {
        m_modeGroup->addButton(TemplateControl<QRadioButton>(m_client, kModeRadios[mode]), mode);
    }

    m_comboPort->addItem(QStringLiteral("COM1"));
    m_comboPort->addItem(QStringLiteral("COM2"));
    for (QSlider* slider : m_sliderIn) slider->setValue(0);
    for (QSlider* slider : m_sliderOut) {
        slider->setValue(0);
        slider->setEnabled(false);
    }
    m_modeGroup->button(MODE_HOLD)->setChecked(true);
    m_checkTraining->setChecked(false);
    m_editTrainFile->setText(QString::fromStdString(TrainingFileName(wTrainingFileNumber)));
    m_editStatus->setText(QString::fromLatin1(kStatusWaiting));
    m_editStatus->setCursorPosition(0);
    m_buttonStore->setEnabled(false);
    m_editTrainFile->setEnabled(false);
    m_comboPort->setCurrentIndex(0);

    // Operator actions. Every vertical scroll notification copies the input sliders,
    // whichever slider (or the up-down arrows) sent it.
    for (QSlider* slider : m_sliderIn) {
        connect(slider, &QSlider::valueChanged, this, &CDevToolDlg::OnVScroll);
    }
    for (QSlider* slider : m_sliderOut) {
        connect(slider, &QSlider::valueChanged, this, &CDevToolDlg::OnVScroll);
    }
    connect(m_modeGroup, &QButtonGroup::idClicked, this, &CDevToolDlg::OnModeButton);
    // Only a choice from the list counts; typed text is never used.
    connect(m_comboPort, &QComboBox::activated, this, &CDevToolDlg::OnSelchangeComPort);
    connect(m_checkTraining, &QCheckBox::toggled, this, &CDevToolDlg::OnTrainingMode);
    connect(m_buttonStore, &QPushButton::clicked, this, &CDevToolDlg::OnStoreTrainingSet);
    connect(m_spinFile, &CUpDownCtrl::deltaPos, this, &CDevToolDlg::OnDeltaposSpinFile);

    m_engine.SetNotifier(MakeEngineNotifier(m_poster));
    // Only fails if the engine's worker already runs, which a second window on one
    // engine would mean; that window then shows the engine's state.
    (void)m_engine.Start();

    m_sliderIn[0]->setFocus(Qt::OtherFocusReason);
}

void CDevToolDlg::CreateMenu() {
    m_menuBar = new QMenuBar(this);
    QMenu* file = m_menuBar->addMenu(QStringLiteral("&File"));
    QAction* load = file->addAction(QStringLiteral("&Load ASCII net file"));
    load->setObjectName(QStringLiteral("ID_FILE_LOAD_ASCII"));
    connect(load, &QAction::triggered, this, &CDevToolDlg::OnFileLoadAscii);
    QAction* save = file->addAction(QStringLiteral("&Save hexadecimal net file"));
    save->setObjectName(QStringLiteral("ID_FILE_SAVE_HEX"));
    connect(save, &QAction::triggered, this, &CDevToolDlg::OnSaveHexNetFile);
    QAction* verify = file->addAction(QStringLiteral("Verify hexadecimal net file..."));
    verify->setObjectName(QStringLiteral("ID_FILE_VERIFY_HEX"));
    connect(verify, &QAction::triggered, this, &CDevToolDlg::OnVerifyHexNetFile);
    QAction* train = file->addAction(QStringLiteral("Train network..."));
    train->setObjectName(QStringLiteral("ID_FILE_TRAIN"));
    connect(train, &QAction::triggered, this, &CDevToolDlg::OnTrainNetwork);
    file->addSeparator();
    m_recordAction = file->addAction(QStringLiteral("Record values..."));
    m_recordAction->setObjectName(QStringLiteral("ID_FILE_RECORD"));
    connect(m_recordAction, &QAction::triggered, this, &CDevToolDlg::OnRecordValues);
    file->addSeparator();
    QAction* quit = file->addAction(QStringLiteral("&Quit"));
    quit->setObjectName(QStringLiteral("ID_FILE_QUIT"));
    connect(quit, &QAction::triggered, this, &CDevToolDlg::OnFileQuit);

    QMenu* view = m_menuBar->addMenu(QStringLiteral("&View"));
    m_compareHost = view->addAction(QStringLiteral("&Compare with host"));
    m_compareHost->setObjectName(QStringLiteral("ID_VIEW_COMPARE_HOST"));
    m_compareHost->setCheckable(true);
    // A refresh shows or hides the comparison at once.
    connect(m_compareHost, &QAction::toggled, this, &CDevToolDlg::OnEngineUpdate);
    QAction* quantization = view->addAction(QStringLiteral("Quantization report..."));
    quantization->setObjectName(QStringLiteral("ID_VIEW_QUANTIZATION"));
    connect(quantization, &QAction::triggered, this, &CDevToolDlg::OnViewQuantization);
    QAction* chart = view->addAction(QStringLiteral("Chart"));
    chart->setObjectName(QStringLiteral("ID_VIEW_CHART"));
    connect(chart, &QAction::triggered, this, &CDevToolDlg::OnViewChart);

    QMenu* help = m_menuBar->addMenu(QStringLiteral("&Help"));
    QAction* about = help->addAction(QStringLiteral("&About Pelkora"));
    about->setObjectName(QStringLiteral("ID_HELP_ABOUT"));
    connect(about, &QAction::triggered, this, &CDevToolDlg::OnHelpAbout);
    // The About entry of the window's system menu cannot be had here: X11 and Wayland
    // window managers draw that menu themselves and offer no way to add to it. The
    // Help menu's entry opens the same box.
}

void CDevToolDlg::customEvent(QEvent* event) {
    if (event->type() == kEngineUpdateEvent) {
        m_poster->Acknowledge();
        OnEngineUpdate();
        return;
    }
    QDialog::customEvent(event);
}

void CDevToolDlg::OnEngineUpdate() {
    const StatusText status = m_engine.GetStatus();
    NetInputs inputs;
    NetOutputs outputs;
    std::int32_t mode;
    {
        std::lock_guard lock(State().hMutex);
        inputs = State().wInputs;
        outputs = State().wOutputs;
        mode = State().nMode;
    }
    // An unchanged text is left alone, so the status line does not flicker.
    const QString text = QString::fromLocal8Bit(status.text);
    if (m_editStatus->text() != text) {
        m_editStatus->setText(text);
        // A read-only box shows a long text from its start, not its end.
        m_editStatus->setCursorPosition(0);
    }
    for (int k = 0; k < NET_INPUT_COUNT; ++k) ShowValue(m_sliderIn[k], inputs[k]);
    // In training mode the output sliders hold what the operator set.
    if (!m_checkTraining->isChecked()) {
        for (int k = 0; k < NET_OUTPUT_COUNT; ++k) ShowValue(m_sliderOut[k], outputs[k]);
    }
    ShowHostComparison(mode, inputs, outputs);
    TakePasses();
}

void CDevToolDlg::ShowHostComparison(std::int32_t mode, const NetInputs& inputs,
                                     const NetOutputs& outputs) {
    const bool on = m_compareHost->isChecked() && m_netLoaded && mode == MODE_MONITOR &&
                    !m_checkTraining->isChecked();
    if (!on) {
        for (int k = 0; k < NET_OUTPUT_COUNT; ++k) {
            if (!m_hostMarker[k]->HostValue()) continue;
            m_hostMarker[k]->SetHostValue(std::nullopt);
            m_sliderOut[k]->setToolTip(QString::number(m_sliderOut[k]->value()));
        }
        return;
    }
    NetOutputs host;
    {
        std::lock_guard lock(State().hMutex);
        host = EvaluateInt(inputs, State().sModuleWeights);
    }
    for (int k = 0; k < NET_OUTPUT_COUNT; ++k) {
        const int module = SliderValue(outputs[k]);
        m_hostMarker[k]->SetHostValue(host[k]);
        m_sliderOut[k]->setToolTip(CHostMarker::ComparisonText(module, host[k]));
    }
}

void CDevToolDlg::TakePasses() {
    m_poster->TakeSamples(m_passes);
    if (m_passes.empty()) return;
    RecordResult recorded = RecordResult::Ok;
    if (m_recorder.Recording()) {
        for (const PassSample& pass : m_passes) {
            recorded = m_recorder.Append(pass);
            if (recorded != RecordResult::Ok) break;
        }
    }
    if (m_chart) m_chart->AddSamples(m_passes);
    // The message box runs a nested event loop whose refreshes reuse m_passes, so it
    // comes only when this refresh is done with them.
    if (recorded != RecordResult::Ok) {
        m_recordAction->setText(QStringLiteral("Record values..."));
        m_seams.ShowMessage(this, QString::fromLatin1(RecordResultText(recorded)));
    }
}

void CDevToolDlg::OnVScroll() {
    std::lock_guard lock(State().hMutex);
    for (int k = 0; k < NET_INPUT_COUNT; ++k) {
        State().wInputs[k] = static_cast<std::uint16_t>(m_sliderIn[k]->value());
    }
}

void CDevToolDlg::OnModeButton(int mode) {
    if (mode < MODE_MONITOR || mode > MODE_HOLD) return;
    {
        std::lock_guard lock(State().hMutex);
        State().nMode = mode;
    }
    // In Monitor and Emulator the worker reads the inputs from the target.
    const bool operatorInputs = mode != MODE_MONITOR && mode != MODE_EMULATOR;
    for (QSlider* slider : m_sliderIn) slider->setEnabled(operatorInputs);
}

void CDevToolDlg::OnSelchangeComPort(int index) {
    if (index != 0 && index != 1) return;
    std::lock_guard lock(State().hMutex);
    State().nComPort = index;
}

void CDevToolDlg::OnTrainingMode() {
    const bool training = m_checkTraining->isChecked();
    for (QSlider* slider : m_sliderOut) slider->setEnabled(training);
    m_buttonStore->setEnabled(training);
}

void CDevToolDlg::OnStoreTrainingSet() {
    TrainingSet values{};
    for (int k = 0; k < NET_INPUT_COUNT; ++k) values[k] = m_sliderIn[k]->value();
    for (int k = 0; k < NET_OUTPUT_COUNT; ++k)
        values[NET_INPUT_COUNT + k] = m_sliderOut[k]->value();
    const FileResult result = AppendTrainingSet(TrainingFileName(wTrainingFileNumber), values);
    if (result != FileResult::Ok) {
        m_seams.ShowMessage(this, QString::fromLatin1(TrainingFileResultText(result)));
    }
}

void CDevToolDlg::OnDeltaposSpinFile(int delta) {
    // Up selects the next file, down the previous one; a step of any size moves by one.
    wTrainingFileNumber = delta > 0 ? NextTrainingFileNumber(wTrainingFileNumber)
                                    : PreviousTrainingFileNumber(wTrainingFileNumber);
    m_editTrainFile->setText(QString::fromStdString(TrainingFileName(wTrainingFileNumber)));
    // The arrows scroll vertically too, and so copy the input sliders like any slider.
    OnVScroll();
}

void CDevToolDlg::OnFileLoadAscii() {
    // The reminder of the layout comes first, however the operator closes it.
    m_seams.RunFileFormatDialog(this);
    const QString path = m_seams.GetOpenFileName(this, QStringLiteral("txt"));
    if (path.isEmpty()) return;
    // The loader holds no lock once it returns, so the refresh keeps running while
    // the message is up.
    const FileResult result = m_engine.LoadAsciiNetFile(QFile::encodeName(path).toStdString());
    if (result != FileResult::Ok) {
        m_seams.ShowMessage(this, QString::fromLatin1(FileResultText(result)));
        return;
    }
    m_netLoaded = true;
}

void CDevToolDlg::OnSaveHexNetFile() {
    RunSaveHexNetFileCommand(this, m_seams, State());
}

void CDevToolDlg::OnVerifyHexNetFile() {
    RunVerifyHexNetFileCommand(this, m_seams, State());
}

void CDevToolDlg::OnTrainNetwork() {
    CTrainDlg dlg(this, [this](const ModuleWeights& weights) {
        const FileResult result = LoadTrainedWeights(m_engine, weights);
        if (result == FileResult::Ok) m_netLoaded = true;
        return result;
    });
    dlg.exec();
}

void CDevToolDlg::OnRecordValues() {
    if (m_recorder.Recording()) {
        m_recorder.Stop();
        m_recordAction->setText(QStringLiteral("Record values..."));
        return;
    }
    const QString path = m_seams.GetRecordFileName(this);
    if (path.isEmpty()) return;
    const RecordResult result = m_recorder.Start(QFile::encodeName(path).toStdString());
    if (result != RecordResult::Ok) {
        m_seams.ShowMessage(this, QString::fromLatin1(RecordResultText(result)));
        return;
    }
    m_recordAction->setText(QStringLiteral("Stop recording"));
}

void CDevToolDlg::OnViewChart() {
    if (!m_chart) {
        m_chart = new CChartWindow(this);
        m_chart->show();
    }
    m_chart->raise();
    m_chart->activateWindow();
}

void CDevToolDlg::OnFileQuit() {
    m_engine.RequestStop();
    // The worker's waits end at the request, so this is short; the grace bounds it.
    (void)m_engine.WaitForWorker(std::chrono::milliseconds(kQuitGraceMs));
    accept();
}

void CDevToolDlg::OnViewQuantization() {
    // A copy, so the engine waits only for the copy, not for the report.
    FileWeights weights;
    {
        std::lock_guard lock(State().hMutex);
        weights = State().lFileWeights;
    }
    CQuantizationDlg report(weights, this);
    report.exec();
}

void CDevToolDlg::OnHelpAbout() {
    CAboutDlg about(this);
    about.exec();
}

void CDevToolDlg::done(int result) {
    m_engine.Stop();
    QDialog::done(result);
}

void CDevToolDlg::keyPressEvent(QKeyEvent* event) {
    const int key = event->key();
    if ((key == Qt::Key_Return || key == Qt::Key_Enter) &&
        (event->modifiers() == Qt::NoModifier || event->modifiers() == Qt::KeypadModifier)) {
        // Enter presses the focused push button; anywhere else it ends the dialog.
        if (auto* button = qobject_cast<QPushButton*>(focusWidget())) {
            if (button->isEnabled()) button->click();
            return;
        }
        accept();
        return;
    }
    QDialog::keyPressEvent(event);  // Escape ends the dialog as a cancel
}
