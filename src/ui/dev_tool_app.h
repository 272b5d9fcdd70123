#pragma once
// The application object: runs the main window modally and ends when it ends.
// Main thread only.

#include <QApplication>

class CDevToolApp : public QApplication {
    Q_OBJECT
public:
    CDevToolApp(int& argc, char** argv);

    // Runs the main window until it is ended; returns the process exit code.
    [[nodiscard]] int InitInstance();
};
