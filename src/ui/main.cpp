#include "ui/dev_tool_app.h"

int main(int argc, char** argv) {
    CDevToolApp app(argc, argv);
    return app.InitInstance();
}
