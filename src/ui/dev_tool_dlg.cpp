#include "ui/dev_tool_dlg.h"

#include <QAbstractButton>
#include <QAbstractItemView>
#include <QActionGroup>
#include <QButtonGroup>
#include <QComboBox>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QFile>
#include <QFileInfo>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMenuBar>
#include <QMimeData>
#include <QPushButton>
#include <QRadioButton>
#include <QSignalBlocker>
#include <QTimer>
#include <QUrl>
#include <algorithm>
#include <chrono>
#include <string>

#include "engine/net_port.h"
#include "files/net_file.h"
#include "network/pass_values.h"
#include "ui/about_dlg.h"
#include "ui/app_icon.h"
#include "ui/dialog_template.h"
#include "ui/engine_update_poster.h"
#include "ui/live_views.h"
#include "ui/off_ui_thread.h"
#include "ui/quantization_dlg.h"
#include "ui/save_hex_command.h"
#include "ui/track_bar.h"
#include "ui/train_dlg.h"
#include "ui/training_panel.h"
#include "ui/verify_hex_command.h"

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

// Tolerances offered for "Compare with host", in LSB.
constexpr int kCompareTolerances[] = {0, 1, 2, 4, 8};

// Moves a slider from the engine's side without it reporting an operator's move.
void ShowValue(QSlider* slider, std::uint16_t value) {
    const QSignalBlocker blocker(slider);
    slider->setValue(ClipToByte(value));
}

}  // namespace

CDevToolDlg::CDevToolDlg(Engine& engine, DialogSeams& seams, QWidget* parent)
    : QDialog(parent),
      m_engine(engine),
      m_seams(seams),
      m_poster(std::make_shared<EngineUpdatePoster>(this)) {
    OnInitDialog();
}

CDevToolDlg::~CDevToolDlg() {
    // The window may be destroyed without having been ended (by its owner, or by a
    // test); the worker must be gone before any of it is.
    m_poster->Detach();
    m_engine.Stop();
    m_engine.SetNotifier(nullptr);
}

void CDevToolDlg::OnInitDialog() {
    // Sized for the client area; the menu bar goes above it.
    const DialogUnits units = PrepareDialog(this, "Pelkora Development Tool", kWidth, kHeight);
    // The window manager draws the icon of a minimised window, and its drag image.
    setWindowIcon(PelkoraIcon());
    m_client = new QWidget(this);
    BuildTemplate(m_client, units, kTemplate);
    std::array<CTrackBar*, NET_OUTPUT_COUNT> outputs{};
    for (int k = 0; k < NET_INPUT_COUNT; ++k) {
        const std::string name = "IDC_SLIDER_IN" + std::to_string(k + 1);
        m_sliderIn[k] = TemplateControl<QSlider>(m_client, name.c_str());
    }
    for (int k = 0; k < NET_OUTPUT_COUNT; ++k) {
        const std::string name = "IDC_SLIDER_OUT" + std::to_string(k + 1);
        outputs[k] = TemplateControl<CTrackBar>(m_client, name.c_str());
        m_sliderOut[k] = outputs[k];
    }
    m_comboPort = TemplateControl<QComboBox>(m_client, "IDC_COM_PORT");
    m_editStatus = TemplateControl<QLineEdit>(m_client, "IDC_STATUS");
    // One exclusive group; a button's id is its index in the group, the mode number.
    static constexpr const char* kModeRadios[] = {"IDC_MODE_MONITOR", "IDC_MODE_SIM_FLOAT",
                                                  "IDC_MODE_SIM_INT", "IDC_MODE_EMULATOR",
                                                  "IDC_MODE_HOLD"};
    m_modeGroup = new QButtonGroup(this);
    for (int mode = MODE_MONITOR; mode <= MODE_HOLD; ++mode) {
        m_modeGroup->addButton(TemplateControl<QRadioButton>(m_client, kModeRadios[mode]), mode);
    }
    m_training = new CTrainingPanel(m_client, m_sliderIn, m_sliderOut, m_seams, this);
    m_live = new CLiveViews(m_engine, m_poster, outputs, m_seams, this);

    CreateMenu();
    // What the window is doing beside the menus: the template's controls stay as
    // they are.
    m_info = new QLabel(m_menuBar);
    m_info->setObjectName(QStringLiteral("info"));
    m_info->setContentsMargins(4, 0, 6, 0);
    m_info->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    // The room the menus leave; a longer text is cut, and its tooltip has it all.
    m_info->setFixedWidth(std::max(0, units.X(kWidth) - m_menuBar->sizeHint().width() - 4));
    m_menuBar->setCornerWidget(m_info, Qt::TopRightCorner);
    m_staleTimer = new QTimer(this);
    // Due just after a good pass would have grown old: it fires only when the link
    // falls silent, so a healthy link costs no wake-up.
    m_staleTimer->setSingleShot(true);
    m_staleTimer->setInterval(kStaleAfter + std::chrono::milliseconds(20));
    connect(m_staleTimer, &QTimer::timeout, this, &CDevToolDlg::UpdateLinkState);
    connect(m_training, &CTrainingPanel::notice, this, &CDevToolDlg::ShowNotice);
    const int menuHeight = m_menuBar->sizeHint().height();
    m_menuBar->setGeometry(0, 0, units.X(kWidth), menuHeight);
    m_client->setGeometry(0, menuHeight, units.X(kWidth), units.Y(kHeight));
    setFixedSize(units.X(kWidth), units.Y(kHeight) + menuHeight);

    m_comboPort->addItem(QStringLiteral("COM1"));
    m_comboPort->addItem(QStringLiteral("COM2"));
    for (QSlider* slider : m_sliderIn) slider->setValue(0);
    for (QSlider* slider : m_sliderOut) {
        slider->setValue(0);
        slider->setEnabled(false);
    }
    m_modeGroup->button(MODE_HOLD)->setChecked(true);
    m_editStatus->setText(QString::fromLatin1(kStatusWaiting));
    m_editStatus->setToolTip(m_editStatus->text());
    m_editStatus->setCursorPosition(0);
    m_comboPort->setCurrentIndex(0);

    // Operator actions. Only a moved input slider sets the inputs: the output
    // sliders and the file-number arrows must not, or an Emulator pass could
    // compute from inputs the window wrote between the module's "I" and its frame.
    for (QSlider* slider : m_sliderIn) {
        connect(slider, &QSlider::valueChanged, this, &CDevToolDlg::OnVScroll);
    }
    connect(m_modeGroup, &QButtonGroup::idClicked, this, &CDevToolDlg::OnModeButton);
    // Only a choice from the list counts; typed text is never used.
    connect(m_comboPort, &QComboBox::activated, this, &CDevToolDlg::OnSelchangeComPort);
    connect(m_live, &CLiveViews::recordingChanged, this, [this](bool recording) {
        m_recordAction->setText(recording ? QStringLiteral("Stop &recording")
                                          : QStringLiteral("&Record values..."));
        UpdateInfo();
    });
    connect(&m_live->Comparison(), &CHostComparison::countsChanged, this,
            &CDevToolDlg::OnCompareCountsChanged);

    m_engine.SetNotifier(MakeEngineNotifier(m_poster));
    // Only fails if the engine's worker already runs, which a second window on one
    // engine would mean; that window then shows the engine's state.
    (void)m_engine.Start();

    // A net file dropped onto the window loads as the menu's command does.
    setAcceptDrops(true);
    m_sliderIn[0]->setFocus(Qt::OtherFocusReason);
}

void CDevToolDlg::CreateMenu() {
    m_menuBar = new QMenuBar(this);
    QMenu* file = m_menuBar->addMenu(QStringLiteral("&File"));
    QAction* load = file->addAction(QStringLiteral("&Load ASCII net file"));
    load->setObjectName(QStringLiteral("ID_FILE_LOAD_ASCII"));
    load->setShortcut(QKeySequence::Open);
    connect(load, &QAction::triggered, this, &CDevToolDlg::OnFileLoadAscii);
    QAction* save = file->addAction(QStringLiteral("&Save hexadecimal net file"));
    save->setObjectName(QStringLiteral("ID_FILE_SAVE_HEX"));
    save->setShortcut(QKeySequence::Save);
    connect(save, &QAction::triggered, this, &CDevToolDlg::OnSaveHexNetFile);
    QAction* verify = file->addAction(QStringLiteral("&Verify hexadecimal net file..."));
    verify->setObjectName(QStringLiteral("ID_FILE_VERIFY_HEX"));
    connect(verify, &QAction::triggered, this, &CDevToolDlg::OnVerifyHexNetFile);
    QAction* train = file->addAction(QStringLiteral("&Train network..."));
    train->setObjectName(QStringLiteral("ID_FILE_TRAIN"));
    connect(train, &QAction::triggered, this, &CDevToolDlg::OnTrainNetwork);
    file->addSeparator();
    m_recordAction = file->addAction(QStringLiteral("&Record values..."));
    m_recordAction->setObjectName(QStringLiteral("ID_FILE_RECORD"));
    connect(m_recordAction, &QAction::triggered, m_live, &CLiveViews::OnRecordValues);
    file->addSeparator();
    QAction* quit = file->addAction(QStringLiteral("&Quit"));
    quit->setObjectName(QStringLiteral("ID_FILE_QUIT"));
    quit->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_Q));
    connect(quit, &QAction::triggered, this, &CDevToolDlg::OnFileQuit);

    QMenu* view = m_menuBar->addMenu(QStringLiteral("&View"));
    m_compareHost = view->addAction(QStringLiteral("&Compare with host"));
    m_compareHost->setObjectName(QStringLiteral("ID_VIEW_COMPARE_HOST"));
    m_compareHost->setCheckable(true);
    // A refresh shows or hides the comparison at once.
    connect(m_compareHost, &QAction::toggled, this, &CDevToolDlg::OnEngineUpdate);
    connect(m_compareHost, &QAction::toggled, this, [this](bool on) {
        // Without weights there is nothing to compare with: say so, not nothing.
        if (on && !m_netLoaded) {
            ShowNotice(QStringLiteral("Compare with host needs a net file"),
                       QStringLiteral("Load one with File > Load ASCII net file; the host "
                                      "computes what the module should answer from it."));
        } else if (!on && m_notice.startsWith(QStringLiteral("Compare with host"))) {
            ShowNotice(QString());
        }
        UpdateInfo();
    });
    CreateCompareMenu(view);
    QAction* quantization = view->addAction(QStringLiteral("&Quantization report..."));
    quantization->setObjectName(QStringLiteral("ID_VIEW_QUANTIZATION"));
    connect(quantization, &QAction::triggered, this, &CDevToolDlg::OnViewQuantization);
    QAction* chart = view->addAction(QStringLiteral("C&hart"));
    chart->setObjectName(QStringLiteral("ID_VIEW_CHART"));
    connect(chart, &QAction::triggered, m_live, &CLiveViews::OnViewChart);

    QMenu* help = m_menuBar->addMenu(QStringLiteral("&Help"));
    QAction* about = help->addAction(QStringLiteral("&About Pelkora"));
    about->setObjectName(QStringLiteral("ID_HELP_ABOUT"));
    connect(about, &QAction::triggered, this, &CDevToolDlg::OnHelpAbout);
    // The About entry of the window's system menu cannot be had here: X11 and Wayland
    // window managers draw that menu themselves and offer no way to add to it. The
    // Help menu's entry opens the same box.
}

void CDevToolDlg::CreateCompareMenu(QMenu* view) {
    QMenu* tolerance = view->addMenu(QStringLiteral("Compare &tolerance"));
    tolerance->setObjectName(QStringLiteral("ID_VIEW_COMPARE_TOLERANCE"));
    auto* group = new QActionGroup(this);
    for (int lsb : kCompareTolerances) {
        QAction* action = tolerance->addAction(QStringLiteral("&%1 LSB").arg(lsb));
        action->setObjectName(QStringLiteral("ID_VIEW_COMPARE_TOLERANCE_%1").arg(lsb));
        action->setCheckable(true);
        action->setChecked(lsb == m_live->Comparison().Tolerance());
        group->addAction(action);
        connect(action, &QAction::triggered, this, [this, lsb] {
            m_live->Comparison().SetTolerance(lsb);
            // Counts made with another tolerance would mix two measures.
            m_live->Comparison().ClearCounts();
            if (m_haveReport) ShowReport(m_report);
        });
    }
    m_compareCounts = view->addAction(QString());
    m_compareCounts->setObjectName(QStringLiteral("ID_VIEW_COMPARE_CLEAR"));
    connect(m_compareCounts, &QAction::triggered, this, [this] {
        m_live->Comparison().ClearCounts();
        if (m_haveReport) ShowReport(m_report);  // the tooltips say the counts too
    });
    OnCompareCountsChanged();
}

void CDevToolDlg::OnCompareCountsChanged() {
    // The menu entry names what it clears: the mismatching passes of each output.
    const CHostComparison::Counts& counts = m_live->Comparison().GetCounts();
    QStringList perOutput;
    for (int k = 0; k < NET_OUTPUT_COUNT; ++k) perOutput << QString::number(counts.mismatches[k]);
    m_compareCounts->setText(QStringLiteral("C&lear compare counts (mismatches %1 of %2)")
                                 .arg(perOutput.join(QLatin1Char(' ')))
                                 .arg(counts.judged));
    if (m_info) UpdateInfo();
}

void CDevToolDlg::customEvent(QEvent* event) {
    if (event->type() == kEngineUpdateEvent) {
        m_poster->Acknowledge();
        OnEngineUpdate();
        return;
    }
    QDialog::customEvent(event);
}

bool CDevToolDlg::Comparing(std::int32_t mode) const {
    return m_compareHost->isChecked() && m_netLoaded && mode == MODE_MONITOR &&
           !m_training->Training();
}

void CDevToolDlg::OnEngineUpdate() {
    if (m_poster->TakeLatest(m_report)) {
        m_haveReport = true;
        if (m_report.kind == PassReport::Kind::Pass) {
            const auto now = std::chrono::steady_clock::now();
            m_health.Pass(m_report.mode, m_report.ok, m_report.failure, now,
                          std::chrono::system_clock::now());
            if (!m_report.ok) m_live->AddFailure(now);
            // Silence is noticed by the clock, not by a pass: only while a link runs.
            const bool link = m_report.mode == MODE_MONITOR || m_report.mode == MODE_EMULATOR;
            if (link && m_report.ok) m_staleTimer->start();
            if (!link) m_staleTimer->stop();
            UpdateLinkState();
        }
    }
    // Before the first report there is nothing to show (a toggle of the comparison).
    if (!m_haveReport) return;
    // The passes first, so the comparison's counts include the pass shown.
    m_live->TakePasses(Comparing(m_report.mode));
    ShowReport(m_report);
    if (m_live->Recording()) UpdateInfo();
}

void CDevToolDlg::UpdateLinkState() {
    const auto now = std::chrono::steady_clock::now();
    const bool stale = m_health.Stale(now);
    if (stale != m_stale) {
        m_stale = stale;
        for (QSlider* slider : m_sliderIn) {
            if (auto* bar = qobject_cast<CTrackBar*>(slider)) bar->SetStale(stale);
        }
        for (QSlider* slider : m_sliderOut) {
            if (auto* bar = qobject_cast<CTrackBar*>(slider)) bar->SetStale(stale);
        }
        m_live->SetStale(stale);
        if (m_haveReport) m_live->ShowComparison(Comparing(m_report.mode), m_report, stale);
    }
    // The status line keeps the engine's text; its tooltip says the rest.
    QStringList tip;
    tip << m_editStatus->text();
    const int port = m_comboPort->currentIndex() == 1 ? 1 : 0;
    tip << QStringLiteral("Port %1: %2")
               .arg(port == 0 ? QStringLiteral("COM1") : QStringLiteral("COM2"),
                    QString::fromStdString(m_engine.PortDevice(port)));
    if (m_haveReport && !m_report.ok) {
        tip << QStringLiteral("Cause: %1")
                   .arg(QString::fromStdString(LinkCauseText(
                       m_report.failure, m_engine.PortDevice(m_report.comPort == 0 ? 0 : 1))));
    }
    if (stale) {
        const auto since = m_health.SinceGood(now);
        tip << (since ? QStringLiteral("Values not current: last good pass %1 s ago")
                            .arg(std::chrono::duration<double>(*since).count(), 0, 'f', 1)
                      : QStringLiteral("Values not current: no good pass yet"));
    }
    for (const LinkHealth::Outage& outage : m_health.Outages()) {
        tip << QString::fromStdString(LinkHealth::OutageText(outage));
    }
    const QString text = tip.join(QLatin1Char('\n'));
    if (m_editStatus->toolTip() != text) m_editStatus->setToolTip(text);
}

void CDevToolDlg::ShowNotice(const QString& text, const QString& tip) {
    m_notice = text;
    m_noticeTip = tip;
    UpdateInfo();
}

void CDevToolDlg::UpdateInfo() {
    QStringList parts;
    QStringList tips;
    if (m_live->Recording()) {
        parts << m_live->RecordingText();
        tips << m_live->RecordingPath();
    }
    if (m_compareHost->isChecked() && m_netLoaded) {
        parts << m_live->Comparison().Summary();
    }
    if (!m_notice.isEmpty()) {
        parts << m_notice;
        if (!m_noticeTip.isEmpty()) tips << m_noticeTip;
    }
    m_infoText = parts.join(QStringLiteral("  |  "));
    const QMargins margins = m_info->contentsMargins();
    const QString shown = m_info->fontMetrics().elidedText(
        m_infoText, Qt::ElideRight, m_info->width() - margins.left() - margins.right());
    if (m_info->text() != shown) m_info->setText(shown);
    if (shown != m_infoText) tips.prepend(m_infoText);
    const QString tip = tips.join(QLatin1Char('\n'));
    if (m_info->toolTip() != tip) m_info->setToolTip(tip);
}

void CDevToolDlg::ShowWeightsSource(const QString& name, bool trainedNotSaved) {
    const QString base = QStringLiteral("Pelkora Development Tool");
    if (name.isEmpty() && !trainedNotSaved) {
        setWindowTitle(base);
        return;
    }
    const QString source = name.isEmpty()    ? QStringLiteral("trained, not saved")
                           : trainedNotSaved ? QStringLiteral("%1 (trained, not saved)").arg(name)
                                             : name;
    setWindowTitle(QStringLiteral("%1 - %2").arg(source, base));
}

void CDevToolDlg::ShowReport(const PassReport& report) {
    // An unchanged text is left alone, so the status line does not flicker.
    const QString text = QString::fromLocal8Bit(report.status.text);
    if (m_editStatus->text() != text) {
        m_editStatus->setText(text);
        // A read-only box shows a long text from its start, not its end; the
        // tooltip shows all of it.
        m_editStatus->setCursorPosition(0);
    }
    // The tooltip: all of the text, the port chosen now with its device (a port
    // server's address where COM1/COM2 is one), and what the link did.
    UpdateLinkState();
    // A report taken before the operator's last move would put the slider back.
    if (report.inputsSet >= m_inputsSet) {
        for (int k = 0; k < NET_INPUT_COUNT; ++k) ShowValue(m_sliderIn[k], report.inputs[k]);
    }
    // In training mode the output sliders hold what the operator set.
    if (!m_training->Training()) {
        for (int k = 0; k < NET_OUTPUT_COUNT; ++k) ShowValue(m_sliderOut[k], report.outputs[k]);
    }
    m_live->ShowComparison(Comparing(report.mode), report, m_stale);
}

void CDevToolDlg::OnVScroll() {
    // In Monitor and Emulator the inputs are the module's; the window never writes them.
    const int mode = m_modeGroup->checkedId();
    if (mode == MODE_MONITOR || mode == MODE_EMULATOR) return;
    NetInputs inputs{};
    for (int k = 0; k < NET_INPUT_COUNT; ++k) {
        inputs[k] = static_cast<std::uint16_t>(m_sliderIn[k]->value());
    }
    m_inputsSet = m_engine.SetInputs(inputs);
}

void CDevToolDlg::OnModeButton(int mode) {
    if (!m_engine.SetMode(mode)) return;
    // In Monitor and Emulator the worker reads the inputs from the target.
    const bool operatorInputs = mode != MODE_MONITOR && mode != MODE_EMULATOR;
    for (QSlider* slider : m_sliderIn) slider->setEnabled(operatorInputs);
}

void CDevToolDlg::OnSelchangeComPort(int index) {
    m_engine.SetComPort(index);
}

void CDevToolDlg::OnFileLoadAscii() {
    // The reminder of the layout comes first, however the operator closes it.
    m_seams.RunFileFormatDialog(this);
    const QString path = m_seams.GetOpenFileName(this, QStringLiteral("txt"));
    if (path.isEmpty()) return;
    LoadNetFile(path);
}

namespace {

// The one local file a drag carries, or an empty text.
QString DroppedFile(const QMimeData* data) {
    if (!data || !data->hasUrls() || data->urls().size() != 1) return {};
    const QUrl url = data->urls().constFirst();
    return url.isLocalFile() ? url.toLocalFile() : QString();
}

}  // namespace

void CDevToolDlg::dragEnterEvent(QDragEnterEvent* event) {
    if (!DroppedFile(event->mimeData()).isEmpty()) event->acceptProposedAction();
}

void CDevToolDlg::dropEvent(QDropEvent* event) {
    const QString path = DroppedFile(event->mimeData());
    if (path.isEmpty()) return;
    event->acceptProposedAction();
    // As "&Load ASCII net file", with the dropped file for the chosen one.
    m_seams.RunFileFormatDialog(this);
    LoadNetFile(path);
}

void CDevToolDlg::LoadNetFile(const QString& path) {
    // The file is read without the lock, with bounded waits (it may be a FIFO) and
    // off the UI thread, so the window keeps refreshing while it is read; only
    // whole sets are handed over.
    FileWeights weights{};
    const QString name = QFileInfo(path).fileName();
    const std::string file = QFile::encodeName(path).toStdString();
    const NetFileRead read =
        RunOffUiThread([&] { return ReadNetFile(file, name.toStdString(), weights); });
    if (read.result != FileResult::Ok) {
        m_seams.ShowMessage(this, QString::fromStdString(read.message));
        return;
    }
    m_engine.LoadWeights(weights);
    m_netLoaded = true;
    m_weightsName = name;
    SetTrainedUnsaved(false);
    if (m_notice.startsWith(QStringLiteral("Compare with host"))) ShowNotice(QString());
    // Counts against the weights before would mean nothing now.
    m_live->Comparison().Forget();
    m_live->Comparison().ClearCounts();
}

void CDevToolDlg::OnSaveHexNetFile() {
    RunSaveHexNetFileCommand(this, m_seams, m_engine);
}

void CDevToolDlg::OnVerifyHexNetFile() {
    RunVerifyHexNetFileCommand(this, m_seams, m_engine);
}

void CDevToolDlg::OnTrainNetwork() {
    // One dialog, not modal, kept while the window lives: it keeps its files,
    // settings and last result, and the window stays usable while it trains.
    if (!m_trainDlg) {
        m_trainDlg = new CTrainDlg(this, m_engine, m_seams);
        connect(m_trainDlg, &CTrainDlg::weightsUsed, this, [this] {
            m_netLoadedBeforeTrained = m_netLoaded;
            m_trainedUnsavedBeforeTrained = m_trainedUnsaved;
            m_weightsNameBeforeTrained = m_weightsName;
            m_netLoaded = true;
            // Counts against the weights before would mean nothing now.
            m_live->Comparison().Forget();
            m_live->Comparison().ClearCounts();
            SetTrainedUnsaved(true);
        });
        connect(m_trainDlg, &CTrainDlg::weightsUseUndone, this, [this] {
            m_netLoaded = m_netLoadedBeforeTrained;
            m_weightsName = m_weightsNameBeforeTrained;
            m_live->Comparison().Forget();
            m_live->Comparison().ClearCounts();
            SetTrainedUnsaved(m_trainedUnsavedBeforeTrained);
        });
        connect(m_trainDlg, &CTrainDlg::usedWeightsSaved, this, [this](const QString& path) {
            m_weightsName = QFileInfo(path).fileName();
            SetTrainedUnsaved(false);
        });
    }
    m_trainDlg->show();
    m_trainDlg->raise();
    m_trainDlg->activateWindow();
}

void CDevToolDlg::SetTrainedUnsaved(bool unsaved) {
    m_trainedUnsaved = unsaved;
    // Trained weights are no file's: the title says only that they are unsaved.
    ShowWeightsSource(unsaved ? QString() : m_weightsName, unsaved);
}

bool CDevToolDlg::MayClose() {
    if (m_closeConfirmed) return true;
    QString question;
    if (m_trainDlg && m_trainDlg->Training()) {
        question = QStringLiteral("A training run is under way. Quit and lose it?");
    } else if (m_trainedUnsaved) {
        question = QStringLiteral(
            "The engine computes with trained weights that are not saved. "
            "Quit and lose them?");
    } else {
        return true;
    }
    if (m_seams.Ask(this, question, {QStringLiteral("Quit"), QStringLiteral("Cancel")}) != 0) {
        return false;
    }
    m_closeConfirmed = true;
    return true;
}

void CDevToolDlg::OnFileQuit() {
    if (!MayClose()) return;
    m_engine.RequestStop();
    // The worker's waits end at the request, so this is short; the grace bounds it.
    (void)m_engine.WaitForWorker(std::chrono::milliseconds(kQuitGraceMs));
    accept();
}

void CDevToolDlg::OnViewQuantization() {
    // A copy, so the engine waits only for the copy, not for the report.
    CQuantizationDlg report(m_engine.CopyFileWeights(), m_seams, this);
    report.exec();
}

void CDevToolDlg::OnHelpAbout() {
    CAboutDlg about(this);
    about.exec();
}
void CDevToolDlg::done(int result) {
    if (!MayClose()) return;
    m_engine.Stop();
    QDialog::done(result);
}

void CDevToolDlg::keyPressEvent(QKeyEvent* event) {
    const int key = event->key();
    if ((key == Qt::Key_Return || key == Qt::Key_Enter) &&
        (event->modifiers() == Qt::NoModifier || event->modifiers() == Qt::KeypadModifier)) {
        // An open port list takes Enter as the choice, and only that.
        if (m_comboPort->view()->isVisible()) {
            m_comboPort->hidePopup();
            return;
        }
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
