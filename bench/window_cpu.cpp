// The window's CPU cost: process CPU time (every thread, user and system) over a
// stretch of seconds while the real window runs on the display Qt is given (run it
// under Xvfb), in a mode, with or without "Compare with host".
//
// Usage: window_cpu [--compare] [--chart] [--mode monitor|sim-int|sim-float|hold] [SECONDS]
// COM1 is what PELKORA_COM1 names (e.g. `pelkora-cli target --link /tmp/x`); the
// demo network is loaded first, so the comparison has weights to compare with.

#include <sys/resource.h>

#include <QAction>
#include <QApplication>
#include <QEventLoop>
#include <QRadioButton>
#include <QTimer>
#include <cstdio>
#include <cstring>
#include <string>

#include "engine/engine.h"
#include "load_seams.h"
#include "ui/dev_tool_dlg.h"
#include "ui/dialog_seams.h"

namespace {

// Runs the event loop for `ms` without waking up in between (QTest::qWait polls,
// which would count against the window).
void RunFor(int ms) {
    QEventLoop loop;
    QTimer::singleShot(ms, &loop, &QEventLoop::quit);
    loop.exec();
}

double CpuSeconds() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return double(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
           double(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

}  // namespace

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    bool compare = false;
    bool chart = false;
    std::string mode = "monitor";
    int seconds = 20;
    for (int n = 1; n < argc; ++n) {
        if (std::strcmp(argv[n], "--compare") == 0) {
            compare = true;
        } else if (std::strcmp(argv[n], "--chart") == 0) {
            chart = true;
        } else if (std::strcmp(argv[n], "--mode") == 0 && n + 1 < argc) {
            mode = argv[++n];
        } else {
            seconds = std::max(1, std::atoi(argv[n]));
        }
    }
    const char* radio = mode == "monitor"     ? "IDC_MODE_MONITOR"
                        : mode == "sim-int"   ? "IDC_MODE_SIM_INT"
                        : mode == "sim-float" ? "IDC_MODE_SIM_FLOAT"
                                              : "IDC_MODE_HOLD";

    Engine engine;
    LoadSeams seams("window_cpu", QStringLiteral(PELKORA_SOURCE_DIR "/examples/demo-net.txt"));
    CDevToolDlg dlg(engine, seams);
    dlg.show();
    dlg.findChild<QAction*>(QStringLiteral("ID_FILE_LOAD_ASCII"))->trigger();
    dlg.findChild<QAction*>(QStringLiteral("ID_VIEW_COMPARE_HOST"))->setChecked(compare);
    dlg.findChild<QRadioButton*>(QString::fromLatin1(radio))->click();
    if (chart) dlg.findChild<QAction*>(QStringLiteral("ID_VIEW_CHART"))->trigger();
    RunFor(3000);  // the mode has settled

    const double start = CpuSeconds();
    RunFor(seconds * 1000);
    const double used = CpuSeconds() - start;
    std::printf("%s, compare %s, chart %s: %.2f%% of a core over %d s\n", mode.c_str(),
                compare ? "on" : "off", chart ? "open" : "closed", 100.0 * used / seconds, seconds);
    return 0;
}
