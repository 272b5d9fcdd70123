#include <csignal>

#include "ui/dev_tool_app.h"

int main(int argc, char** argv) {
#ifndef _WIN32
    // A reader that goes away (a recording into a pipe) is a write error with its
    // message, not the end of the program.
    std::signal(SIGPIPE, SIG_IGN);
#endif
    CDevToolApp app(argc, argv);
    return app.InitInstance();
}
