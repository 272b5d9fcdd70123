#include "ui/dev_tool_app.h"

#include <cstdio>
#include <string>

#include "engine/engine.h"
#include "ui/app_icon.h"
#include "ui/dev_tool_dlg.h"
#include "ui/dialog_seams.h"

CDevToolApp::CDevToolApp(int& argc, char** argv) : QApplication(argc, argv) {
    // No application name is set: Qt then takes the executable's file name, which is
    // the caption of every message box.
    setApplicationVersion(QStringLiteral(PELKORA_VERSION));
    setWindowIcon(PelkoraIcon());
    // Lets desktops match the window to the installed pelkora.desktop entry.
    setDesktopFileName(QStringLiteral("pelkora"));
}

int CDevToolApp::InitInstance() {
    // COM1 and COM2 are the devices the environment names (PELKORA_COM1/2): a name
    // that is no port is a usage error, said before any window opens.
    if (const std::string problem = PortMap::EnvironmentProblem(); !problem.empty()) {
        std::fprintf(stderr, "pelkora: %s\n", problem.c_str());
        RealDialogSeams().ShowMessage(nullptr, QString::fromStdString(problem));
        return 2;
    }
    Engine engine;
    CDevToolDlg dialog(engine);
    dialog.exec();
    return 0;
}
