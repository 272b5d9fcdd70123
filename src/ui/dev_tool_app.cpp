#include "ui/dev_tool_app.h"

#include "engine/engine.h"
#include "ui/app_icon.h"
#include "ui/dev_tool_dlg.h"

CDevToolApp::CDevToolApp(int& argc, char** argv) : QApplication(argc, argv) {
    // No application name is set: Qt then takes the executable's file name, which is
    // the caption of every message box.
    setApplicationVersion(QStringLiteral(PELKORA_VERSION));
    setWindowIcon(PelkoraIcon());
    // Lets desktops match the window to the installed pelkora.desktop entry.
    setDesktopFileName(QStringLiteral("pelkora"));
}

int CDevToolApp::InitInstance() {
    // COM1 and COM2 are the devices the environment names (PELKORA_COM1/2).
    Engine engine;
    CDevToolDlg dialog(engine);
    dialog.exec();
    return 0;
}
