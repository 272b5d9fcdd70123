// Response of the window: the time from an operator's move of an input slider in
// Simulator (integer) to the first repaint of an output slider that shows the
// engine's answer to it. Runs the real window and worker on the offscreen
// platform (or on whatever display QT_QPA_PLATFORM names) and prints p50, p95 and
// the maximum over a few hundred moves.
//
// Usage: window_latency [MOVES]   (default 200)

#include <QApplication>
#include <QElapsedTimer>
#include <QEvent>
#include <QRadioButton>
#include <QSlider>
#include <QTest>
#include <algorithm>
#include <cstdio>
#include <fstream>
#include <random>
#include <vector>

#include "engine/engine.h"
#include "load_seams.h"
#include "network/evaluators.h"
#include "ui/dev_tool_dlg.h"
#include "ui/dialog_seams.h"

namespace {

// Notes when its slider paints while showing the awaited value.
class PaintWatch final : public QObject {
public:
    QSlider* slider = nullptr;
    int awaited = -1;
    bool seen = false;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (watched == slider && event->type() == QEvent::Paint && slider->value() == awaited) {
            seen = true;
        }
        return false;
    }
};

double Percentile(std::vector<double> values, double p) {
    std::sort(values.begin(), values.end());
    const std::size_t at = std::min(values.size() - 1, std::size_t(p * double(values.size())));
    return values[at];
}

}  // namespace

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    const int moves = argc > 1 ? std::max(1, std::atoi(argv[1])) : 200;

    // The demo network: output 8 mirrors input 1.
    const QString net = QStringLiteral(PELKORA_SOURCE_DIR "/examples/demo-net.txt");
    FileWeights weights{};
    {
        std::ifstream file(net.toStdString());
        for (std::int32_t& w : weights) file >> w;
        if (!file) {
            std::fprintf(stderr, "window_latency: cannot read %s\n", qPrintable(net));
            return 1;
        }
    }
    const ModuleWeights module = DeriveModuleWeights(weights);

    Engine engine;
    LoadSeams seams("window_latency", net);
    CDevToolDlg dlg(engine, seams);
    dlg.show();
    dlg.findChild<QAction*>(QStringLiteral("ID_FILE_LOAD_ASCII"))->trigger();
    dlg.findChild<QRadioButton*>(QStringLiteral("IDC_MODE_SIM_INT"))->click();
    auto* in1 = dlg.findChild<QSlider*>(QStringLiteral("IDC_SLIDER_IN1"));
    PaintWatch watch;
    watch.slider = dlg.findChild<QSlider*>(QStringLiteral("IDC_SLIDER_OUT8"));
    watch.slider->installEventFilter(&watch);
    QTest::qWait(500);

    std::mt19937 random(1);
    std::vector<double> latencies;
    int value = 0;
    for (int n = 0; n < moves; ++n) {
        // A new input whose output differs from the one shown.
        NetInputs inputs{};
        int awaited = watch.slider->value();
        for (int tries = 0; tries < 64 && awaited == watch.slider->value(); ++tries) {
            value = int(random() % 256);
            inputs[0] = std::uint16_t(value);
            awaited = std::min<int>(255, EvaluateInt(inputs, module)[7]);
        }
        if (awaited == watch.slider->value()) continue;
        watch.awaited = awaited;
        watch.seen = false;
        // Some time after the last pass, as a person's moves come.
        QTest::qWait(int(random() % 50));
        QElapsedTimer timer;
        timer.start();
        in1->setValue(value);
        while (!watch.seen && timer.elapsed() < 2000) {
            QCoreApplication::processEvents(QEventLoop::AllEvents, 1);
        }
        if (watch.seen) latencies.push_back(double(timer.nsecsElapsed()) / 1e6);
    }
    if (latencies.empty()) {
        std::fprintf(stderr, "window_latency: no repaint seen\n");
        return 1;
    }
    std::printf(
        "input move -> output repaint, Simulator (integer), %zu moves: p50 %.1f ms, "
        "p95 %.1f ms, max %.1f ms\n",
        latencies.size(), Percentile(latencies, 0.5), Percentile(latencies, 0.95),
        *std::max_element(latencies.begin(), latencies.end()));
    return 0;
}
