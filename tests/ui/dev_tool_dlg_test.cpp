// The main window against the real worker: start state, refresh, operator actions,
// the load and store commands behind fake dialogs, and every way of closing.

#include <fcntl.h>
#include <stdlib.h>
#include <unistd.h>

#include <QAbstractItemView>
#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QElapsedTimer>
#include <QFile>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QMimeData>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QScreen>
#include <QScrollBar>
#include <QSet>
#include <QSlider>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <QToolButton>
#include <QUrl>
#include <cstdio>
#include <memory>
#include <mutex>
#include <sstream>

#include "engine_test_peer.h"
#include "network/quantization.h"

#include "engine/engine.h"
#include "network/evaluators.h"
#include "ui/dev_tool_dlg.h"
#include "ui/dev_tool_dlg_peer.h"
#include "ui/engine_update_poster.h"
#include "ui/fake_seams.h"
#include "ui/quantization_dlg.h"
#include "ui/track_bar.h"
#include "ui/training_panel.h"

namespace {

constexpr int kWait = 30000;  // ms; a wait costs only when it fails

QSlider* In(QWidget& dlg, int k) {
    return dlg.findChild<QSlider*>(QStringLiteral("IDC_SLIDER_IN%1").arg(k));
}
QSlider* Out(QWidget& dlg, int k) {
    return dlg.findChild<QSlider*>(QStringLiteral("IDC_SLIDER_OUT%1").arg(k));
}
template <typename T>
T* Control(QWidget& dlg, const char* name) {
    T* widget = dlg.findChild<T*>(QString::fromLatin1(name));
    if (!widget) qFatal("no control %s", name);
    return widget;
}
QString Status(QWidget& dlg) {
    return Control<QLineEdit>(dlg, "IDC_STATUS")->text();
}

// The engine of the window under test; made anew for each test.
Engine*& TestEngine() {
    static Engine* engine = nullptr;
    return engine;
}
bool IsEngineRunning() {
    return !TestEngine()->WaitForWorker(std::chrono::milliseconds(0));
}
StatusText GetStatus() {
    return EngineTestPeer::GetStatus(*TestEngine());
}

NetInputs Inputs() {
    std::lock_guard lock(EngineTestPeer::State(*TestEngine()).hMutex);
    return EngineTestPeer::State(*TestEngine()).wInputs;
}

// A weight set whose outputs differ from input to input.
FileWeights SampleWeights() {
    FileWeights weights{};
    for (int n = 0; n < NET_WEIGHT_COUNT; ++n) weights[n] = ((n * 7919) % 4001 - 2000) * 20000;
    return weights;
}

QString WriteFile(const QTemporaryDir& dir, const char* name, const QByteArray& content) {
    const QString path = dir.filePath(QString::fromLatin1(name));
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(content) != content.size()) {
        qFatal("cannot write %s", qPrintable(path));
    }
    return path;
}

QByteArray NetFileText(const FileWeights& weights) {
    QByteArray text;
    for (std::int32_t w : weights) text += QByteArray::number(w) + "\r\n";
    return text;
}

}  // namespace

class DevToolDlgTest : public QObject {
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup();

    void startState();
    void tabOrderIsTemplateOrder();
    void statusSettlesOnHold();
    void inputSliderWritesState_data();
    void inputSliderWritesState();
    void onlyAMovedInputSliderWritesInputs_data();
    void onlyAMovedInputSliderWritesInputs();
    void stateValueShowsOnSlider_data();
    void stateValueShowsOnSlider();
    void windowShowsExactlyTheReport();
    void statusTooltipNamesTheNetworkPort();
    void modeRadios_data();
    void modeRadios();
    void comPortChoice();
    void typedPortTextIsNoChoice_data();
    void typedPortTextIsNoChoice();
    void statusShowsItsStart();
    void sliderKeys_data();
    void sliderKeys();
    void outputsFollowFloatSimulation();
    void trainingModeFreezesOutputs();
    void upDownChoosesTrainingFile();
    void storeTrainingSet();
    void storeTrainingSetFailureShowsMessage();
    void enterOnStoreButtonStoresAndKeepsWindow();
    void loadCommand_data();
    void loadCommand();
    void droppedNetFileLoadsAfterTheNotice();
    void closePaths_data();
    void closePaths();
    void quitWhileReadingASilentModule();
    void viewMenuShowsQuantizationReport();
    void windowNamesItsState();
    void enterInAnOpenPortListOnlyChoosesIt();
    void statusTooltipSaysDeviceAndCause();
    void everyMenuEntryHasAMnemonic();

private:
    std::unique_ptr<CDevToolDlg> Open();

    QTemporaryDir m_dir;
    int m_silentModule = -1;  // master side of a pseudo-terminal nobody answers on
    FakeSeams m_seams;
    std::unique_ptr<Engine> m_engine;
    std::unique_ptr<CDevToolDlg> m_dlg;
};

void DevToolDlgTest::initTestCase() {
    QVERIFY(m_dir.isValid());
    // Training files go to the current directory.
    QVERIFY(QDir::setCurrent(m_dir.path()));
    // COM1 is a module that never answers; COM2 does not exist. No real port is used.
    m_silentModule = posix_openpt(O_RDWR | O_NOCTTY);
    QVERIFY(m_silentModule >= 0);
    QVERIFY(grantpt(m_silentModule) == 0 && unlockpt(m_silentModule) == 0);
    qputenv("PELKORA_COM1", ptsname(m_silentModule));
    qputenv("PELKORA_COM2", QFile::encodeName(m_dir.filePath(QStringLiteral("no-such-port"))));
}

void DevToolDlgTest::init() {
    m_seams = FakeSeams();
    // COM1 and COM2 as initTestCase set them; all-zero weights.
    m_engine = std::make_unique<Engine>();
    TestEngine() = m_engine.get();
}

void DevToolDlgTest::cleanup() {
    m_dlg.reset();
    QVERIFY(!IsEngineRunning());
}

std::unique_ptr<CDevToolDlg> DevToolDlgTest::Open() {
    auto dlg = std::make_unique<CDevToolDlg>(*m_engine, m_seams);
    dlg->show();
    return dlg;
}

void DevToolDlgTest::startState() {
    m_dlg = std::make_unique<CDevToolDlg>(*m_engine, m_seams);
    CDevToolDlg& dlg = *m_dlg;
    // Before the first refresh.
    QCOMPARE(Status(dlg), QStringLiteral("Waiting launch of real-time thread"));
    QCOMPARE(dlg.windowTitle(), QStringLiteral("Pelkora Development Tool"));
    QVERIFY(Control<QRadioButton>(dlg, "IDC_MODE_HOLD")->isChecked());
    QVERIFY(!Control<QCheckBox>(dlg, "IDC_TRAINING_MODE")->isChecked());
    QCOMPARE(Control<QComboBox>(dlg, "IDC_COM_PORT")->currentText(), QStringLiteral("COM1"));
    QCOMPARE(Control<QComboBox>(dlg, "IDC_COM_PORT")->count(), 2);
    auto* trainFile = Control<QLineEdit>(dlg, "IDC_TRAIN_FILE");
    QCOMPARE(trainFile->text(), QStringLiteral("train000.txt"));
    QVERIFY(!trainFile->isEnabled());
    QVERIFY(!Control<QPushButton>(dlg, "IDC_STORE_TRAINING_SET")->isEnabled());
    QVERIFY(Control<QLineEdit>(dlg, "IDC_STATUS")->isReadOnly());
    for (int k = 1; k <= 8; ++k) {
        QVERIFY(In(dlg, k)->isEnabled());
        QVERIFY(!Out(dlg, k)->isEnabled());
        QCOMPARE(In(dlg, k)->value(), 0);
        QCOMPARE(Out(dlg, k)->value(), 0);
    }
    // The engine runs from the start, in Hold.
    QVERIFY(IsEngineRunning());
    std::lock_guard lock(EngineTestPeer::State(*TestEngine()).hMutex);
    QCOMPARE(EngineTestPeer::State(*TestEngine()).nMode, MODE_HOLD);
    QCOMPARE(EngineTestPeer::State(*TestEngine()).nComPort, 0);
}

void DevToolDlgTest::tabOrderIsTemplateOrder() {
    m_dlg = Open();
    QStringList chain;
    QWidget* first = In(*m_dlg, 1);
    for (QWidget* w = first; chain.isEmpty() || w != first; w = w->nextInFocusChain()) {
        if (w->objectName().startsWith(QLatin1String("IDC_"))) chain << w->objectName();
        if (chain.size() > 100) break;
    }
    const QStringList expected = {
        "IDC_SLIDER_IN1",    "IDC_SLIDER_IN2",         "IDC_SLIDER_IN3",   "IDC_SLIDER_IN4",
        "IDC_SLIDER_IN5",    "IDC_SLIDER_IN6",         "IDC_SLIDER_IN7",   "IDC_SLIDER_IN8",
        "IDC_TRAINING_MODE", "IDC_STORE_TRAINING_SET", "IDC_TRAIN_FILE",   "IDC_SLIDER_OUT1",
        "IDC_SLIDER_OUT2",   "IDC_SLIDER_OUT3",        "IDC_SLIDER_OUT4",  "IDC_SLIDER_OUT5",
        "IDC_SLIDER_OUT6",   "IDC_SLIDER_OUT7",        "IDC_SLIDER_OUT8",  "IDC_COM_PORT",
        "IDC_STATUS",        "IDC_TRAIN_SPIN",         "IDC_MODE_MONITOR", "IDC_MODE_SIM_FLOAT",
        "IDC_MODE_SIM_INT",  "IDC_MODE_EMULATOR",      "IDC_MODE_HOLD",
    };
    QCOMPARE(chain, expected);
    // The status line and the arrows are no tab stops; focus starts on input 1.
    QVERIFY(!(Control<QLineEdit>(*m_dlg, "IDC_STATUS")->focusPolicy() & Qt::TabFocus));
    QVERIFY(!(Control<QWidget>(*m_dlg, "IDC_TRAIN_SPIN")->focusPolicy() & Qt::TabFocus));
    QCOMPARE(m_dlg->focusWidget(), In(*m_dlg, 1));
}

void DevToolDlgTest::statusSettlesOnHold() {
    m_dlg = std::make_unique<CDevToolDlg>(*m_engine, m_seams);
    QCOMPARE(Status(*m_dlg), QStringLiteral("Waiting launch of real-time thread"));
    m_dlg->show();
    QTRY_COMPARE_WITH_TIMEOUT(Status(*m_dlg), QStringLiteral("Hold..."), kWait);
}

void DevToolDlgTest::inputSliderWritesState_data() {
    QTest::addColumn<QString>("mode");
    QTest::addColumn<int>("slider");
    QTest::addColumn<int>("value");
    QTest::newRow("slider 3 to the top, float simulation") << "IDC_MODE_SIM_FLOAT" << 3 << 255;
    QTest::newRow("slider 1 to the middle, hold") << "IDC_MODE_HOLD" << 1 << 128;
    QTest::newRow("slider 8 to 1, integer simulation") << "IDC_MODE_SIM_INT" << 8 << 1;
}

void DevToolDlgTest::inputSliderWritesState() {
    QFETCH(QString, mode);
    QFETCH(int, slider);
    QFETCH(int, value);
    m_dlg = Open();
    Control<QRadioButton>(*m_dlg, qPrintable(mode))->click();
    In(*m_dlg, slider)->setValue(value);
    NetInputs expected{};
    expected[slider - 1] = static_cast<std::uint16_t>(value);
    QCOMPARE(Inputs(), expected);
    // Refreshes bring the same value back: the slider stays where it was put.
    QTRY_VERIFY_WITH_TIMEOUT(Status(*m_dlg) != QStringLiteral("Waiting launch of real-time thread"),
                             kWait);
    QTest::qWait(200);
    QCOMPARE(In(*m_dlg, slider)->value(), value);
    QCOMPARE(Inputs(), expected);
}

void DevToolDlgTest::onlyAMovedInputSliderWritesInputs_data() {
    QTest::addColumn<QString>("mode");
    QTest::addColumn<QString>("action");
    QTest::newRow("emulator, file arrow") << "IDC_MODE_EMULATOR"
                                          << "arrow";
    QTest::newRow("emulator, output slider") << "IDC_MODE_EMULATOR"
                                             << "output";
    QTest::newRow("emulator, input slider") << "IDC_MODE_EMULATOR"
                                            << "input";
    QTest::newRow("monitor, input slider") << "IDC_MODE_MONITOR"
                                           << "input";
    QTest::newRow("monitor, file arrow") << "IDC_MODE_MONITOR"
                                         << "arrow";
    QTest::newRow("integer, output slider") << "IDC_MODE_SIM_INT"
                                            << "output";
    QTest::newRow("hold, file arrow") << "IDC_MODE_HOLD"
                                      << "arrow";
}

void DevToolDlgTest::onlyAMovedInputSliderWritesInputs() {
    QFETCH(QString, mode);
    QFETCH(QString, action);
    m_dlg = Open();
    Control<QRadioButton>(*m_dlg, qPrintable(mode))->click();
    QTest::mouseClick(Control<QCheckBox>(*m_dlg, "IDC_TRAINING_MODE"), Qt::LeftButton);
    // What a module's "I" reply leaves there; no refresh runs before the action, so
    // the sliders still show zeros that a write would copy over it.
    NetInputs module{};
    module.fill(77);
    {
        std::lock_guard lock(EngineTestPeer::State(*TestEngine()).hMutex);
        EngineTestPeer::State(*TestEngine()).wInputs = module;
    }
    if (action == QLatin1String("arrow")) {
        auto* spin = Control<QWidget>(*m_dlg, "IDC_TRAIN_SPIN");
        QTest::mouseClick(spin->findChild<QToolButton*>(QStringLiteral("up")), Qt::LeftButton);
    } else if (action == QLatin1String("output")) {
        Out(*m_dlg, 4)->setValue(200);
    } else {
        In(*m_dlg, 4)->setValue(200);  // a disabled slider moved by a program, not a person
    }
    QCOMPARE(Inputs(), module);
}

void DevToolDlgTest::stateValueShowsOnSlider_data() {
    QTest::addColumn<int>("state");
    QTest::addColumn<int>("shown");
    QTest::newRow("middle") << 128 << 128;
    QTest::newRow("top") << 255 << 255;
    QTest::newRow("above the range shows at the top") << 300 << 255;
}

void DevToolDlgTest::stateValueShowsOnSlider() {
    QFETCH(int, state);
    QFETCH(int, shown);
    m_dlg = Open();
    QTRY_COMPARE_WITH_TIMEOUT(Status(*m_dlg), QStringLiteral("Hold..."), kWait);
    {
        // What the Monitor step does with the module's values.
        std::lock_guard lock(EngineTestPeer::State(*TestEngine()).hMutex);
        EngineTestPeer::State(*TestEngine()).wInputs[4] = static_cast<std::uint16_t>(state);
        EngineTestPeer::State(*TestEngine()).wOutputs[6] = static_cast<std::uint16_t>(state);
    }
    QTRY_COMPARE_WITH_TIMEOUT(In(*m_dlg, 5)->value(), shown, kWait);
    QTRY_COMPARE_WITH_TIMEOUT(Out(*m_dlg, 7)->value(), shown, kWait);
    // Showing a value is not an operator's move: the state keeps what was there.
    QCOMPARE(Inputs()[4], static_cast<std::uint16_t>(state));
}

void DevToolDlgTest::windowShowsExactlyTheReport() {
    m_dlg = Open();
    QTRY_COMPARE_WITH_TIMEOUT(Status(*m_dlg), QStringLiteral("Hold..."), kWait);
    In(*m_dlg, 2)->setValue(9);  // the operator's move: the engine counts one SetInputs
    TestEngine()->Stop();
    {
        // The block says something else than the report: the window must not look.
        std::lock_guard lock(EngineTestPeer::State(*TestEngine()).hMutex);
        EngineTestPeer::State(*TestEngine()).wInputs.fill(1);
        EngineTestPeer::State(*TestEngine()).wOutputs.fill(2);
        std::snprintf(EngineTestPeer::State(*TestEngine()).szStatus, kStatusTextSize, "%s",
                      "from the block");
    }
    PassReport report;
    report.mode = MODE_HOLD;
    std::snprintf(report.status.text, kStatusTextSize, "%s",
                  "Local simulation of the network (float numbers), a long text to read");
    for (int k = 0; k < 8; ++k) {
        report.inputs[k] = static_cast<std::uint16_t>(10 + k);
        report.outputs[k] = static_cast<std::uint16_t>(200 + k);
    }
    // Copied before the operator's move: its inputs would put slider 2 back.
    report.inputsSet = 0;
    CDevToolDlgTestPeer::Poster(*m_dlg).Notify(report);
    QTRY_COMPARE_WITH_TIMEOUT(Out(*m_dlg, 8)->value(), 207, kWait);
    QCOMPARE(In(*m_dlg, 2)->value(), 9);
    QCOMPARE(In(*m_dlg, 1)->value(), 0);
    report.inputsSet = 1;
    CDevToolDlgTestPeer::Poster(*m_dlg).Notify(report);
    QTRY_COMPARE_WITH_TIMEOUT(In(*m_dlg, 2)->value(), 11, kWait);
    for (int k = 1; k <= 8; ++k) {
        QCOMPARE(In(*m_dlg, k)->value(), 9 + k);
        QCOMPARE(Out(*m_dlg, k)->value(), 199 + k);
        // The only numeric readout follows a value the engine set.
        QCOMPARE(Out(*m_dlg, k)->toolTip(), QString::number(199 + k));
    }
    const QString text = QString::fromLatin1(report.status.text);
    QCOMPARE(Status(*m_dlg), text);
    // The box is too narrow for it: the whole text is in its tooltip, first.
    QCOMPARE(Control<QLineEdit>(*m_dlg, "IDC_STATUS")->toolTip().section(QLatin1Char('\n'), 0, 0),
             text);
}

void DevToolDlgTest::statusTooltipNamesTheNetworkPort() {
    // COM1 on a port server (nothing listens there), COM2 a local device.
    PortMap ports;
    ports.ports[0] = {"rfc2217://127.0.0.1:9", "COM1"};
    ports.ports[1] = {m_dir.filePath(QStringLiteral("no-such-port")).toStdString(), "COM2"};
    m_engine = std::make_unique<Engine>(nullptr, ports);
    TestEngine() = m_engine.get();
    m_dlg = Open();
    QTRY_COMPARE_WITH_TIMEOUT(Status(*m_dlg), QStringLiteral("Hold..."), kWait);
    auto* status = Control<QLineEdit>(*m_dlg, "IDC_STATUS");
    QCOMPARE(status->toolTip(), QStringLiteral("Hold...\nPort COM1: rfc2217://127.0.0.1:9"));
    auto* combo = Control<QComboBox>(*m_dlg, "IDC_COM_PORT");
    combo->setCurrentIndex(1);
    emit combo->activated(1);
    // The next report, with the same text, names the port chosen now.
    QTRY_COMPARE_WITH_TIMEOUT(
        status->toolTip(),
        QStringLiteral("Hold...\nPort COM2: ") + QString::fromStdString(ports.ports[1].device),
        kWait);
}

void DevToolDlgTest::modeRadios_data() {
    QTest::addColumn<QString>("radio");
    QTest::addColumn<int>("mode");
    QTest::addColumn<bool>("inputsEnabled");
    QTest::newRow("monitor") << "IDC_MODE_MONITOR" << int(MODE_MONITOR) << false;
    QTest::newRow("float") << "IDC_MODE_SIM_FLOAT" << int(MODE_SIM_FLOAT) << true;
    QTest::newRow("integer") << "IDC_MODE_SIM_INT" << int(MODE_SIM_INT) << true;
    QTest::newRow("emulator") << "IDC_MODE_EMULATOR" << int(MODE_EMULATOR) << false;
    QTest::newRow("hold") << "IDC_MODE_HOLD" << int(MODE_HOLD) << true;
}

void DevToolDlgTest::modeRadios() {
    QFETCH(QString, radio);
    QFETCH(int, mode);
    QFETCH(bool, inputsEnabled);
    m_dlg = Open();
    // From a mode of the other kind, so the enabling really has to change.
    Control<QRadioButton>(*m_dlg, inputsEnabled ? "IDC_MODE_EMULATOR" : "IDC_MODE_SIM_INT")
        ->click();
    QTest::mouseClick(Control<QRadioButton>(*m_dlg, qPrintable(radio)), Qt::LeftButton);
    {
        std::lock_guard lock(EngineTestPeer::State(*TestEngine()).hMutex);
        QCOMPARE(EngineTestPeer::State(*TestEngine()).nMode, mode);
    }
    for (int k = 1; k <= 8; ++k) {
        QCOMPARE(In(*m_dlg, k)->isEnabled(), inputsEnabled);
        QVERIFY(!Out(*m_dlg, k)->isEnabled());  // the mode leaves the outputs alone
    }
    // The worker takes the mode up and says so.
    static const QHash<int, QString> statusOf = {
        {MODE_SIM_FLOAT, QString::fromLatin1(kStatusSimFloat)},
        {MODE_SIM_INT, QString::fromLatin1(kStatusSimInt)},
        {MODE_HOLD, QString::fromLatin1(kStatusHold)},
    };
    if (statusOf.contains(mode)) QTRY_COMPARE_WITH_TIMEOUT(Status(*m_dlg), statusOf[mode], kWait);
}

void DevToolDlgTest::comPortChoice() {
    m_dlg = Open();
    auto* combo = Control<QComboBox>(*m_dlg, "IDC_COM_PORT");
    // Chosen from the list with the arrow keys, as the operator does.
    QTest::keyClick(combo, Qt::Key_Down);
    QCOMPARE(combo->currentIndex(), 1);
    {
        std::lock_guard lock(EngineTestPeer::State(*TestEngine()).hMutex);
        QCOMPARE(EngineTestPeer::State(*TestEngine()).nComPort, 1);
    }
    QTest::keyClick(combo, Qt::Key_Up);
    QCOMPARE(combo->currentIndex(), 0);
    {
        std::lock_guard lock(EngineTestPeer::State(*TestEngine()).hMutex);
        QCOMPARE(EngineTestPeer::State(*TestEngine()).nComPort, 0);
    }
    // Text typed into the box is no choice.
    combo->setEditText(QStringLiteral("COM7"));
    std::lock_guard lock(EngineTestPeer::State(*TestEngine()).hMutex);
    QCOMPARE(EngineTestPeer::State(*TestEngine()).nComPort, 0);
}

void DevToolDlgTest::typedPortTextIsNoChoice_data() {
    QTest::addColumn<QString>("typed");
    QTest::addColumn<bool>("byReturn");  // else by leaving the field
    QTest::newRow("item text, focus out") << QStringLiteral("COM2") << false;
    QTest::newRow("other case, focus out") << QStringLiteral("com2") << false;
    QTest::newRow("item text, Return") << QStringLiteral("COM2") << true;
}

void DevToolDlgTest::typedPortTextIsNoChoice() {
    QFETCH(QString, typed);
    QFETCH(bool, byReturn);
    m_dlg = Open();
    auto* combo = Control<QComboBox>(*m_dlg, "IDC_COM_PORT");
    QLineEdit* edit = combo->lineEdit();
    QVERIFY(edit);
    edit->selectAll();
    QTest::keyClicks(edit, typed);
    QCOMPARE(edit->text(), typed);
    if (byReturn) {
        QTest::keyClick(edit, Qt::Key_Return);
    } else {
        QFocusEvent focusOut(QEvent::FocusOut, Qt::TabFocusReason);
        QCoreApplication::sendEvent(edit, &focusOut);
    }
    QCOMPARE(combo->currentIndex(), 0);
    std::lock_guard lock(EngineTestPeer::State(*TestEngine()).hMutex);
    QCOMPARE(EngineTestPeer::State(*TestEngine()).nComPort, 0);
}

void DevToolDlgTest::statusShowsItsStart() {
    m_dlg = Open();
    auto* status = Control<QLineEdit>(*m_dlg, "IDC_STATUS");
    for (const char* mode : {"IDC_MODE_SIM_FLOAT", "IDC_MODE_SIM_INT"}) {
        Control<QRadioButton>(*m_dlg, mode)->click();
        QTRY_VERIFY_WITH_TIMEOUT(status->text().startsWith(QLatin1String("Local")), kWait);
        QCOMPARE(status->cursorPosition(), 0);
    }
}

void DevToolDlgTest::sliderKeys_data() {
    QTest::addColumn<int>("key");
    QTest::addColumn<int>("expected");  // from value 100
    QTest::newRow("Home to the top") << int(Qt::Key_Home) << 255;
    QTest::newRow("End to the bottom") << int(Qt::Key_End) << 0;
    QTest::newRow("Up") << int(Qt::Key_Up) << 101;
    QTest::newRow("Down") << int(Qt::Key_Down) << 99;
    QTest::newRow("PageUp") << int(Qt::Key_PageUp) << 151;
    QTest::newRow("PageDown") << int(Qt::Key_PageDown) << 49;
}

void DevToolDlgTest::sliderKeys() {
    QFETCH(int, key);
    QFETCH(int, expected);
    m_dlg = Open();
    for (QSlider* slider : {In(*m_dlg, 1), In(*m_dlg, 8), Out(*m_dlg, 1), Out(*m_dlg, 8)}) {
        slider->setEnabled(true);
        slider->setValue(100);
        QTest::keyClick(slider, static_cast<Qt::Key>(key));
        QCOMPARE(slider->value(), expected);
        QCOMPARE(slider->toolTip(), QString::number(expected));
    }
    QCOMPARE(Inputs()[0], expected);
}

void DevToolDlgTest::outputsFollowFloatSimulation() {
    const FileWeights weights = SampleWeights();
    m_seams.openAnswer = WriteFile(m_dir, "net.txt", NetFileText(weights));
    m_dlg = Open();
    m_dlg->findChild<QAction*>(QStringLiteral("ID_FILE_LOAD_ASCII"))->trigger();
    QVERIFY(m_seams.messages.isEmpty());
    Control<QRadioButton>(*m_dlg, "IDC_MODE_SIM_FLOAT")->click();

    const int values[8] = {255, 0, 128, 40, 200, 17, 99, 255};
    NetInputs inputs{};
    for (int k = 0; k < 8; ++k) {
        In(*m_dlg, k + 1)->setValue(values[k]);
        inputs[k] = static_cast<std::uint16_t>(values[k]);
    }
    const NetOutputs expected = EvaluateFloat(inputs, weights);
    QVERIFY2(expected != NetOutputs{}, "the sample network must give something to see");
    auto shown = [this] {
        NetOutputs out{};
        for (int k = 0; k < 8; ++k)
            out[k] = static_cast<std::uint16_t>(Out(*m_dlg, k + 1)->value());
        return out;
    };
    QTRY_COMPARE_WITH_TIMEOUT(shown(), expected, kWait);
    QCOMPARE(Status(*m_dlg), QString::fromLatin1(kStatusSimFloat));
}

void DevToolDlgTest::trainingModeFreezesOutputs() {
    m_dlg = Open();
    auto* training = Control<QCheckBox>(*m_dlg, "IDC_TRAINING_MODE");
    auto* store = Control<QPushButton>(*m_dlg, "IDC_STORE_TRAINING_SET");
    QTest::mouseClick(training, Qt::LeftButton);
    QVERIFY(training->isChecked());
    QVERIFY(store->isEnabled());
    for (int k = 1; k <= 8; ++k) QVERIFY(Out(*m_dlg, k)->isEnabled());

    Out(*m_dlg, 2)->setValue(10);
    {
        std::lock_guard lock(EngineTestPeer::State(*TestEngine()).hMutex);
        EngineTestPeer::State(*TestEngine()).wOutputs.fill(77);
        EngineTestPeer::State(*TestEngine()).wInputs[0] = 33;
    }
    // Inputs still follow the state; the operator's outputs stay.
    QTRY_COMPARE_WITH_TIMEOUT(In(*m_dlg, 1)->value(), 33, kWait);
    QTest::qWait(200);
    QCOMPARE(Out(*m_dlg, 2)->value(), 10);
    QCOMPARE(Out(*m_dlg, 1)->value(), 0);

    // Off again: the outputs follow the engine once more.
    QTest::mouseClick(training, Qt::LeftButton);
    QVERIFY(!store->isEnabled());
    for (int k = 1; k <= 8; ++k) QVERIFY(!Out(*m_dlg, k)->isEnabled());
    QTRY_COMPARE_WITH_TIMEOUT(Out(*m_dlg, 2)->value(), 77, kWait);
}

void DevToolDlgTest::upDownChoosesTrainingFile() {
    m_dlg = Open();
    auto* spin = Control<QWidget>(*m_dlg, "IDC_TRAIN_SPIN");
    auto* up = spin->findChild<QToolButton*>(QStringLiteral("up"));
    auto* down = spin->findChild<QToolButton*>(QStringLiteral("down"));
    auto* name = Control<QLineEdit>(*m_dlg, "IDC_TRAIN_FILE");
    struct Step {
        QToolButton* arrow;
        const char* shown;
    };
    const Step steps[] = {
        {down, "train000.txt"},  // 0 stays 0
        {up, "train001.txt"},
        {up, "train002.txt"},
        {down, "train001.txt"},
    };
    for (const Step& step : steps) {
        QTest::mouseClick(step.arrow, Qt::LeftButton);
        QCOMPARE(name->text(), QString::fromLatin1(step.shown));
    }
    CDevToolDlgTestPeer::TrainingPanel(*m_dlg).SetFileNumber(65535);
    QTest::mouseClick(up, Qt::LeftButton);
    QCOMPARE(name->text(), QStringLiteral("train000.txt"));
    CDevToolDlgTestPeer::TrainingPanel(*m_dlg).SetFileNumber(999);
    QTest::mouseClick(up, Qt::LeftButton);
    QCOMPARE(name->text(), QStringLiteral("train1000.txt"));
    // Works outside training mode too, and the box stays disabled.
    QVERIFY(!name->isEnabled());
}

void DevToolDlgTest::storeTrainingSet() {
    QFile::remove(QStringLiteral("train005.txt"));
    m_dlg = Open();
    CDevToolDlgTestPeer::TrainingPanel(*m_dlg).SetFileNumber(5);
    QTest::mouseClick(Control<QCheckBox>(*m_dlg, "IDC_TRAINING_MODE"), Qt::LeftButton);
    for (int k = 1; k <= 8; ++k) {
        In(*m_dlg, k)->setValue(10 * k);
        Out(*m_dlg, k)->setValue(k == 8 ? 255 : 0);
    }
    auto* store = Control<QPushButton>(*m_dlg, "IDC_STORE_TRAINING_SET");
    QTest::mouseClick(store, Qt::LeftButton);
    QTest::mouseClick(store, Qt::LeftButton);
    QVERIFY(m_seams.messages.isEmpty());
    QFile file(QStringLiteral("train005.txt"));
    QVERIFY(file.open(QIODevice::ReadOnly));
    const QByteArray line = "10\t20\t30\t40\t50\t60\t70\t80\t0\t0\t0\t0\t0\t0\t0\t255\r\n";
    QCOMPARE(file.readAll(),
             "in1\tin2\tin3\tin4\tin5\tin6\tin7\tin8\tout1\tout2\tout3\tout4\tout5\tout6\tout7\tout"
             "8\r\n" +
                 line + line);
}

void DevToolDlgTest::storeTrainingSetFailureShowsMessage() {
    // A folder where the file should be: the file cannot be opened.
    QVERIFY(QDir().mkpath(QStringLiteral("train007.txt")));
    m_dlg = Open();
    CDevToolDlgTestPeer::TrainingPanel(*m_dlg).SetFileNumber(7);
    QTest::mouseClick(Control<QCheckBox>(*m_dlg, "IDC_TRAINING_MODE"), Qt::LeftButton);
    QTest::mouseClick(Control<QPushButton>(*m_dlg, "IDC_STORE_TRAINING_SET"), Qt::LeftButton);
    QCOMPARE(m_seams.messages,
             QStringList{QStringLiteral("File opening failed. Check file name...")});
}

void DevToolDlgTest::enterOnStoreButtonStoresAndKeepsWindow() {
    QFile::remove(QStringLiteral("train009.txt"));
    m_dlg = Open();
    CDevToolDlgTestPeer::TrainingPanel(*m_dlg).SetFileNumber(9);
    QTest::mouseClick(Control<QCheckBox>(*m_dlg, "IDC_TRAINING_MODE"), Qt::LeftButton);
    auto* store = Control<QPushButton>(*m_dlg, "IDC_STORE_TRAINING_SET");
    store->setFocus();
    QTest::keyClick(store, Qt::Key_Return);
    QVERIFY(m_dlg->isVisible());
    QVERIFY(IsEngineRunning());
    QVERIFY(QFile::exists(QStringLiteral("train009.txt")));
}

void DevToolDlgTest::loadCommand_data() {
    QTest::addColumn<QString>("file");  // "" = the dialog is cancelled
    QTest::addColumn<QByteArray>("content");
    QTest::addColumn<QString>("message");
    QTest::addColumn<bool>("loaded");
    QTest::newRow("cancel") << QString() << QByteArray() << QString() << false;
    QTest::newRow("missing file") << "missing.txt" << QByteArray() << "Error opening file" << false;
    QTest::newRow("bad file") << "bad.txt" << QByteArray("1 2 3 x")
                              << "Error reading file: bad.txt: line 1: 'x' is not a number"
                              << false;
    QTest::newRow("279 values") << "short.txt" << QByteArray("5\n").repeated(279)
                                << "Error reading file: short.txt: line 280: the file ends after "
                                   "279 of 280 values"
                                << false;
    QTest::newRow("bad value on line 3")
        << "octal.txt" << QByteArray("1\n2\n3 08\n") + QByteArray("5\n").repeated(277)
        << "Error reading file: octal.txt: line 3: '08' is not a number" << false;
    QTest::newRow("good file") << "good.txt" << NetFileText(SampleWeights()) << QString() << true;
}

void DevToolDlgTest::loadCommand() {
    QFETCH(QString, file);
    QFETCH(QByteArray, content);
    QFETCH(QString, message);
    QFETCH(bool, loaded);
    if (!file.isEmpty()) {
        m_seams.openAnswer = m_dir.filePath(file);
        if (!content.isEmpty()) WriteFile(m_dir, qPrintable(file), content);
    }
    m_dlg = Open();
    // A known weight set before the command; a failed load must leave it alone.
    FileWeights before{};
    before.fill(12'345'678);
    {
        std::lock_guard lock(EngineTestPeer::State(*TestEngine()).hMutex);
        EngineTestPeer::State(*TestEngine()).lFileWeights = before;
        EngineTestPeer::State(*TestEngine()).sModuleWeights = DeriveModuleWeights(before);
    }
    m_dlg->findChild<QAction*>(QStringLiteral("ID_FILE_LOAD_ASCII"))->trigger();

    QCOMPARE(m_seams.fileFormatShown, 1);  // always, whatever follows
    QCOMPARE(m_seams.openAsked, 1);
    QCOMPARE(m_seams.openSuffix, QStringLiteral("txt"));
    QCOMPARE(m_seams.messages, message.isEmpty() ? QStringList() : QStringList{message});
    const FileWeights expected = loaded ? SampleWeights() : before;
    std::lock_guard lock(EngineTestPeer::State(*TestEngine()).hMutex);
    QVERIFY(EngineTestPeer::State(*TestEngine()).lFileWeights == expected);
    QVERIFY(EngineTestPeer::State(*TestEngine()).sModuleWeights == DeriveModuleWeights(expected));
}

void DevToolDlgTest::droppedNetFileLoadsAfterTheNotice() {
    const QString path = WriteFile(m_dir, "dropped.txt", NetFileText(SampleWeights()));
    m_dlg = Open();
    QMimeData data;
    data.setUrls({QUrl::fromLocalFile(path)});
    QDragEnterEvent enter(QPoint(10, 10), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
    QCoreApplication::sendEvent(m_dlg.get(), &enter);
    QVERIFY(enter.isAccepted());
    QDropEvent drop(QPointF(10, 10), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
    QCoreApplication::sendEvent(m_dlg.get(), &drop);
    QCOMPARE(m_seams.fileFormatShown, 1);
    QCOMPARE(m_seams.openAsked, 0);  // the dropped file is the one chosen
    QVERIFY(m_seams.messages.isEmpty());
    QVERIFY(TestEngine()->CopyFileWeights() == SampleWeights());
}

void DevToolDlgTest::closePaths_data() {
    QTest::addColumn<QString>("how");
    QTest::addColumn<int>("result");
    QTest::newRow("quit") << "quit" << int(QDialog::Accepted);
    QTest::newRow("close box") << "close" << int(QDialog::Rejected);
    QTest::newRow("escape") << "escape" << int(QDialog::Rejected);
    QTest::newRow("enter") << "enter" << int(QDialog::Accepted);
    QTest::newRow("enter in the port box") << "enter-combo" << int(QDialog::Accepted);
    QTest::newRow("escape in the port box") << "escape-combo" << int(QDialog::Rejected);
    QTest::newRow("destroyed while open") << "destroy" << -1;
}

void DevToolDlgTest::closePaths() {
    QFETCH(QString, how);
    QFETCH(int, result);
    m_dlg = Open();
    QTRY_COMPARE_WITH_TIMEOUT(Status(*m_dlg), QStringLiteral("Hold..."), kWait);
    QVERIFY(IsEngineRunning());
    if (how == QLatin1String("quit")) {
        m_dlg->findChild<QAction*>(QStringLiteral("ID_FILE_QUIT"))->trigger();
    } else if (how == QLatin1String("close")) {
        QVERIFY(m_dlg->close());
    } else if (how == QLatin1String("escape")) {
        QTest::keyClick(In(*m_dlg, 1), Qt::Key_Escape);
    } else if (how == QLatin1String("enter")) {
        QTest::keyClick(In(*m_dlg, 1), Qt::Key_Return);
    } else if (how.endsWith(QLatin1String("-combo"))) {
        auto* combo = Control<QComboBox>(*m_dlg, "IDC_COM_PORT");
        combo->setFocus();
        QTest::keyClick(combo->lineEdit(),
                        how.startsWith(QLatin1String("enter")) ? Qt::Key_Return : Qt::Key_Escape);
    } else {
        m_dlg.reset();
    }
    // The worker is stopped and joined before the window is gone.
    QVERIFY(!IsEngineRunning());
    if (m_dlg) {
        QVERIFY(!m_dlg->isVisible());
        QCOMPARE(m_dlg->result(), result);
        // Refreshes still in the queue find a live window and change nothing.
        QTest::qWait(100);
    }
}

void DevToolDlgTest::quitWhileReadingASilentModule() {
    m_dlg = Open();
    Control<QRadioButton>(*m_dlg, "IDC_MODE_MONITOR")->click();
    // The step says so before it writes its first command and waits for the reply.
    QTRY_COMPARE_WITH_TIMEOUT(QString::fromLatin1(GetStatus().text),
                              QString::fromLatin1(kStatusMonitor), kWait);
    QTest::qWait(100);
    QElapsedTimer timer;
    timer.start();
    m_dlg->findChild<QAction*>(QStringLiteral("ID_FILE_QUIT"))->trigger();
    QVERIFY(!IsEngineRunning());
    QVERIFY(!m_dlg->isVisible());
    // A read waiting on the module is cut short by the stop: far below any time-out.
    QVERIFY2(timer.elapsed() < 4 * kQuitGraceMs, qPrintable(QString::number(timer.elapsed())));
}

void DevToolDlgTest::viewMenuShowsQuantizationReport() {
    m_dlg = Open();
    QStringList menus;
    for (QAction* a : m_dlg->findChild<QMenuBar*>()->actions()) menus << a->text();
    QCOMPARE(menus, (QStringList{"&File", "&View", "&Help"}));
    {
        std::lock_guard lock(EngineTestPeer::State(*TestEngine()).hMutex);
        EngineTestPeer::State(*TestEngine()).lFileWeights = SampleWeights();
        EngineTestPeer::State(*TestEngine()).sModuleWeights = DeriveModuleWeights(SampleWeights());
    }
    std::ostringstream expected;
    WriteQuantizationReport(expected, RandomQuantizationReport(SampleWeights(), 10000, 1));

    m_seams.saveAnswer = m_dir.filePath(QStringLiteral("report.txt"));
    QString shown;
    bool readOnly = false;
    int scrollRange = -1;
    QTimer::singleShot(0, [&] {
        auto* report = qobject_cast<CQuantizationDlg*>(QApplication::activeModalWidget());
        if (!report) return;
        auto* text = report->findChild<QPlainTextEdit*>(QStringLiteral("IDC_REPORT"));
        shown = text->toPlainText();
        readOnly = text->isReadOnly() && text->font().fixedPitch();
        // Nothing to scroll sideways; where the screen is wide enough, no line wraps.
        scrollRange = text->horizontalScrollBar()->maximum();
        const bool roomy = report->width() < report->screen()->availableGeometry().width();
        if (roomy && text->document()->lineCount() != text->document()->blockCount()) {
            scrollRange = -2;
        }
        report->findChild<QPushButton*>(QStringLiteral("IDC_REPORT_SAVE"))->click();
        report->accept();
    });
    m_dlg->findChild<QAction*>(QStringLiteral("ID_VIEW_QUANTIZATION"))->trigger();
    QCOMPARE(shown.toStdString(), expected.str());
    QVERIFY(readOnly);
    QCOMPARE(scrollRange, 0);
    QFile saved(m_seams.saveAnswer);
    QVERIFY(saved.open(QIODevice::ReadOnly));
    QCOMPARE(saved.readAll(), QByteArray::fromStdString(expected.str()).replace("\n", "\r\n"));
    QVERIFY(m_seams.messages.isEmpty());
}

void DevToolDlgTest::windowNamesItsState() {
    QFile::remove(QStringLiteral("train004.txt"));
    m_dlg = Open();
    auto* info = m_dlg->findChild<QLabel*>(QStringLiteral("info"));
    QVERIFY(info);
    QCOMPARE(m_dlg->windowTitle(), QStringLiteral("Pelkora Development Tool"));
    QCOMPARE(CDevToolDlgTestPeer::InfoText(*m_dlg),
             QString());  // the window starts as it always has

    // Compare with host before any net: it says what it needs.
    m_dlg->findChild<QAction*>(QStringLiteral("ID_VIEW_COMPARE_HOST"))->setChecked(true);
    QCOMPARE(CDevToolDlgTestPeer::InfoText(*m_dlg),
             QStringLiteral("Compare with host needs a net file"));
    m_seams.openAnswer = WriteFile(m_dir, "named.txt", NetFileText(SampleWeights()));
    m_dlg->findChild<QAction*>(QStringLiteral("ID_FILE_LOAD_ASCII"))->trigger();
    QCOMPARE(m_dlg->windowTitle(), QStringLiteral("named.txt - Pelkora Development Tool"));
    QCOMPARE(CDevToolDlgTestPeer::InfoText(*m_dlg), QStringLiteral("Compare: no pass judged yet"));
    m_dlg->findChild<QAction*>(QStringLiteral("ID_VIEW_COMPARE_HOST"))->setChecked(false);
    QCOMPARE(CDevToolDlgTestPeer::InfoText(*m_dlg), QString());

    m_dlg->ShowWeightsSource(QStringLiteral("trained"), true);
    QCOMPARE(m_dlg->windowTitle(),
             QStringLiteral("trained (trained, not saved) - Pelkora Development Tool"));
    m_dlg->ShowWeightsSource(QString(), false);
    QCOMPARE(m_dlg->windowTitle(), QStringLiteral("Pelkora Development Tool"));

    // A store says where the row went; a second click on the same set says so.
    CDevToolDlgTestPeer::TrainingPanel(*m_dlg).SetFileNumber(4);
    QTest::mouseClick(Control<QCheckBox>(*m_dlg, "IDC_TRAINING_MODE"), Qt::LeftButton);
    auto* store = Control<QPushButton>(*m_dlg, "IDC_STORE_TRAINING_SET");
    QTest::mouseClick(store, Qt::LeftButton);
    QCOMPARE(CDevToolDlgTestPeer::InfoText(*m_dlg), QStringLiteral("Stored row 1 in train004.txt"));
    QVERIFY(info->toolTip().endsWith(QStringLiteral("Folder: ") + QDir::currentPath()));
    QVERIFY(!info->text().isEmpty());
    QTest::mouseClick(store, Qt::LeftButton);
    QCOMPARE(CDevToolDlgTestPeer::InfoText(*m_dlg),
             QStringLiteral("Stored row 2 in train004.txt (the same values as row "
                            "1: a double click?)"));
    In(*m_dlg, 1)->setValue(9);
    QTest::qWait(QApplication::doubleClickInterval() + 50);
    QTest::mouseClick(store, Qt::LeftButton);
    QCOMPARE(CDevToolDlgTestPeer::InfoText(*m_dlg), QStringLiteral("Stored row 3 in train004.txt"));
}

void DevToolDlgTest::enterInAnOpenPortListOnlyChoosesIt() {
    m_dlg = Open();
    auto* combo = Control<QComboBox>(*m_dlg, "IDC_COM_PORT");
    combo->setFocus();
    combo->showPopup();
    QTRY_VERIFY(combo->view()->isVisible());
    QTest::keyClick(combo->view(), Qt::Key_Down);
    QTest::keyClick(combo->view(), Qt::Key_Return);
    QTRY_VERIFY(!combo->view()->isVisible());
    QTest::qWait(50);
    QVERIFY(m_dlg->isVisible());
    QVERIFY(IsEngineRunning());
    QCOMPARE(combo->currentIndex(), 1);
    std::lock_guard lock(EngineTestPeer::State(*TestEngine()).hMutex);
    QCOMPARE(EngineTestPeer::State(*TestEngine()).nComPort, 1);
}

void DevToolDlgTest::statusTooltipSaysDeviceAndCause() {
    m_dlg = Open();
    auto* combo = Control<QComboBox>(*m_dlg, "IDC_COM_PORT");
    QTest::keyClick(combo, Qt::Key_Down);  // COM2: no such device
    Control<QRadioButton>(*m_dlg, "IDC_MODE_MONITOR")->click();
    QTRY_COMPARE_WITH_TIMEOUT(Status(*m_dlg), QStringLiteral("Error opening COM2 port (1-2)"),
                              kWait);
    auto* status = Control<QLineEdit>(*m_dlg, "IDC_STATUS");
    const QString tip = status->toolTip();
    QVERIFY2(tip.startsWith(QStringLiteral("Error opening COM2 port (1-2)\n")), qPrintable(tip));
    QVERIFY2(tip.contains(QStringLiteral("Port COM2: ") +
                          m_dir.filePath(QStringLiteral("no-such-port"))),
             qPrintable(tip));
    QVERIFY2(tip.contains(QStringLiteral("Cause: no such device")), qPrintable(tip));
    QVERIFY2(tip.contains(QStringLiteral("Values not current")), qPrintable(tip));
    // The values shown are marked as not current.
    QVERIFY(Control<CTrackBar>(*m_dlg, "IDC_SLIDER_OUT1")->Stale());
    Control<QRadioButton>(*m_dlg, "IDC_MODE_HOLD")->click();
    QTRY_VERIFY_WITH_TIMEOUT(!Control<CTrackBar>(*m_dlg, "IDC_SLIDER_OUT1")->Stale(), kWait);
}

void DevToolDlgTest::everyMenuEntryHasAMnemonic() {
    m_dlg = Open();
    QList<QMenu*> menus;
    for (QAction* top : m_dlg->findChild<QMenuBar*>()->actions()) menus << top->menu();
    while (!menus.isEmpty()) {
        QMenu* menu = menus.takeFirst();
        QVERIFY2(menu->title().contains(QLatin1Char('&')), qPrintable(menu->title()));
        QSet<QChar> keys;
        for (QAction* action : menu->actions()) {
            if (action->isSeparator()) continue;
            if (action->menu()) menus << action->menu();
            const QString text = action->text();
            const qsizetype at = text.indexOf(QLatin1Char('&'));
            QVERIFY2(at >= 0 && at + 1 < text.size(), qPrintable(text));
            // One key, one entry.
            const QChar key = text[at + 1].toLower();
            QVERIFY2(!keys.contains(key), qPrintable(text));
            keys.insert(key);
        }
    }
}

QTEST_MAIN(DevToolDlgTest)
#include "dev_tool_dlg_test.moc"
